// Packets as a capture holds them: unwrapped from their link layer through
// IPv4/IPv6 down to the UDP datagram or TCP segment they carry.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

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

// What a TCP segment's header says of its place in the byte stream.
struct tcp_header {
    uint32_t sequence = 0; // of the first byte of the payload (of the SYN itself, when set)
    bool syn = false;
    bool fin = false;
    bool rst = false;
};

struct ip_payload {
    packet_class kind = packet_class::other;
    endpoint source;
    endpoint destination;
    const uint8_t* data = nullptr; // the UDP or TCP payload
    std::size_t size = 0;
    tcp_header tcp;                // a TCP segment's (zero for UDP)
};

// Unwraps one packet of link type `link_type` (a DLT_ value as libpcap
// gives it): Ethernet with any number of 802.1Q/802.1ad tags, Linux cooked
// capture v1 and v2, raw IP, BSD and OpenBSD loopback; IPv4 (options) and
// IPv6 (extension headers); UDP, and TCP for its payload.
ip_payload unwrap_packet(int link_type, const uint8_t* data, std::size_t size);
bool known_link_type(int link_type);

// Link types as files record them, whatever number the local libpcap
// gives the same thing (raw IP is 12 on Linux, 14 on OpenBSD, 101 in files).
constexpr int kLinkNull = 0;
constexpr int kLinkEthernet = 1;
constexpr int kLinkRawLinux = 12;
constexpr int kLinkRawOpenBsd = 14;
constexpr int kLinkRawFile = 101;
constexpr int kLinkLoop = 108;
constexpr int kLinkCooked = 113;
constexpr int kLinkIpv4 = 228;
constexpr int kLinkIpv6 = 229;
constexpr int kLinkCookedV2 = 276;

// Big-endian (network order) fields, and a little-endian one.
inline uint16_t be16(const uint8_t* p) { return uint16_t((p[0] << 8) | p[1]); }
inline uint32_t be32(const uint8_t* p) { return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3]; }
inline uint32_t le32(const uint8_t* p) { return (uint32_t(p[3]) << 24) | (uint32_t(p[2]) << 16) | (uint32_t(p[1]) << 8) | p[0]; }

} // namespace g729::tool
