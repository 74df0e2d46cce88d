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
#include "tools/formats/standard_input.h"

namespace g729::tool {

namespace {

// The largest capture taken from standard input: it is copied to disk to
// be read, and a pipe that never ends must not fill the disk.
constexpr uint64_t kMaxSpooledBytes = uint64_t(2) << 30;

} // namespace

// Standard input copied to an unnamed temporary file. Only a capture by its
// first bytes is copied, and no more than kMaxSpooledBytes of it.
class opened_capture::spooled_input {
public:
    spooled_input() {
        const char* dir = std::getenv("TMPDIR");
        fd_ = open(dir && *dir ? dir : "/tmp", O_TMPFILE | O_RDWR, 0600);
        if (fd_ < 0) throw tool_error("standard input", std::string("cannot keep a copy to read: ") + std::strerror(errno));
        // stdin, not the descriptor: the first bytes were looked at already
        // and come back through it.
        char buffer[65536];
        uint64_t copied = 0;
        for (;;) {
            const std::size_t n = std::fread(buffer, 1, sizeof buffer, stdin);
            if (n == 0) {
                if (std::ferror(stdin)) throw tool_error("standard input", std::string("cannot read: ") + std::strerror(errno));
                break;
            }
            copied += n;
            if (copied > kMaxSpooledBytes)
                throw tool_error("standard input", "a capture on standard input is copied to be read, and this one is larger than " +
                                                       std::to_string(kMaxSpooledBytes >> 30) +
                                                       " GiB: save it to a file and name that instead");
            for (std::size_t done = 0; done < n;) {
                const ssize_t w = write(fd_, buffer + done, n - done);
                if (w < 0) {
                    if (errno == EINTR) continue;
                    throw tool_error("standard input", std::string("cannot keep a copy to read: ") + std::strerror(errno));
                }
                done += std::size_t(w);
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

bool is_capture_file(const std::string& path) {
    const std::string e = extension_of(path);
    if (e == "pcap" || e == "pcapng" || e == "cap") return true;
    // A capture saved under another name (tcpdump -w call) is known by its
    // first four bytes.
    if (path == "-" || format_from_extension(path) != file_format::unknown) return false;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    uint8_t magic[4] = {};
    const bool got = std::fread(magic, 1, 4, f) == 4;
    std::fclose(f);
    return got && is_capture_magic(magic);
}

opened_capture::opened_capture(const std::string& operand, const std::string& command) : source_{operand, operand} {
    if (operand != "-") return;
    if (standard_input_kind() != input_kind::capture) throw tool_error("standard input", unknown_standard_input_text(command));
    copy_ = std::make_unique<spooled_input>();
    if (!is_capture_file(copy_->path())) throw tool_error("standard input", unknown_standard_input_text(command));
    source_ = capture_source{copy_->path(), "standard input"};
}

opened_capture::~opened_capture() = default;

} // namespace g729::tool
