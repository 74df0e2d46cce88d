#include "tools/capture/capture_input.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

#include "tools/common/text.h"
#include "tools/common/tool_error.h"
#include "tools/formats/format_names.h"

namespace g729::tool {

namespace {

// Standard input copied to an unnamed temporary file, which a capture
// needs: it is read twice. The copy goes when the process does, however it
// ends.
class spooled_input {
public:
    spooled_input() {
        const char* dir = std::getenv("TMPDIR");
        fd_ = open(dir && *dir ? dir : "/tmp", O_TMPFILE | O_RDWR, 0600);
        if (fd_ < 0) throw tool_error("standard input", std::string("cannot keep a copy to read: ") + std::strerror(errno));
        char buffer[65536];
        for (;;) {
            const ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
            if (n == 0) break;
            if (n < 0) {
                if (errno == EINTR) continue;
                throw tool_error("standard input", std::string("cannot read: ") + std::strerror(errno));
            }
            for (ssize_t done = 0; done < n;) {
                const ssize_t w = write(fd_, buffer + done, std::size_t(n - done));
                if (w < 0) throw tool_error("standard input", std::string("cannot keep a copy to read: ") + std::strerror(errno));
                done += w;
            }
        }
    }
    ~spooled_input() { close(fd_); }
    spooled_input(const spooled_input&) = delete;
    spooled_input& operator=(const spooled_input&) = delete;
    std::string path() const { return "/proc/self/fd/" + std::to_string(fd_); }

private:
    int fd_ = -1;
};

} // namespace

bool is_capture_file(const std::string& path) {
    const std::string e = extension_of(path);
    if (e == "pcap" || e == "pcapng" || e == "cap") return true;
    // A capture saved under another name (tcpdump -w call) is known by its
    // first four bytes: pcap in either byte order, with micro- or
    // nanosecond times, or a pcapng section header.
    if (path == "-" || format_from_extension(path) != file_format::unknown) return false;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    uint8_t magic[4] = {};
    const bool got = std::fread(magic, 1, 4, f) == 4;
    std::fclose(f);
    const uint32_t m = uint32_t(magic[0]) << 24 | uint32_t(magic[1]) << 16 | uint32_t(magic[2]) << 8 | magic[3];
    return got && (m == 0xA1B2C3D4 || m == 0xD4C3B2A1 || m == 0xA1B23C4D || m == 0x4D3CB2A1 || m == 0x0A0D0D0A);
}

int with_capture(const std::string& operand, const std::string& command, const std::function<int(const capture_source&)>& work) {
    if (operand != "-") return work(capture_source{operand, operand});
    const spooled_input copy;
    if (!is_capture_file(copy.path()))
        throw usage_error("'-' as IN of " + command + " is a packet capture or needs --format g729 or bit");
    return work(capture_source{copy.path(), "standard input"});
}

} // namespace g729::tool
