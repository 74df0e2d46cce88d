#include "tools/capture/packets.h"

#include <arpa/inet.h>

#include <cstdio>
#include <cstring>

namespace g729::tool {

namespace {

constexpr uint16_t kEtherIpv4 = 0x0800;
constexpr uint16_t kEtherIpv6 = 0x86DD;
constexpr uint16_t kEtherVlan = 0x8100;
constexpr uint16_t kEtherQinQ = 0x88A8;
constexpr uint16_t kEtherQinQOld = 0x9100;
constexpr uint16_t kEtherMinType = 0x0600; // below: an 802.3 length

constexpr int kProtoUdp = 17;
constexpr int kProtoTcp = 6;

ip_payload with_kind(packet_class kind) {
    ip_payload r;
    r.kind = kind;
    return r;
}

// The transport layer, once the IP header has given the addresses.
ip_payload transport(int protocol, endpoint source, endpoint destination, const uint8_t* p, std::size_t size) {
    ip_payload r;
    if (protocol == kProtoUdp) {
        if (size < 8) return with_kind(packet_class::truncated);
        const std::size_t length = be16(p + 4);
        if (length < 8 || length > size) return with_kind(packet_class::truncated);
        r.kind = packet_class::udp;
        r.data = p + 8;
        r.size = length - 8;
    } else if (protocol == kProtoTcp) {
        if (size < 20) return with_kind(packet_class::truncated);
        const std::size_t header = std::size_t(p[12] >> 4) * 4;
        if (header < 20 || header > size) return with_kind(packet_class::truncated);
        r.kind = packet_class::tcp;
        r.data = p + header;
        r.size = size - header;
        r.tcp.sequence = be32(p + 4);
        r.tcp.fin = p[13] & 0x01;
        r.tcp.syn = p[13] & 0x02;
        r.tcp.rst = p[13] & 0x04;
    } else {
        return with_kind(packet_class::other);
    }
    source.port = be16(p);
    destination.port = be16(p + 2);
    r.source = source;
    r.destination = destination;
    return r;
}

ip_payload ipv4(const uint8_t* p, std::size_t size) {
    if (size < 20) return with_kind(packet_class::truncated);
    const std::size_t header = std::size_t(p[0] & 0x0F) * 4;
    const std::size_t total = be16(p + 2);
    if (header < 20 || total < header) return with_kind(packet_class::other);
    // The IP length, not the capture's, ends the datagram: Ethernet pads
    // short frames.
    if (total > size) return with_kind(packet_class::truncated);
    // More fragments to come, or a fragment offset: part of a datagram.
    if ((be16(p + 6) & 0x3FFF) != 0) return with_kind(packet_class::fragment);
    endpoint source, destination;
    std::memcpy(source.address.data(), p + 12, 4);
    std::memcpy(destination.address.data(), p + 16, 4);
    return transport(p[9], source, destination, p + header, total - header);
}

ip_payload ipv6(const uint8_t* p, std::size_t size) {
    if (size < 40) return with_kind(packet_class::truncated);
    const std::size_t payload = be16(p + 4);
    if (payload == 0) return with_kind(packet_class::other); // a jumbogram, or nothing
    if (40 + payload > size) return with_kind(packet_class::truncated);
    endpoint source, destination;
    source.v6 = destination.v6 = true;
    std::memcpy(source.address.data(), p + 8, 16);
    std::memcpy(destination.address.data(), p + 24, 16);
    int next = p[6];
    std::size_t offset = 40;
    const std::size_t end = 40 + payload;
    for (;;) {
        switch (next) {
        case 0:   // hop-by-hop options
        case 43:  // routing
        case 60:  // destination options
        case 51: { // authentication header
            if (end - offset < 8) return with_kind(packet_class::truncated);
            const std::size_t length = next == 51 ? (std::size_t(p[offset + 1]) + 2) * 4 : (std::size_t(p[offset + 1]) + 1) * 8;
            if (length > end - offset) return with_kind(packet_class::truncated);
            next = p[offset];
            offset += length;
            continue;
        }
        case 44: return with_kind(packet_class::fragment);
        default: return transport(next, source, destination, p + offset, end - offset);
        }
    }
}

ip_payload by_ip_version(const uint8_t* p, std::size_t size) {
    if (size < 1) return with_kind(packet_class::truncated);
    switch (p[0] >> 4) {
    case 4: return ipv4(p, size);
    case 6: return ipv6(p, size);
    default: return with_kind(packet_class::other);
    }
}

ip_payload by_ethertype(uint16_t type, const uint8_t* p, std::size_t size) {
    // 802.1Q and 802.1ad tags, stacked as deep as they come.
    while (type == kEtherVlan || type == kEtherQinQ || type == kEtherQinQOld) {
        if (size < 4) return with_kind(packet_class::truncated);
        type = be16(p + 2);
        p += 4;
        size -= 4;
    }
    if (type == kEtherIpv4) return ipv4(p, size);
    if (type == kEtherIpv6) return ipv6(p, size);
    return with_kind(packet_class::other);
}

bool is_loopback_family(uint32_t family) {
    // AF_INET everywhere; AF_INET6 on Linux, the BSDs and macOS.
    return family == 2 || family == 10 || family == 24 || family == 28 || family == 30;
}

} // namespace

std::string endpoint::address_text() const {
    char text[INET6_ADDRSTRLEN] = "";
    inet_ntop(v6 ? AF_INET6 : AF_INET, address.data(), text, sizeof text);
    return text;
}

std::string endpoint::text() const {
    return (v6 ? "[" + address_text() + "]" : address_text()) + ":" + std::to_string(port);
}

std::string endpoint::file_text() const { return address_text() + "_" + std::to_string(port); }

bool endpoint::operator<(const endpoint& o) const {
    if (v6 != o.v6) return v6 < o.v6;
    if (address != o.address) return address < o.address;
    return port < o.port;
}

bool known_link_type(int link_type) {
    switch (link_type) {
    case kLinkNull:
    case kLinkEthernet:
    case kLinkRawLinux:
    case kLinkRawOpenBsd:
    case kLinkRawFile:
    case kLinkLoop:
    case kLinkCooked:
    case kLinkIpv4:
    case kLinkIpv6:
    case kLinkCookedV2: return true;
    default: return false;
    }
}

ip_payload unwrap_packet(int link_type, const uint8_t* p, std::size_t size) {
    switch (link_type) {
    case kLinkEthernet:
        if (size < 14) return with_kind(packet_class::truncated);
        {
            const uint16_t type = be16(p + 12);
            if (type < kEtherMinType) return with_kind(packet_class::other);
            return by_ethertype(type, p + 14, size - 14);
        }
    case kLinkCooked:
        if (size < 16) return with_kind(packet_class::truncated);
        return by_ethertype(be16(p + 14), p + 16, size - 16);
    case kLinkCookedV2:
        if (size < 20) return with_kind(packet_class::truncated);
        return by_ethertype(be16(p), p + 20, size - 20);
    case kLinkNull:
    case kLinkLoop:
        if (size < 4) return with_kind(packet_class::truncated);
        // BSD loopback writes the family in the capturing host's byte order.
        if (!is_loopback_family(be32(p)) && !is_loopback_family(le32(p))) return with_kind(packet_class::other);
        return by_ip_version(p + 4, size - 4);
    case kLinkRawLinux:
    case kLinkRawOpenBsd:
    case kLinkRawFile:
    case kLinkIpv4:
    case kLinkIpv6: return by_ip_version(p, size);
    default: return with_kind(packet_class::unknown_link);
    }
}

} // namespace g729::tool
