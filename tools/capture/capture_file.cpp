#include "tools/capture/capture_file.h"

#include <arpa/inet.h>
#include <pcap/pcap.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "tools/cli/output_file.h"
#include "tools/cli/shared_library.h"
#include "tools/cli/text.h"
#include "tools/cli/tool_error.h"

namespace g729::tool {

namespace {

// libpcap, loaded when a capture is first read.
#define G729A_PCAP_FUNCTIONS(F)                                                                 \
    F(pcap_fopen_offline_with_tstamp_precision) F(pcap_next_ex) F(pcap_geterr) F(pcap_datalink) \
    F(pcap_datalink_val_to_name) F(pcap_close)
G729A_FUNCTION_TABLE(pcap_functions, G729A_PCAP_FUNCTIONS);

const pcap_functions& pcap() {
    static const pcap_functions functions(shared_library(G729A_LIBPCAP_SONAME, "G729A_LIBPCAP", "reading packet captures"));
    return functions;
}

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

constexpr uint16_t kEtherIpv4 = 0x0800;
constexpr uint16_t kEtherIpv6 = 0x86DD;
constexpr uint16_t kEtherVlan = 0x8100;
constexpr uint16_t kEtherQinQ = 0x88A8;
constexpr uint16_t kEtherQinQOld = 0x9100;
constexpr uint16_t kEtherMinType = 0x0600; // below: an 802.3 length

constexpr int kProtoUdp = 17;
constexpr int kProtoTcp = 6;

uint16_t be16(const uint8_t* p) { return uint16_t((p[0] << 8) | p[1]); }
uint32_t be32(const uint8_t* p) { return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3]; }
uint32_t le32(const uint8_t* p) { return (uint32_t(p[3]) << 24) | (uint32_t(p[2]) << 16) | (uint32_t(p[1]) << 8) | p[0]; }

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

std::string link_type_name(int link_type) {
    switch (link_type) {
    case kLinkNull: return "BSD loopback";
    case kLinkEthernet: return "Ethernet";
    case kLinkRawLinux:
    case kLinkRawOpenBsd:
    case kLinkRawFile: return "raw IP";
    case kLinkLoop: return "OpenBSD loopback";
    case kLinkCooked: return "Linux cooked capture";
    case kLinkIpv4: return "raw IPv4";
    case kLinkIpv6: return "raw IPv6";
    case kLinkCookedV2: return "Linux cooked capture v2";
    }
    const char* name = pcap().pcap_datalink_val_to_name(link_type);
    return name ? std::string(name) + " (not read)" : "link type " + std::to_string(link_type) + " (not read)";
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

rtp_parse parse_rtp(const uint8_t* p, std::size_t size, rtp_header& h) {
    if (size < 12) return rtp_parse::not_rtp;
    h.version = p[0] >> 6;
    h.marker = (p[1] & 0x80) != 0;
    h.payload_type = p[1] & 0x7F;
    h.sequence = be16(p + 2);
    h.timestamp = be32(p + 4);
    h.ssrc = be32(p + 8);
    if (h.version != 2) return rtp_parse::wrong_version;
    if (p[1] >= 200 && p[1] <= 204) return rtp_parse::rtcp;
    std::size_t offset = 12 + std::size_t(p[0] & 0x0F) * 4;
    if (offset > size) return rtp_parse::truncated;
    if (p[0] & 0x10) {
        if (size - offset < 4) return rtp_parse::truncated;
        const std::size_t words = be16(p + offset + 2);
        offset += 4;
        if (words * 4 > size - offset) return rtp_parse::truncated;
        offset += words * 4;
    }
    std::size_t end = size;
    if (p[0] & 0x20) {
        // The last byte counts the padding, itself included.
        const std::size_t padding = p[size - 1];
        if (padding == 0 || padding > size - offset) return rtp_parse::truncated;
        end -= padding;
    }
    h.payload = p + offset;
    h.payload_size = end - offset;
    return rtp_parse::ok;
}

namespace {

std::vector<std::string> words(const std::string& line) {
    std::vector<std::string> out;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i]))) ++i;
        const std::size_t start = i;
        while (i < line.size() && !std::isspace(static_cast<unsigned char>(line[i]))) ++i;
        if (i > start) out.push_back(line.substr(start, i - start));
    }
    return out;
}

// c=IN IP4 10.0.0.1 (or IP6, an optional /ttl after the address).
bool read_connection(const std::string& value, endpoint& at) {
    const std::vector<std::string> w = words(value);
    if (w.size() < 3 || w[0] != "IN") return false;
    const std::string address = w[2].substr(0, w[2].find('/'));
    endpoint e;
    if (w[1] == "IP4") {
        if (inet_pton(AF_INET, address.c_str(), e.address.data()) != 1) return false;
    } else if (w[1] == "IP6") {
        e.v6 = true;
        if (inet_pton(AF_INET6, address.c_str(), e.address.data()) != 1) return false;
    } else {
        return false;
    }
    at = e;
    return true;
}

bool is_g729_name(const std::string& encoding) {
    // "G729/8000" or "G729/8000/1"; G729A, G729B and G729AB name the same
    // frames. G729D and G729E are other rates, not read here.
    const std::string e = lower(encoding);
    const std::size_t slash = e.find('/');
    if (slash == std::string::npos) return false;
    const std::string name = e.substr(0, slash);
    const std::string rate = e.substr(slash + 1, e.find('/', slash + 1) - slash - 1);
    return (name == "g729" || name == "g729a" || name == "g729b" || name == "g729ab") && rate == "8000";
}

} // namespace

std::vector<sdp_g729> read_sdp(const char* text, std::size_t size) {
    std::vector<sdp_g729> found;
    endpoint session_address;
    bool have_session_address = false;
    bool in_media = false;
    bool audio = false;
    int port = 0;
    endpoint media_address;
    bool have_media_address = false;
    std::set<int> pts;

    auto close_media = [&] {
        if (in_media && audio && port > 0 && !pts.empty() && (have_media_address || have_session_address)) {
            sdp_g729 s;
            s.receiver = have_media_address ? media_address : session_address;
            s.receiver.port = uint16_t(port);
            s.payload_types = pts;
            found.push_back(s);
        }
        in_media = audio = have_media_address = false;
        port = 0;
        pts.clear();
    };

    std::size_t i = 0;
    while (i < size) {
        std::size_t end = i;
        while (end < size && text[end] != '\n' && text[end] != '\r') ++end;
        const std::string line(text + i, end - i);
        i = end;
        while (i < size && (text[i] == '\n' || text[i] == '\r')) ++i;
        if (line.size() < 2 || line[1] != '=') continue;
        const std::string value = line.substr(2);
        switch (line[0]) {
        case 'v':
            close_media();
            have_session_address = false;
            break;
        case 'm': {
            close_media();
            const std::vector<std::string> w = words(value);
            in_media = true;
            audio = !w.empty() && w[0] == "audio";
            if (w.size() > 1) port = std::atoi(w[1].c_str());
            if (port < 0 || port > 65535) port = 0;
            break;
        }
        case 'c':
            if (in_media)
                have_media_address = read_connection(value, media_address) || have_media_address;
            else
                have_session_address = read_connection(value, session_address) || have_session_address;
            break;
        case 'a':
            if (in_media && value.rfind("rtpmap:", 0) == 0) {
                const std::vector<std::string> w = words(value.substr(7));
                if (w.size() >= 2 && is_g729_name(w[1])) {
                    const int pt = std::atoi(w[0].c_str());
                    if (pt >= 0 && pt < 128) pts.insert(pt);
                }
            }
            break;
        default: break;
        }
    }
    close_media();
    return found;
}

capture_reader::capture_reader(const std::string& file_path, const std::string& name) : path_(name.empty() ? file_path : name) {
    const std::string& path = path_;
    // Loaded first: a library that cannot be loaded leaves no file open.
    const pcap_functions& library = pcap();
    std::FILE* file = open_input(operand{file_path});
    uint8_t magic[4] = {};
    const std::size_t got = std::fread(magic, 1, sizeof magic, file);
    pcapng_ = got == 4 && magic[0] == 0x0A && magic[1] == 0x0D && magic[2] == 0x0D && magic[3] == 0x0A;
    if (got == 0) {
        std::fclose(file);
        throw tool_error(path, "not a packet capture (pcap or pcapng): the file is empty");
    }
    std::rewind(file);
    char error[PCAP_ERRBUF_SIZE] = "";
    // pcap takes the file over once it accepts it, and closes it then.
    pcap_t* p = library.pcap_fopen_offline_with_tstamp_precision(file, PCAP_TSTAMP_PRECISION_NANO, error);
    if (!p) {
        std::fclose(file);
        throw tool_error(path, std::string("not a packet capture (pcap or pcapng): ") + error);
    }
    pcap_ = p;
    link_type_ = library.pcap_datalink(p);
}

capture_reader::~capture_reader() {
    if (pcap_) pcap().pcap_close(static_cast<pcap_t*>(pcap_));
}

bool capture_reader::next(captured_packet& packet) {
    pcap_pkthdr* header = nullptr;
    const u_char* data = nullptr;
    const int rc = pcap().pcap_next_ex(static_cast<pcap_t*>(pcap_), &header, &data);
    if (rc == 1) {
        ++number_;
        packet.number = number_;
        // Nanoseconds since 1970 hold from 1677 to 2262; a file may claim
        // any second at all (pcapng has 64-bit timestamps).
        int64_t ns = 0;
        packet.time_known = !__builtin_mul_overflow(int64_t(header->ts.tv_sec), int64_t(1000000000), &ns) &&
                            !__builtin_add_overflow(ns, int64_t(header->ts.tv_usec), &ns);
        packet.time_ns = packet.time_known ? ns : 0;
        packet.data = data;
        packet.captured = header->caplen;
        packet.length = header->len;
        return true;
    }
    if (rc == PCAP_ERROR) problem_ = pcap().pcap_geterr(static_cast<pcap_t*>(pcap_));
    return false;
}

} // namespace g729::tool
