#include "tools/formats/standard_input.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>

#include "tools/common/tool_error.h"
#include "tools/formats/coded_stream.h"

namespace g729::tool {

namespace {

constexpr std::size_t kPeekBytes = 4;

// The bytes taken from a pipe to look at, handed out again before the
// rest of it.
struct replay {
    uint8_t bytes[kPeekBytes] = {};
    std::size_t size = 0;
    std::size_t given = 0;
};

ssize_t replay_read(void* cookie, char* data, std::size_t size) {
    replay& r = *static_cast<replay*>(cookie);
    if (r.given < r.size) {
        const std::size_t n = std::min(size, r.size - r.given);
        std::memcpy(data, r.bytes + r.given, n);
        r.given += n;
        return ssize_t(n);
    }
    for (;;) {
        const ssize_t n = read(STDIN_FILENO, data, size);
        if (n >= 0 || errno != EINTR) return n;
    }
}

input_kind kind_of(const uint8_t* b, std::size_t n) {
    if (n >= 4) {
        if (is_capture_magic(b)) return input_kind::capture;
        // .bit: 16-bit little-endian words, a frame's sync word and then
        // the number of bits that follow it.
        const uint16_t sync = uint16_t(b[0] | b[1] << 8);
        const uint16_t bits = uint16_t(b[2] | b[3] << 8);
        if ((sync == kSyncGood || sync == kSyncBad) && bits <= 80) return input_kind::bit;
    }
    return input_kind::other;
}

input_kind peek() {
    // For as long as stdin may read from it: the life of the process.
    static replay kept;
    replay* r = &kept;
    while (r->size < kPeekBytes) {
        const ssize_t n = read(STDIN_FILENO, r->bytes + r->size, kPeekBytes - r->size);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            throw tool_error("standard input", std::string("cannot read: ") + std::strerror(errno));
        }
        r->size += std::size_t(n);
    }
    const input_kind kind = kind_of(r->bytes, r->size);
    // A regular file is put back where it was, for whatever reads the
    // descriptor itself; a pipe cannot be, so stdin becomes a stream that
    // gives the bytes looked at before the rest.
    struct stat st;
    if (fstat(STDIN_FILENO, &st) == 0 && S_ISREG(st.st_mode) && lseek(STDIN_FILENO, -off_t(r->size), SEEK_CUR) >= 0) return kind;
    cookie_io_functions_t functions{};
    functions.read = replay_read;
    std::FILE* replayed = fopencookie(r, "rb", functions);
    if (!replayed) throw tool_error("standard input", std::string("cannot read: ") + std::strerror(errno));
    stdin = replayed;
    return kind;
}

} // namespace

bool is_capture_magic(const uint8_t* b) {
    const uint32_t m = uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | b[3];
    return m == 0xA1B2C3D4 || m == 0xD4C3B2A1 || m == 0xA1B23C4D || m == 0x4D3CB2A1 || m == 0x0A0D0D0A;
}

input_kind standard_input_kind() {
    static std::optional<input_kind> known;
    if (!known) known = peek();
    return *known;
}

std::string unknown_standard_input_text(const std::string& command) {
    return "neither a packet capture (.pcap, .pcapng) nor a .bit stream by its first bytes; " + command +
           " of frames back to back (.g729) needs -t g729";
}

} // namespace g729::tool
