// The g729a tool's readers over any bytes: the .g729 and .bit readers, and
// the audio reader on whatever libsndfile recognises (WAV, AIFF, FLAC, ...)
// or on headerless raw samples.
//
// Input: one selector byte, then the file's contents.
//   selector % 4 == 0  read_g729
//   selector % 4 == 1  read_bit
//   selector % 4 == 2  audio_source as a libsndfile file (any header)
//   selector % 4 == 3  audio_source as raw 16-bit samples
//
// The coded readers must account for every byte: the frames read, written
// back in the same format, give the input up to the fault, and the fault
// sits where they end. A .bit stream that .g729 can hold must survive the
// conversion. The audio reader may refuse a file, but only with its error.
#include <sys/mman.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "tools/audio_io.h"
#include "tools/coded_stream.h"
#include "tools/tool_error.h"

namespace {

using namespace g729::tool;

constexpr size_t kMaxSamples = size_t(1) << 20; // read no further than this

// Files below this rate are opened but not read. The reader sizes its
// resampling buffer by the upsampling ratio of a whole 4096-frame chunk
// (262 MB of doubles for a file that claims 1 Hz, however short it is), and
// the resampler's time grows with the ratio; until the reader bounds that
// itself, such inputs would only exhaust the fuzzer's memory and time limits.
constexpr int kMinReadRate = 1000;

// The input rate the reader reports when it converts ("11025 Hz, ...").
int input_rate(const audio_source& source) {
    const std::string& c = source.conversion();
    return c.empty() ? 8000 : std::atoi(c.c_str());
}

size_t end_of(const coded_stream& s, size_t size) { return s.fault ? s.fault->byte_offset : size; }

void check_counts(const coded_stream& s) {
    const stream_counts c = count_frames(s.frames);
    FUZZ_CHECK(c.frames == s.frames.size());
    FUZZ_CHECK(c.speech + c.sid + c.untransmitted == c.frames);
    FUZZ_CHECK(c.parity_errors <= c.speech && c.bad <= c.frames);
    if (s.fault) FUZZ_CHECK(s.fault->frame == s.frames.size() && !s.fault->problem.empty());
}

void check_g729(const uint8_t* data, size_t size) {
    const coded_stream s = read_g729(data, size);
    check_counts(s);
    std::vector<uint8_t> back;
    for (size_t i = 0; i < s.frames.size(); ++i) {
        FUZZ_CHECK(s.frames[i].kind == frame_kind::speech || (s.frames[i].kind == frame_kind::sid && i + 1 == s.frames.size()));
        append_g729_frame(back, s.frames[i]);
    }
    FUZZ_CHECK(back.size() == end_of(s, size));
    FUZZ_CHECK(back.empty() || std::memcmp(back.data(), data, back.size()) == 0);
    if (s.fault) {
        const size_t rest = size - s.fault->byte_offset;
        FUZZ_CHECK(rest == 1 || (rest >= 3 && rest <= 9));
    }
    FUZZ_CHECK(!first_unstorable_in_g729(s.frames));
}

void check_bit(const uint8_t* data, size_t size) {
    const coded_stream s = read_bit(data, size);
    check_counts(s);
    std::vector<uint8_t> back;
    for (const coded_frame& f : s.frames) append_bit_frame(back, f);
    FUZZ_CHECK(back.size() == end_of(s, size));
    FUZZ_CHECK(back.empty() || std::memcmp(back.data(), data, back.size()) == 0);

    // .bit -> .g729 -> frames: the transmitted frames come back unchanged
    // (a 15-bit SID frame gains its 16th bit, which is zero).
    if (first_unstorable_in_g729(s.frames)) return;
    std::vector<uint8_t> g729;
    std::vector<const coded_frame*> sent;
    for (const coded_frame& f : s.frames) {
        append_g729_frame(g729, f);
        if (f.kind != frame_kind::untransmitted) sent.push_back(&f);
    }
    const coded_stream again = read_g729(g729.data(), g729.size());
    FUZZ_CHECK(!again.fault && again.frames.size() == sent.size());
    for (size_t i = 0; i < sent.size(); ++i) {
        FUZZ_CHECK(again.frames[i].kind == sent[i]->kind);
        FUZZ_CHECK(std::memcmp(again.frames[i].bytes.data(), sent[i]->bytes.data(), size_t(sent[i]->size())) == 0);
    }
}

// The bytes as a file, without touching the disk.
class memory_file {
public:
    memory_file(const uint8_t* data, size_t size) {
        fd_ = memfd_create("tool_readers_fuzz", 0);
        FUZZ_CHECK(fd_ >= 0);
        size_t done = 0;
        while (done < size) {
            const ssize_t n = write(fd_, data + done, size - done);
            FUZZ_CHECK(n > 0);
            done += size_t(n);
        }
    }
    ~memory_file() { close(fd_); }
    std::string path() const { return "/proc/self/fd/" + std::to_string(fd_); }

private:
    int fd_ = -1;
};

void check_audio(const uint8_t* data, size_t size, file_format format) {
    const memory_file file(data, size);
    try {
        audio_source source(operand{file.path()}, format);
        if (input_rate(source) < kMinReadRate) return;
        std::vector<int16_t> block(4096);
        size_t total = 0;
        while (total < kMaxSamples) {
            const size_t want = 1 + total % block.size();
            const size_t got = source.read(block.data(), want);
            FUZZ_CHECK(got <= want);
            total += got;
            const double done = source.fraction_done();
            FUZZ_CHECK(!std::isnan(done));
            if (got < want) break;
        }
        FUZZ_CHECK(source.clipped() <= total);
        if (format == file_format::raw) FUZZ_CHECK(total == size / 2 && source.conversion().empty());
    } catch (const tool_error& e) {
        FUZZ_CHECK(e.what()[0] != '\0');
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const uint8_t selector = data[0];
    ++data;
    --size;
    switch (selector % 4) {
    case 0: check_g729(data, size); break;
    case 1: check_bit(data, size); break;
    case 2: check_audio(data, size, file_format::wav); break;
    default: check_audio(data, size, file_format::raw); break;
    }
    return 0;
}
