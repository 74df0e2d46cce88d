// The SIP reader over any bytes: packets between a caller and a callee
// (UDP datagrams, or TCP segments put back together into messages, in
// order or not, repeated, missing, wrapping their sequence numbers) read
// into calls through libosip2's parser, then two G.729 streams between
// them grouped into those calls.
//
// Input: records until the bytes run out, each
//   flags byte: bit 0 a TCP segment (else a UDP datagram), bit 1 sent by
//               the callee (else the caller), bit 2 the capture time
//               unknown, bits 3-7 milliseconds after the last packet
//   a TCP segment's byte: bit 0 SYN, bit 1 FIN, bit 2 RST, bit 3 its
//               sequence number follows (four bytes, little-endian), else
//               it follows the last segment of its direction
//   length: two bytes, little-endian; then that many bytes (fewer at the end)
//
// Whatever the bytes, every message put back together from TCP is one
// whole SIP message within the bound held; the calls keep their limits
// (calls, messages, header and SDP lengths), their figures are times that
// follow one another, a stream goes to one call at most, and the text of
// every kept string is safe to print.
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "tools/capture/call.h"
#include "tools/capture/sip_reader.h"
#include "tools/capture/tcp_stream.h"
#include "tools/common/text.h"

namespace {

using namespace g729::tool;

g729::tool::endpoint at(uint8_t host, uint16_t port) {
    g729::tool::endpoint e;
    e.address = {10, 0, 0, host};
    e.port = port;
    return e;
}

void check_text(const std::string& s, std::size_t limit) {
    FUZZ_CHECK(s.size() <= limit);
    for (const char c : printable_text(s)) FUZZ_CHECK(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    g729_fuzz::input_reader in(data, size);
    const g729::tool::endpoint caller = at(1, 5060), callee = at(2, 5060);
    sip_reader reader;
    int64_t time_ns = int64_t(1700000000) * 1000000000;
    uint64_t number = 0;
    uint32_t next[2] = {0x10000000, 0xFFFFFF00}; // the callee's wrap soon
    // Each message from TCP: whole, and no longer than what is held.
    const sip_tcp_streams::message_fn whole = [](const uint8_t* message, size_t length) {
        FUZZ_CHECK(length > 0 && length <= kMaxTcpHeld);
        FUZZ_CHECK(sip_message_length(message, length) == long(length));
    };
    while (!in.empty()) {
        const uint8_t flags = in.byte();
        tcp_header tcp;
        if (flags & 1) {
            const uint8_t bits = in.byte();
            tcp.syn = bits & 1;
            tcp.fin = bits & 2;
            tcp.rst = bits & 4;
            tcp.sequence = next[(flags >> 1) & 1];
            if (bits & 8) {
                tcp.sequence = 0;
                for (int i = 0; i < 4; ++i) tcp.sequence |= uint32_t(in.byte()) << (8 * i);
            }
        }
        const size_t length = in.word();
        size_t taken = 0;
        const uint8_t* bytes = in.bytes(length, &taken);
        // The bytes in a buffer of their own size, so that a read past them shows.
        const std::vector<uint8_t> packet(bytes, bytes + taken);
        time_ns += int64_t(flags >> 3) * 1000000;
        const bool by_callee = flags & 2;
        const g729::tool::endpoint& from = by_callee ? callee : caller;
        const g729::tool::endpoint& to = by_callee ? caller : callee;
        if (flags & 1) {
            reader.read_tcp(++number, !(flags & 4), time_ns, from, to, tcp, packet.data(), packet.size(), whole);
            next[by_callee] = tcp.sequence + uint32_t(taken) + (tcp.syn || tcp.fin ? 1 : 0);
        } else if (looks_like_sip(packet.data(), packet.size())) {
            reader.read(++number, !(flags & 4), time_ns, from, to, packet.data(), packet.size());
        }
    }
    reader.finish();
    std::vector<sip_call> calls = reader.take_calls();
    const sip_counts& counts = reader.counts();
    FUZZ_CHECK(calls.size() <= kMaxCalls);

    // Two streams between the ends that the fuzzer's SDP may name.
    std::vector<g729_stream> streams(2);
    streams[0].key = {at(1, 4000), at(2, 5000), 1};
    streams[1].key = {at(2, 5000), at(1, 4000), 2};
    group_streams(calls, streams);

    std::size_t listed = 0;
    std::set<std::size_t> grouped;
    for (size_t k = 0; k < calls.size(); ++k) {
        const sip_call& c = calls[k];
        if (k > 0) FUZZ_CHECK(calls[k - 1].start_ns <= c.start_ns);
        FUZZ_CHECK(!c.call_id.empty());
        check_text(c.call_id, kMaxSipText);
        check_text(c.caller, kMaxSipText);
        check_text(c.callee, kMaxSipText);
        check_text(c.end, kMaxSipText + 4);
        FUZZ_CHECK(c.messages.size() <= kMaxCallMessages && !c.messages.empty());
        FUZZ_CHECK(c.messages.front().request && c.messages.front().method == "INVITE");
        for (const std::optional<double>& ms : {c.post_dial_delay_ms, c.setup_ms, c.duration_s}) FUZZ_CHECK(!ms || *ms >= 0);
        if (c.failed) FUZZ_CHECK(!c.setup_ms && c.end.rfind("BYE", 0) != 0);
        FUZZ_CHECK(c.offer.size() <= kMaxSdpMedia && c.answer.size() <= kMaxSdpMedia);
        for (const sip_event& e : c.messages) {
            check_text(e.method, kMaxSipText);
            check_text(e.reason, kMaxSipText);
            FUZZ_CHECK(e.request == (e.status == 0));
            FUZZ_CHECK(e.request || (e.status >= 100 && e.status <= 699));
            FUZZ_CHECK(e.sdp.size() <= kMaxSdpBody && e.has_sdp == !e.media.empty());
            FUZZ_CHECK(e.media.size() <= kMaxSdpMedia);
            for (const sdp_media& m : e.media) FUZZ_CHECK(m.codecs.size() <= kMaxSdpCodecs);
        }
        listed += c.messages.size();
        for (std::size_t i : c.streams) {
            FUZZ_CHECK(i < streams.size());
            FUZZ_CHECK(grouped.insert(i).second);
        }
    }
    FUZZ_CHECK(listed <= kMaxSipMessagesKept);
    FUZZ_CHECK(listed + counts.messages_not_listed + counts.without_call_id + counts.outside_calls + counts.calls_not_listed ==
               counts.messages);
    return 0;
}
