// A .pcap or .pcapng file read packet by packet with libpcap, loaded when
// a capture is first read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace g729::tool {

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

// "Ethernet", "Linux cooked capture", ...; for a link type the reader does
// not unwrap, libpcap's name for it and "(not read)".
std::string link_type_name(int link_type);

} // namespace g729::tool
