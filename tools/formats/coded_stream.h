// Coded G.729A streams as files hold them: `.g729` (the frames back to back,
// read exactly as the g729tolin translator reads one payload) and `.bit` (the
// serial format of the standard's test vectors, one 16-bit word per bit).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "g729a.h"

namespace g729::tool {

constexpr int kFrame = G729A_FRAME_SAMPLES;
constexpr int kSpeechFrameBytes = G729A_SPEECH_FRAME_BYTES;
constexpr int kSidFrameBytes = G729A_SID_FRAME_BYTES;

enum class frame_kind { speech, sid, untransmitted };

struct coded_frame {
    frame_kind kind = frame_kind::speech;
    // Marked bad by the sender (.bit only); decode conceals such a frame as
    // missing unless told to decode it as received.
    bool bad = false;
    // Bits the frame carries: 80 for speech, 15 or 16 for SID, 0 when not
    // transmitted. A SID frame read from .g729 carries all 16.
    int bits = 80;
    std::array<uint8_t, kSpeechFrameBytes> bytes{};

    int size() const { return kind == frame_kind::speech ? kSpeechFrameBytes : kind == frame_kind::sid ? kSidFrameBytes : 0; }
};

// Where and why a stream stops making sense. Frames are numbered from 0.
struct stream_fault {
    std::size_t frame = 0;
    std::size_t byte_offset = 0;
    std::string problem;
};

// The frames read up to the first fault, and the fault if there is one.
struct coded_stream {
    std::vector<coded_frame> frames;
    std::optional<stream_fault> fault;
};

// Reads a coded stream frame by frame from any source of bytes, holding no
// more than a fixed buffer however long the stream: a one-hour file is read
// in the same memory as a one-second one.
class coded_reader {
public:
    // Fills up to `size` bytes, returns how many; 0 at the end. Throws on a
    // read error.
    using byte_source = std::function<std::size_t(uint8_t* data, std::size_t size)>;
    // g729 or bit (see read_g729 and read_bit for the layouts).
    coded_reader(byte_source source, bool bit_format);

    // The next frame; false at the end of the stream or at a fault, which
    // fault() then describes. Frames before a fault are all returned.
    bool next(coded_frame& frame);
    const std::optional<stream_fault>& fault() const { return fault_; }
    std::size_t frames() const { return frames_; }     // returned so far
    std::size_t bytes_read() const { return offset_; } // consumed so far

private:
    byte_source source_;
    bool bit_;
    std::vector<uint8_t> buffer_;
    std::size_t head_ = 0;
    bool at_end_ = false;
    std::size_t offset_ = 0;
    std::size_t frames_ = 0;
    std::optional<stream_fault> fault_;

    std::size_t available(std::size_t wanted); // buffered bytes, at least `wanted` unless the source ends
    bool fail(std::size_t at, std::string problem);
};

// Walks `.g729` bytes as one payload: 10-byte speech frames while at least
// 10 bytes remain, then one 2-byte SID frame if exactly 2 remain; any other
// remainder (1 or 3 to 9 bytes) is a fault.
coded_stream read_g729(const uint8_t* data, std::size_t size);

// Reads `.bit` words: sync (0x6B21 good, 0x6B20 bad), size (80 speech, 15 or
// 16 SID, 0 untransmitted), then one word per bit, 0x007F for 0 and 0x0081
// for 1, most significant payload bit first.
coded_stream read_bit(const uint8_t* data, std::size_t size);

constexpr uint16_t kSyncGood = 0x6B21;
constexpr uint16_t kSyncBad = 0x6B20;
constexpr uint16_t kBitZero = 0x007F;
constexpr uint16_t kBitOne = 0x0081;

void append_bit_frame(std::vector<uint8_t>& out, const coded_frame& frame);

// `.g729` can hold speech frames and one final SID frame only: untransmitted
// frames are left out (the timeline shortens by 10 ms each) and bad-frame
// marks are lost.
// A SID frame followed by any transmitted frame cannot be stored (the reader
// would split the bytes after it wrongly): convert refuses such a stream.
void append_g729_frame(std::vector<uint8_t>& out, const coded_frame& frame);

coded_frame speech_frame(const uint8_t* bytes);
// What g729a_encode returned: 10 bytes speech, 2 a SID frame (all 16 bits
// as the encoder wrote them), 0 a frame not sent.
coded_frame encoded_frame(const uint8_t* bytes, int length);

struct stream_counts {
    std::size_t frames = 0;
    std::size_t speech = 0;
    std::size_t sid = 0;
    std::size_t untransmitted = 0;
    std::size_t bad = 0;
    std::size_t parity_errors = 0; // speech frames whose first pitch index fails its check
};

// Adds one frame to running counts.
void count_frame(stream_counts& counts, const coded_frame& frame);

} // namespace g729::tool
