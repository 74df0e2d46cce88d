// Captures built byte by byte for the tool tests: RTP packets over UDP,
// IPv4 or IPv6, framed for the link layers a capture may use, written as
// pcap with libpcap's writer or as pcapng by hand; RTCP reports; SIP
// messages with SDP over UDP or TCP; and the fixture of the capture tests. (fuzz/make_seeds.py and
// docs/make_sample_call.py write theirs with capture_writer.py beside it.)
#pragma once

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <dirent.h>
#include <pcap/pcap.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tests/tools/tool_test_support.h"

namespace g729::tool::capture_writer {

using testing::read_file;
using testing::write_file;

constexpr int64_t kMs = 1000 * 1000;
constexpr int64_t kStart = int64_t(1700000000) * 1000 * kMs; // 2023-11-14 22:13:20 UTC
constexpr int64_t kSecond = 1000 * kMs;

struct address {
    bool v6 = false;
    std::array<uint8_t, 16> bytes{};
    uint16_t port = 0;
};

inline address v4(const char* text, uint16_t port) {
    address a;
    inet_pton(AF_INET, text, a.bytes.data());
    a.port = port;
    return a;
}

inline address v6(const char* text, uint16_t port) {
    address a;
    a.v6 = true;
    inet_pton(AF_INET6, text, a.bytes.data());
    a.port = port;
    return a;
}

inline void put16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(uint8_t(v >> 8));
    out.push_back(uint8_t(v));
}

inline void put32(std::vector<uint8_t>& out, uint32_t v) {
    put16(out, v >> 16);
    put16(out, v & 0xFFFF);
}

inline void put32le(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (8 * i)));
}

// One RTP packet as sent.
struct sent_packet {
    int64_t time_ns = kStart;
    address source, destination;
    int version = 2;
    int payload_type = 18;
    bool marker = false;
    uint16_t sequence = 0;
    uint32_t timestamp = 0;
    uint32_t ssrc = 0x1a2b3c4d;
    int csrcs = 0;
    int extension_words = -1; // -1: no extension
    int padding = 0;
    std::vector<uint8_t> payload;
    uint16_t fragment_bits = 0; // IPv4 flags and offset
};

inline std::vector<uint8_t> rtp_bytes(const sent_packet& p) {
    std::vector<uint8_t> out;
    out.push_back(uint8_t((p.version << 6) | (p.padding ? 0x20 : 0) | (p.extension_words >= 0 ? 0x10 : 0) | p.csrcs));
    out.push_back(uint8_t((p.marker ? 0x80 : 0) | p.payload_type));
    put16(out, p.sequence);
    put32(out, p.timestamp);
    put32(out, p.ssrc);
    for (int i = 0; i < p.csrcs; ++i) put32(out, 0xC0000000u + uint32_t(i));
    if (p.extension_words >= 0) {
        put16(out, 0xBEDE);
        put16(out, uint32_t(p.extension_words));
        for (int i = 0; i < p.extension_words; ++i) put32(out, 0x11223344);
    }
    out.insert(out.end(), p.payload.begin(), p.payload.end());
    for (int i = 1; i <= p.padding; ++i) out.push_back(i == p.padding ? uint8_t(p.padding) : 0);
    return out;
}

inline std::vector<uint8_t> ip_udp(const address& src, const address& dst, const std::vector<uint8_t>& data, uint16_t fragment_bits = 0) {
    std::vector<uint8_t> udp;
    put16(udp, src.port);
    put16(udp, dst.port);
    put16(udp, uint32_t(8 + data.size()));
    put16(udp, 0);
    udp.insert(udp.end(), data.begin(), data.end());
    std::vector<uint8_t> ip;
    if (!src.v6) {
        ip = {0x45, 0};
        put16(ip, uint32_t(20 + udp.size()));
        put16(ip, 0x1234);
        put16(ip, fragment_bits);
        ip.insert(ip.end(), {64, 17, 0, 0});
        ip.insert(ip.end(), src.bytes.begin(), src.bytes.begin() + 4);
        ip.insert(ip.end(), dst.bytes.begin(), dst.bytes.begin() + 4);
    } else {
        ip = {0x60, 0, 0, 0};
        put16(ip, uint32_t(udp.size()));
        ip.insert(ip.end(), {17, 64});
        ip.insert(ip.end(), src.bytes.begin(), src.bytes.end());
        ip.insert(ip.end(), dst.bytes.begin(), dst.bytes.end());
    }
    ip.insert(ip.end(), udp.begin(), udp.end());
    return ip;
}

// TCP header flags.
constexpr uint8_t kTcpFin = 0x01;
constexpr uint8_t kTcpSyn = 0x02;
constexpr uint8_t kTcpRst = 0x04;
constexpr uint8_t kTcpPush = 0x08;
constexpr uint8_t kTcpAck = 0x10;

// A TCP segment (no options) carrying `data` from sequence number
// `sequence`, with `flags` (ACK and PSH by default), in IPv4 or IPv6.
inline std::vector<uint8_t> ip_tcp(const address& src, const address& dst, const std::vector<uint8_t>& data, uint32_t sequence = 1,
                                   uint8_t flags = kTcpAck | kTcpPush) {
    std::vector<uint8_t> tcp;
    put16(tcp, src.port);
    put16(tcp, dst.port);
    put32(tcp, sequence);
    put32(tcp, 1);
    tcp.insert(tcp.end(), {5 << 4, flags});
    put16(tcp, 65535);
    put32(tcp, 0); // checksum, urgent pointer
    tcp.insert(tcp.end(), data.begin(), data.end());
    // The UDP datagram's IP header around it, the protocol made TCP.
    std::vector<uint8_t> ip = ip_udp(src, dst, {});
    const std::size_t header = src.v6 ? 40 : 20;
    ip.resize(header);
    if (!src.v6) {
        ip[2] = uint8_t((header + tcp.size()) >> 8), ip[3] = uint8_t(header + tcp.size());
        ip[9] = 6;
    } else {
        ip[4] = uint8_t(tcp.size() >> 8), ip[5] = uint8_t(tcp.size());
        ip[6] = 6;
    }
    ip.insert(ip.end(), tcp.begin(), tcp.end());
    return ip;
}

// An SDP body: audio received at `at` (address and port), with these
// payload types (G.729, PCMU, PCMA and telephone events named by rtpmap).
inline std::string sdp_body(const address& at, const std::vector<int>& payload_types = {18, 101}, int ptime = 20,
                            const std::string& direction = "sendrecv") {
    char text[64];
    inet_ntop(at.v6 ? AF_INET6 : AF_INET, at.bytes.data(), text, sizeof text);
    const std::string host = text;
    const std::string family = at.v6 ? "IP6" : "IP4";
    std::string s = "v=0\r\no=- 1 1 IN " + family + " " + host + "\r\ns=-\r\nc=IN " + family + " " + host + "\r\nt=0 0\r\nm=audio " +
                    std::to_string(at.port) + " RTP/AVP";
    for (int pt : payload_types) s += " " + std::to_string(pt);
    s += "\r\n";
    const std::map<int, std::string> names = {{0, "PCMU/8000"}, {8, "PCMA/8000"}, {18, "G729/8000"}, {101, "telephone-event/8000"}};
    for (int pt : payload_types)
        if (names.count(pt)) s += "a=rtpmap:" + std::to_string(pt) + " " + names.at(pt) + "\r\n";
    if (ptime > 0) s += "a=ptime:" + std::to_string(ptime) + "\r\n";
    return s + "a=" + direction + "\r\n";
}

// A SIP message: its first line ("INVITE sip:bob@b SIP/2.0", "SIP/2.0 180
// Ringing"), Via, From, To, Call-ID (none when empty), CSeq ("1 INVITE"),
// `extra` header lines, Content-Type when there is a body, Content-Length
// and the body.
inline std::string sip_message(const std::string& first_line, const std::string& call_id, const std::string& from,
                               const std::string& to, const std::string& cseq, const std::string& body = "",
                               const std::vector<std::string>& extra = {}) {
    std::string m = first_line + "\r\nVia: SIP/2.0/UDP 10.0.0.1:5060;branch=z9hG4bK" + cseq.substr(0, cseq.find(' ')) +
                    "\r\nMax-Forwards: 70\r\nFrom: " + from + "\r\nTo: " + to + "\r\n";
    if (!call_id.empty()) m += "Call-ID: " + call_id + "\r\n";
    m += "CSeq: " + cseq + "\r\n";
    for (const std::string& line : extra) m += line + "\r\n";
    if (!body.empty()) m += "Content-Type: application/sdp\r\n";
    return m + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

inline std::vector<uint8_t> bytes_of(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

enum class link { ethernet, vlan, cooked, cooked2, raw, loopback };

inline int dlt_of(link l) {
    switch (l) {
    case link::ethernet:
    case link::vlan: return DLT_EN10MB;
    case link::cooked: return DLT_LINUX_SLL;
    case link::cooked2: return DLT_LINUX_SLL2;
    case link::raw: return DLT_RAW;
    case link::loopback: return DLT_NULL;
    }
    return -1;
}

// An IP packet framed for the link layer.
inline std::vector<uint8_t> framed(link l, const std::vector<uint8_t>& ip) {
    const uint16_t type = (ip[0] >> 4) == 6 ? 0x86DD : 0x0800;
    std::vector<uint8_t> f;
    const std::vector<uint8_t> mac = {0x02, 0, 0, 0, 0, 0x01};
    switch (l) {
    case link::ethernet:
    case link::vlan:
        f.insert(f.end(), mac.begin(), mac.end());
        f.insert(f.end(), mac.begin(), mac.end());
        if (l == link::vlan) {
            // 802.1ad outer tag, 802.1Q inner tag.
            put16(f, 0x88A8);
            put16(f, 100);
            put16(f, 0x8100);
            put16(f, 200);
        }
        put16(f, type);
        f.insert(f.end(), ip.begin(), ip.end());
        if (f.size() < 60) f.resize(60, 0); // Ethernet pads short frames
        return f;
    case link::cooked:
        put16(f, 0);
        put16(f, 1);
        put16(f, 6);
        f.insert(f.end(), mac.begin(), mac.end());
        f.insert(f.end(), {0, 0});
        put16(f, type);
        break;
    case link::cooked2:
        put16(f, type);
        put16(f, 0);
        put32(f, 3);
        put16(f, 1);
        f.insert(f.end(), {0, 6});
        f.insert(f.end(), mac.begin(), mac.end());
        f.insert(f.end(), {0, 0});
        break;
    case link::raw: break;
    case link::loopback: put32le(f, type == 0x0800 ? 2 : 30); break;
    }
    f.insert(f.end(), ip.begin(), ip.end());
    return f;
}

struct frame_record {
    int64_t time_ns = 0;
    std::vector<uint8_t> bytes;
    std::size_t captured = 0; // 0: all of it
    uint64_t pcapng_micros = 0; // pcapng: the timestamp written instead of time_ns, when not 0
};

inline frame_record rtp_frame(link l, const sent_packet& p) {
    return {p.time_ns, framed(l, ip_udp(p.source, p.destination, rtp_bytes(p), p.fragment_bits)), 0};
}

// SIP (one message or more) in a UDP datagram, or in a TCP segment.
inline frame_record sip_udp_frame(int64_t time_ns, const address& src, const address& dst, const std::string& text) {
    return {time_ns, framed(link::ethernet, ip_udp(src, dst, bytes_of(text))), 0};
}
inline frame_record sip_tcp_frame(int64_t time_ns, const address& src, const address& dst, const std::string& text,
                                  uint32_t sequence = 1, uint8_t flags = kTcpAck | kTcpPush) {
    return {time_ns, framed(link::ethernet, ip_tcp(src, dst, bytes_of(text), sequence, flags)), 0};
}

// One direction of a TCP connection as it was captured: each segment sent
// with the sequence number of its first byte, which the next one follows.
struct tcp_sender {
    address from, to;
    uint32_t next = 1; // the sequence number of the next byte sent

    // A segment of `text`, after what was sent before.
    frame_record send(int64_t time_ns, const std::string& text, uint8_t flags = kTcpAck | kTcpPush) {
        const frame_record f = sip_tcp_frame(time_ns, from, to, text, next, flags);
        next += uint32_t(text.size()) + ((flags & (kTcpSyn | kTcpFin)) ? 1 : 0);
        return f;
    }
    // `text` sent again from `sequence` (a retransmission, the same bytes
    // or part of them with more).
    frame_record again(int64_t time_ns, const std::string& text, uint32_t sequence) const {
        return sip_tcp_frame(time_ns, from, to, text, sequence);
    }
    // A segment of `text` sent, but missing from the capture.
    void lose(const std::string& text) { next += uint32_t(text.size()); }
};

inline void write_pcap(const std::string& path, int dlt, const std::vector<frame_record>& frames) {
    pcap_t* dead = pcap_open_dead(dlt, 65535);
    ASSERT_NE(dead, nullptr);
    pcap_dumper_t* dumper = pcap_dump_open(dead, path.c_str());
    ASSERT_NE(dumper, nullptr) << pcap_geterr(dead);
    for (const frame_record& f : frames) {
        pcap_pkthdr h{};
        h.ts.tv_sec = time_t(f.time_ns / 1000000000);
        h.ts.tv_usec = suseconds_t(f.time_ns % 1000000000 / 1000);
        h.len = bpf_u_int32(f.bytes.size());
        h.caplen = bpf_u_int32(f.captured ? f.captured : f.bytes.size());
        pcap_dump(reinterpret_cast<u_char*>(dumper), &h, f.bytes.data());
    }
    pcap_dump_close(dumper);
    pcap_close(dead);
}

// libpcap reads pcapng but does not write it: a section header, one
// interface (microsecond timestamps by default) and enhanced packet blocks.
inline void write_pcapng(const std::string& path, int linktype, const std::vector<frame_record>& frames) {
    std::vector<uint8_t> out;
    auto block = [&out](uint32_t type, const std::vector<uint8_t>& body) {
        const uint32_t total = uint32_t(12 + body.size());
        put32le(out, type);
        put32le(out, total);
        out.insert(out.end(), body.begin(), body.end());
        put32le(out, total);
    };
    std::vector<uint8_t> shb;
    put32le(shb, 0x1A2B3C4D);
    shb.insert(shb.end(), {1, 0, 0, 0});
    shb.insert(shb.end(), 8, 0xFF); // section length unknown
    block(0x0A0D0D0A, shb);
    std::vector<uint8_t> idb = {uint8_t(linktype), uint8_t(linktype >> 8), 0, 0};
    put32le(idb, 65535);
    block(1, idb);
    for (const frame_record& f : frames) {
        const uint64_t micros = f.pcapng_micros ? f.pcapng_micros : uint64_t(f.time_ns / 1000);
        std::vector<uint8_t> epb;
        put32le(epb, 0);
        put32le(epb, uint32_t(micros >> 32));
        put32le(epb, uint32_t(micros));
        put32le(epb, uint32_t(f.bytes.size()));
        put32le(epb, uint32_t(f.bytes.size()));
        epb.insert(epb.end(), f.bytes.begin(), f.bytes.end());
        epb.resize((epb.size() + 3) / 4 * 4, 0);
        block(6, epb);
    }
    write_file(path, out);
}

inline std::vector<std::vector<uint8_t>> coded_frames(const char* name, std::size_t count) {
    const std::vector<uint8_t> g729 = read_file(std::string(G729A_TEST_DATA "/vectors/") + name);
    std::vector<std::vector<uint8_t>> frames;
    for (std::size_t i = 0; i < count && (i + 1) * 10 <= g729.size(); ++i)
        frames.emplace_back(g729.begin() + std::ptrdiff_t(i * 10), g729.begin() + std::ptrdiff_t(i * 10 + 10));
    return frames;
}

// One direction of a call: `frames` (10 bytes speech, 2 bytes SID, empty
// for a frame not sent) in packets of up to `per_packet` frames, a packet
// every per_packet * 10 ms from `start`. A packet never carries frames
// across a gap, and ends at a SID frame.
inline std::vector<sent_packet> send(const std::vector<std::vector<uint8_t>>& frames, int per_packet, const address& from,
                           const address& to, uint32_t ssrc, int64_t start, uint16_t first_sequence) {
    std::vector<sent_packet> packets;
    uint16_t sequence = first_sequence;
    std::size_t i = 0;
    while (i < frames.size()) {
        if (frames[i].empty()) {
            ++i;
            continue;
        }
        sent_packet p;
        p.time_ns = start + int64_t(i) * 10 * kMs;
        p.source = from;
        p.destination = to;
        p.ssrc = ssrc;
        p.sequence = sequence++;
        p.timestamp = 0x10000000u + uint32_t(i) * 80;
        p.marker = i > 0 && frames[i - 1].empty();
        for (int k = 0; k < per_packet && i < frames.size() && !frames[i].empty(); ++k) {
            p.payload.insert(p.payload.end(), frames[i].begin(), frames[i].end());
            const bool sid = frames[i].size() == 2;
            ++i;
            if (sid) break;
        }
        packets.push_back(p);
    }
    return packets;
}

// `count` packets of one frame each from `from` to `to`, `seconds` apart
// by their timestamps and by the capture clock, numbered on from 1.
inline std::vector<sent_packet> sparse_packets(uint32_t count, uint32_t seconds, const address& from, const address& to) {
    const std::vector<std::vector<uint8_t>> frames = coded_frames("speech_male_librivox.g729", count);
    std::vector<sent_packet> packets;
    for (uint32_t i = 0; i < count; ++i) {
        sent_packet p;
        p.time_ns = kStart + int64_t(i) * seconds * kSecond;
        p.source = from;
        p.destination = to;
        p.sequence = uint16_t(1 + i);
        p.timestamp = 1000 + i * seconds * 8000;
        p.payload = frames[i];
        packets.push_back(p);
    }
    return packets;
}

inline std::vector<frame_record> on_link(link l, const std::vector<sent_packet>& packets) {
    std::vector<frame_record> out;
    for (const sent_packet& p : packets) out.push_back(rtp_frame(l, p));
    return out;
}

inline std::vector<frame_record> by_time(std::vector<frame_record> frames) {
    std::stable_sort(frames.begin(), frames.end(),
                     [](const frame_record& a, const frame_record& b) { return a.time_ns < b.time_ns; });
    return frames;
}

// A report block: what a receiver says about `source`.
struct report_block {
    uint32_t source = 0;
    uint8_t fraction = 0;     // lost, in 1/256
    uint32_t cumulative = 0;  // packets lost
    uint32_t highest = 1000;  // extended highest sequence number
    uint32_t jitter = 0;      // in timestamp ticks
    uint32_t lsr = 0;         // middle of the NTP time of the last SR
    uint32_t dlsr = 0;        // since then, in 1/65536 s
};

// What a sender report adds: packets and octets sent, and the moment it was
// sent, its NTP time (what a receiver's LSR then names); zero without one.
struct sender_info {
    uint32_t packets = 0;
    uint32_t octets = 0;
    std::optional<int64_t> sent_ns;
};

// An RTCP report from `reporter`: a sender report (type 200) with `sent`,
// else a receiver report (201); with up to 31 blocks.
inline std::vector<uint8_t> rtcp_report(uint32_t reporter, const std::vector<report_block>& blocks,
                                        const std::optional<sender_info>& sent = std::nullopt) {
    std::vector<uint8_t> out = {uint8_t(0x80 | blocks.size()), uint8_t(sent ? 200 : 201)};
    put16(out, uint32_t(1 + (sent ? 5 : 0) + 6 * blocks.size()));
    put32(out, reporter);
    if (sent) {
        const int64_t ns = sent->sent_ns.value_or(0);
        put32(out, sent->sent_ns ? uint32_t(ns / 1000000000 + 2208988800) : 0);
        put32(out, uint32_t(uint64_t(ns % 1000000000) * 65536 / 1000000000) << 16), put32(out, 0);
        put32(out, sent->packets), put32(out, sent->octets);
    }
    for (const report_block& b : blocks) {
        put32(out, b.source);
        put32(out, uint32_t(b.fraction) << 24 | (b.cumulative & 0xFFFFFF));
        put32(out, b.highest), put32(out, b.jitter), put32(out, b.lsr), put32(out, b.dlsr);
    }
    return out;
}

// A sender report from `ssrc` sent at `sent_ns`, or a receiver report from
// it with one block about `about`.
inline std::vector<uint8_t> rtcp_sr(uint32_t ssrc, uint32_t packets, uint32_t octets, int64_t sent_ns) {
    return rtcp_report(ssrc, {}, sender_info{packets, octets, sent_ns});
}

inline std::vector<uint8_t> rtcp_rr(uint32_t ssrc, uint32_t about, uint8_t fraction, uint32_t cumulative, uint32_t jitter, uint32_t lsr,
                                    uint32_t dlsr) {
    return rtcp_report(ssrc, {{about, fraction, cumulative, 1000, jitter, lsr, dlsr}});
}

// The middle 32 bits of the NTP time of a Unix time, as RTCP carries it.
inline uint32_t ntp_middle32(int64_t unix_ns) {
    const uint64_t seconds = uint64_t(unix_ns / 1000000000) + 2208988800u;
    const uint64_t fraction = uint64_t(unix_ns % 1000000000) * 65536 / 1000000000;
    return uint32_t(seconds << 16 | fraction);
}

// One more packet after the last of `packets`, `seconds` of silence later:
// the next sequence number, its timestamp and arrival moved on as far.
inline void send_after_silence(std::vector<sent_packet>& packets, int seconds) {
    sent_packet after = packets.back();
    after.sequence = uint16_t(after.sequence + 1);
    after.timestamp += uint32_t(seconds) * 8000;
    after.time_ns += seconds * kSecond;
    packets.push_back(after);
}

// An RFC 4733 telephone event as the sender puts it in RTP: the event
// (0-9, 10 '*', 11 '#', 12-15 A-D), the end bit, the volume (0 to 63, -dBm0)
// and the duration so far in timestamp units.
inline std::vector<uint8_t> event_payload(int event, bool end, int volume, uint16_t duration) {
    std::vector<uint8_t> out = {uint8_t(event), uint8_t((end ? 0x80 : 0) | (volume & 0x3F))};
    put16(out, duration);
    return out;
}

// The packets of one key press, in the stream of `like` (its ends and
// SSRC) as payload type `pt`: one every 50 ms from `at` while the key is
// held (the first with the marker bit), then the end packet three times,
// all with the timestamp of the event's start; numbered on from `sequence`.
inline std::vector<sent_packet> key_press(const sent_packet& like, int pt, int event, int volume, int64_t at, uint32_t timestamp,
                                          int duration_ms, uint16_t sequence) {
    std::vector<sent_packet> out;
    auto packet = [&](int64_t time, bool end, int ms) {
        sent_packet p = like;
        p.payload_type = pt;
        p.time_ns = time;
        p.timestamp = timestamp;
        p.sequence = sequence++;
        p.marker = out.empty();
        p.payload = event_payload(event, end, volume, uint16_t(ms * 8));
        out.push_back(p);
    };
    for (int ms = 50; ms < duration_ms; ms += 50) packet(at + ms * kMs, false, ms);
    for (int k = 0; k < 3; ++k) packet(at + (duration_ms + 20 * k) * kMs, true, duration_ms);
    return out;
}

// The fixture of the capture tests: the folders they made are removed.
class CaptureTest : public testing::ToolTest {
protected:
    void TearDown() override {
        // Output directories the tests made.
        for (const std::string& name : files()) {
            struct stat st;
            if (stat(path(name).c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
                const std::string command = "rm -rf '" + path(name) + "'";
                EXPECT_EQ(std::system(command.c_str()), 0);
            }
        }
        testing::ToolTest::TearDown();
    }

    std::vector<int16_t> wav_samples(const std::string& name) { return testing::read_audio(path(name)).samples; }

    // 120 frames of speech from A to B, two a packet, the last packet a
    // speech frame and a SID frame.
    std::vector<std::vector<uint8_t>> talk() {
        std::vector<std::vector<uint8_t>> frames = coded_frames("speech_male_librivox.g729", 121);
        frames.push_back({0xa5, 0xc3});
        return frames;
    }
};

inline const address kA = v4("10.0.0.1", 4000);
inline const address kB = v4("10.0.0.2", 5000);
inline const char* const kAtoB = "10.0.0.1_4000-10.0.0.2_5000_1a2b3c4d.wav";

} // namespace g729::tool::capture_writer
