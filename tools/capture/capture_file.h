// Packet captures as the g729a tool reads them: libpcap hands out the
// packets of a .pcap or .pcapng file; this unwraps each one from its link
// layer through IPv4/IPv6 and UDP down to an RTP header, and reads the SDP
// that SIP messages in the same capture carry.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace g729::tool {

// An IP address (IPv4 in the first 4 bytes) and a UDP port.
struct endpoint {
    bool v6 = false;
    std::array<uint8_t, 16> address{};
    uint16_t port = 0;

    std::string address_text() const; // 10.0.0.1, 2001:db8::1
    std::string text() const;         // 10.0.0.1:4000, [2001:db8::1]:4000
    std::string file_text() const;    // 10.0.0.1_4000, 2001:db8::1_4000
    bool same_address(const endpoint& other) const { return v6 == other.v6 && address == other.address; }
    bool operator<(const endpoint& o) const;
    bool operator==(const endpoint& o) const { return same_address(o) && port == o.port; }
};

// What one captured packet turned out to be.
enum class packet_class {
    udp,          // a whole UDP datagram: source, destination, payload
    tcp,          // a TCP segment (read for SIP only)
    other,        // not IP, or IP carrying something else
    fragment,     // an IP fragment: its UDP datagram cannot be read alone
    truncated,    // shorter than its headers say (cut by the capture's snap length, or broken)
    unknown_link, // a link layer this reader does not know
};

struct ip_payload {
    packet_class kind = packet_class::other;
    endpoint source;
    endpoint destination;
    const uint8_t* data = nullptr; // the UDP or TCP payload
    std::size_t size = 0;
};

// Unwraps one packet of link type `link_type` (a DLT_ value as libpcap
// gives it): Ethernet with any number of 802.1Q/802.1ad tags, Linux cooked
// capture v1 and v2, raw IP, BSD and OpenBSD loopback; IPv4 (options) and
// IPv6 (extension headers); UDP, and TCP for its payload.
ip_payload unwrap_packet(int link_type, const uint8_t* data, std::size_t size);
bool known_link_type(int link_type);
std::string link_type_name(int link_type);

struct rtp_header {
    int version = 0;
    bool marker = false;
    int payload_type = 0;
    uint16_t sequence = 0;
    uint32_t timestamp = 0;
    uint32_t ssrc = 0;
    const uint8_t* payload = nullptr; // after CSRCs and extension, without padding
    std::size_t payload_size = 0;
};

enum class rtp_parse { ok, not_rtp, wrong_version, rtcp, truncated };

// Reads an RTP header: version 2, CSRC list, header extension and padding
// are stepped over. A version other than 2 gives wrong_version (the header
// fields are still read when they fit); an RTCP packet (second byte 200-
// 204) gives rtcp; fewer bytes than the header, CSRCs, extension and
// padding need gives truncated.
rtp_parse parse_rtp(const uint8_t* data, std::size_t size, rtp_header& header);

// G.729 payload types announced in SDP: the address and port each media
// description receives on, with the payload types its a=rtpmap lines map to
// G729 (or G729A/G729B/G729AB) at 8000 Hz.
struct sdp_g729 {
    endpoint receiver;
    std::set<int> payload_types;
};

// Reads every SDP media description in `text` (a SIP message, or a bare
// SDP body); an m=audio line without G.729 in its rtpmap gives nothing.
std::vector<sdp_g729> read_sdp(const char* text, std::size_t size);

// One packet from the capture file, with its capture time.
struct captured_packet {
    uint64_t number = 0;     // from 1, in the file's order
    bool time_known = true;  // false: a time nanoseconds since 1970 cannot hold (before 1677, after 2262)
    int64_t time_ns = 0;     // since the epoch
    const uint8_t* data = nullptr;
    std::size_t captured = 0; // bytes present
    std::size_t length = 0;   // bytes on the wire
};

// A .pcap or .pcapng file opened with libpcap.
class capture_reader {
public:
    // Throws tool_error naming the file (`name`, or `path` when empty) when
    // it cannot be opened or is not a capture.
    explicit capture_reader(const std::string& path, const std::string& name = "");
    ~capture_reader();
    capture_reader(const capture_reader&) = delete;
    capture_reader& operator=(const capture_reader&) = delete;

    // The next packet, or false at the end of the file or at a packet that
    // cannot be read (then problem() says why; the file is cut short or
    // broken there).
    bool next(captured_packet& packet);
    const std::string& problem() const { return problem_; }
    int link_type() const { return link_type_; }
    const char* format() const { return pcapng_ ? "pcapng" : "pcap"; }

private:
    void* pcap_ = nullptr;
    std::string path_;
    std::string problem_;
    int link_type_ = 0;
    bool pcapng_ = false;
    uint64_t number_ = 0;
};

} // namespace g729::tool
