#include "tools/capture/capture_reader.h"

#include <pcap/pcap.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "tools/capture/packets.h"
#include "tools/common/input_file.h"
#include "tools/common/shared_library.h"
#include "tools/common/tool_error.h"

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

} // namespace

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
