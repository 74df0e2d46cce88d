// The g729a tool's readers over any bytes: the .g729 and .bit readers, the
// audio reader on whatever libsndfile recognises (WAV, AIFF, FLAC, ...) or
// on headerless raw samples, and the packet capture reader with what it
// unwraps (link layers, IP, UDP, RTP, SDP) and the RTP stream rebuilt from
// it.
//
// Input: one selector byte, then the file's contents.
//   selector % 6 == 0  read_g729
//   selector % 6 == 1  read_bit
//   selector % 6 == 2  audio_source as a libsndfile file (any header)
//   selector % 6 == 3  audio_source as raw 16-bit samples
//   selector % 6 == 4  capture_reader (.pcap / .pcapng through libpcap)
//   selector % 6 == 5  one packet: link type (next byte), unwrapped, its
//                      payload read as RTP and as SDP
//
// The coded readers must account for every byte: the frames read, written
// back in the same format, give the input up to the fault, and the fault
// sits where they end. A .bit stream that .g729 can hold must survive the
// conversion. The audio and capture readers may refuse a file, but only
// with their error; every unwrapped payload lies inside its packet.
#include <sys/mman.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "tests/tools/formats/coded_frames.h"
#include "tools/capture/capture_reader.h"
#include "tools/capture/packets.h"
#include "tools/capture/rtp_stream.h"
#include "tools/capture/sdp.h"
#include "tools/common/tool_error.h"
#include "tools/formats/audio_source.h"
#include "tools/formats/coded_stream.h"

namespace {

using namespace g729::tool;
using g729::tool::testing::count_frames;
using g729::tool::testing::first_unstorable_in_g729;

constexpr size_t kMaxSamples = size_t(1) << 20; // read no further than this

size_t end_of(const coded_stream& s, size_t size) { return s.fault ? s.fault->byte_offset : size; }

void check_counts(const coded_stream& s) {
    const stream_counts c = count_frames(s.frames);
    FUZZ_CHECK(c.frames == s.frames.size());
    FUZZ_CHECK(c.speech + c.sid + c.untransmitted == c.frames);
    FUZZ_CHECK(c.parity_errors <= c.speech && c.bad <= c.frames);
    if (s.fault) FUZZ_CHECK(s.fault->frame == s.frames.size() && !s.fault->problem.empty());
}

void check_g729(const uint8_t* data, size_t size) {
    const coded_stream s = read_g729(data, size);
    check_counts(s);
    std::vector<uint8_t> back;
    for (size_t i = 0; i < s.frames.size(); ++i) {
        FUZZ_CHECK(s.frames[i].kind == frame_kind::speech || (s.frames[i].kind == frame_kind::sid && i + 1 == s.frames.size()));
        append_g729_frame(back, s.frames[i]);
    }
    FUZZ_CHECK(back.size() == end_of(s, size));
    FUZZ_CHECK(back.empty() || std::memcmp(back.data(), data, back.size()) == 0);
    if (s.fault) {
        const size_t rest = size - s.fault->byte_offset;
        FUZZ_CHECK(rest == 1 || (rest >= 3 && rest <= 9));
    }
    FUZZ_CHECK(!first_unstorable_in_g729(s.frames));
}

void check_bit(const uint8_t* data, size_t size) {
    const coded_stream s = read_bit(data, size);
    check_counts(s);
    std::vector<uint8_t> back;
    for (const coded_frame& f : s.frames) append_bit_frame(back, f);
    FUZZ_CHECK(back.size() == end_of(s, size));
    FUZZ_CHECK(back.empty() || std::memcmp(back.data(), data, back.size()) == 0);

    // .bit -> .g729 -> frames: the transmitted frames come back unchanged
    // (a 15-bit SID frame gains its 16th bit, which is zero).
    if (first_unstorable_in_g729(s.frames)) return;
    std::vector<uint8_t> g729;
    std::vector<const coded_frame*> sent;
    for (const coded_frame& f : s.frames) {
        append_g729_frame(g729, f);
        if (f.kind != frame_kind::untransmitted) sent.push_back(&f);
    }
    const coded_stream again = read_g729(g729.data(), g729.size());
    FUZZ_CHECK(!again.fault && again.frames.size() == sent.size());
    for (size_t i = 0; i < sent.size(); ++i) {
        FUZZ_CHECK(again.frames[i].kind == sent[i]->kind);
        FUZZ_CHECK(std::memcmp(again.frames[i].bytes.data(), sent[i]->bytes.data(), size_t(sent[i]->size())) == 0);
    }
}

// The bytes as a file, without touching the disk.
class memory_file {
public:
    memory_file(const uint8_t* data, size_t size) {
        fd_ = memfd_create("tool_readers_fuzz", 0);
        FUZZ_CHECK(fd_ >= 0);
        size_t done = 0;
        while (done < size) {
            const ssize_t n = write(fd_, data + done, size - done);
            FUZZ_CHECK(n > 0);
            done += size_t(n);
        }
    }
    ~memory_file() { close(fd_); }
    std::string path() const { return "/proc/self/fd/" + std::to_string(fd_); }

private:
    int fd_ = -1;
};

void check_audio(const uint8_t* data, size_t size, file_format format) {
    const memory_file file(data, size);
    try {
        audio_source source(operand{file.path()}, format);
        std::vector<int16_t> block(4096);
        size_t total = 0;
        while (total < kMaxSamples) {
            const size_t want = 1 + total % block.size();
            const size_t got = source.read(block.data(), want);
            FUZZ_CHECK(got <= want);
            total += got;
            const double done = source.fraction_done();
            FUZZ_CHECK(!std::isnan(done));
            if (got < want) break;
        }
        FUZZ_CHECK(source.clipped() <= total);
        if (format == file_format::raw) FUZZ_CHECK(total == size / 2 && source.conversion().empty());
    } catch (const tool_error& e) {
        FUZZ_CHECK(e.what()[0] != '\0');
    }
}

bool inside(const uint8_t* p, size_t n, const uint8_t* data, size_t size) {
    return n == 0 || (p >= data && p + n <= data + size);
}

// One packet as the capture commands take it apart; RTP packets are kept
// for the stream.
void check_packet(int link_type, const uint8_t* data, size_t size, int64_t time_ns, std::vector<rtp_packet>& rtp) {
    const ip_payload ip = unwrap_packet(link_type, data, size);
    (void)link_type_name(link_type);
    if (ip.kind != packet_class::udp && ip.kind != packet_class::tcp) return;
    FUZZ_CHECK(inside(ip.data, ip.size, data, size));
    (void)ip.source.text();
    (void)ip.destination.file_text();
    const std::vector<sdp_g729> sdp = read_sdp(reinterpret_cast<const char*>(ip.data), ip.size);
    for (const sdp_g729& m : sdp) (void)m.receiver.text();
    if (ip.kind != packet_class::udp) return;
    rtp_header h;
    const rtp_parse parsed = parse_rtp(ip.data, ip.size, h);
    if (parsed != rtp_parse::ok) return;
    FUZZ_CHECK(h.version == 2 && inside(h.payload, h.payload_size, ip.data, ip.size));
    rtp_packet p;
    p.arrival_ns = time_ns;
    p.sequence = h.sequence;
    p.timestamp = h.timestamp;
    p.audio = h.payload_type == 18;
    p.payload.assign(h.payload, h.payload + h.payload_size);
    rtp.push_back(std::move(p));
}

void check_stream(const std::vector<rtp_packet>& rtp) {
    if (rtp.empty()) return;
    const rebuilt_stream s = rebuild_stream(rtp);
    size_t frames = 0;
    for (const timeline_entry& e : s.timeline) frames += e.frames;
    FUZZ_CHECK(frames == s.stats.frames);
    FUZZ_CHECK(s.stats.packets == rtp.size());
}

void check_capture(const uint8_t* data, size_t size) {
    const memory_file file(data, size);
    try {
        capture_reader reader(file.path());
        captured_packet packet;
        std::vector<rtp_packet> rtp;
        for (int n = 0; n < 10000 && reader.next(packet); ++n) {
            FUZZ_CHECK(packet.captured <= size);
            check_packet(reader.link_type(), packet.data, packet.captured, packet.time_ns, rtp);
        }
        check_stream(rtp);
    } catch (const tool_error& e) {
        FUZZ_CHECK(e.what()[0] != '\0');
    }
}

void check_one_packet(const uint8_t* data, size_t size) {
    if (size == 0) return;
    static const int link_types[] = {1, 113, 276, 101, 12, 14, 0, 108, 228, 229};
    std::vector<rtp_packet> rtp;
    // The packet in a buffer of its own size, so that any read past it shows.
    const std::vector<uint8_t> packet(data + 1, data + size);
    check_packet(link_types[data[0] % 10], packet.data(), packet.size(), 0, rtp);
    check_stream(rtp);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    uint8_t selector = 0;
    if (!g729_fuzz::take_selector(data, size, selector)) return 0;
    switch (selector % 6) {
    case 0: check_g729(data, size); break;
    case 1: check_bit(data, size); break;
    case 2: check_audio(data, size, file_format::wav); break;
    case 3: check_audio(data, size, file_format::raw); break;
    case 4: check_capture(data, size); break;
    default: check_one_packet(data, size); break;
    }
    return 0;
}
