#include "tools/formats/coded_stream.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace g729::tool {

namespace {

constexpr std::size_t kWordBytes = 2;
constexpr int kSidBitsShort = 15;
constexpr int kSidBitsFull = 16;
constexpr int kSpeechBits = 8 * kSpeechFrameBytes;
constexpr std::size_t kBufferBytes = 65536;

uint16_t read_word(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }

void append_word(std::vector<uint8_t>& out, uint16_t w) {
    out.push_back(uint8_t(w & 0xFF));
    out.push_back(uint8_t(w >> 8));
}

std::string hex_word(uint16_t w) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", w);
    return text;
}

} // namespace

coded_frame speech_frame(const uint8_t* bytes) {
    coded_frame frame;
    std::memcpy(frame.bytes.data(), bytes, kSpeechFrameBytes);
    return frame;
}

coded_frame encoded_frame(const uint8_t* bytes, int length) {
    if (length == kSpeechFrameBytes) return speech_frame(bytes);
    coded_frame frame;
    if (length == kSidFrameBytes) {
        // The SID frame's last bit carries nothing: its 15 bits go out.
        frame.kind = frame_kind::sid;
        frame.bits = kSidBitsShort;
        std::memcpy(frame.bytes.data(), bytes, kSidFrameBytes);
    } else {
        frame.kind = frame_kind::untransmitted;
        frame.bits = 0;
    }
    return frame;
}

coded_reader::coded_reader(byte_source source, bool bit_format)
    : source_(std::move(source)), bit_(bit_format) {
    buffer_.reserve(kBufferBytes);
}

std::size_t coded_reader::available(std::size_t wanted) {
    std::size_t have = buffer_.size() - head_;
    if (have >= wanted || at_end_) return have;
    // Keep what is unread at the front, then fill the rest.
    std::copy(buffer_.begin() + std::ptrdiff_t(head_), buffer_.end(), buffer_.begin());
    buffer_.resize(buffer_.capacity());
    head_ = 0;
    while (have < wanted && !at_end_) {
        const std::size_t n = source_(buffer_.data() + have, buffer_.size() - have);
        if (n == 0) at_end_ = true;
        have += n;
    }
    buffer_.resize(have);
    return have;
}

bool coded_reader::fail(std::size_t at, std::string problem) {
    fault_ = stream_fault{frames_, at, std::move(problem)};
    return false;
}

bool coded_reader::next(coded_frame& frame) {
    if (fault_) return false;
    frame = coded_frame{};
    const std::size_t start = offset_;
    if (!bit_) {
        const std::size_t remaining = available(kSpeechFrameBytes);
        if (remaining == 0) return false;
        // At least 10 bytes buffered means at least 10 remain; fewer means
        // the source has ended and these are the last bytes.
        const int length = g729a_payload_frame_length(remaining);
        const uint8_t* data = buffer_.data() + head_;
        if (length == kSpeechFrameBytes) {
            frame = speech_frame(data);
        } else if (length == kSidFrameBytes) {
            frame.kind = frame_kind::sid;
            frame.bits = kSidBitsFull;
            std::memcpy(frame.bytes.data(), data, kSidFrameBytes);
        } else {
            return fail(start, std::to_string(remaining) + (remaining == 1 ? " byte" : " bytes") +
                                   " at the end " + (remaining == 1 ? "is" : "are") +
                                   " not a frame (10 bytes, or 2 for a final SID frame)");
        }
        head_ += std::size_t(frame.size());
        offset_ += std::size_t(frame.size());
        ++frames_;
        return true;
    }

    const std::size_t header = available(2 * kWordBytes);
    if (header == 0) return false;
    if (header < 2 * kWordBytes) return fail(start, "truncated frame header");
    const uint8_t* data = buffer_.data() + head_;
    const uint16_t sync = read_word(data);
    const uint16_t bits = read_word(data + kWordBytes);
    if (sync != kSyncGood && sync != kSyncBad) return fail(start, "unknown sync word " + hex_word(sync));
    frame.bad = sync == kSyncBad;
    frame.bits = bits;
    if (bits == kSpeechBits) {
        frame.kind = frame_kind::speech;
    } else if (bits == kSidBitsShort || bits == kSidBitsFull) {
        frame.kind = frame_kind::sid;
    } else if (bits == 0) {
        frame.kind = frame_kind::untransmitted;
    } else {
        return fail(start, "unknown size word " + hex_word(bits) + " (80, 16, 15 or 0 bits)");
    }
    const std::size_t frame_bytes = 2 * kWordBytes + std::size_t(bits) * kWordBytes;
    const std::size_t have = available(frame_bytes);
    data = buffer_.data() + head_;
    if (have < frame_bytes)
        return fail(start, "truncated: the size word announces " + std::to_string(bits) + " bits, " +
                               std::to_string((have - 2 * kWordBytes) / kWordBytes) +
                               ((have - 2 * kWordBytes) / kWordBytes == 1 ? " follows" : " follow"));
    for (int i = 0; i < bits; ++i) {
        const uint16_t w = read_word(data + 2 * kWordBytes + std::size_t(i) * kWordBytes);
        if (w != kBitZero && w != kBitOne)
            return fail(start, "bit " + std::to_string(i) + " is " + hex_word(w) + ", neither 0x007F nor 0x0081");
        if (w == kBitOne) frame.bytes[std::size_t(i / 8)] |= uint8_t(0x80 >> (i % 8));
    }
    head_ += frame_bytes;
    offset_ += frame_bytes;
    ++frames_;
    return true;
}

namespace {

coded_stream read_all(const uint8_t* data, std::size_t size, bool bit_format) {
    std::size_t position = 0;
    coded_reader reader(
        [&](uint8_t* out, std::size_t n) {
            const std::size_t take = std::min(n, size - position);
            if (take > 0) std::memcpy(out, data + position, take);
            position += take;
            return take;
        },
        bit_format);
    coded_stream stream;
    coded_frame frame;
    while (reader.next(frame)) stream.frames.push_back(frame);
    stream.fault = reader.fault();
    return stream;
}

} // namespace

coded_stream read_g729(const uint8_t* data, std::size_t size) { return read_all(data, size, false); }

coded_stream read_bit(const uint8_t* data, std::size_t size) { return read_all(data, size, true); }

void append_bit_frame(std::vector<uint8_t>& out, const coded_frame& frame) {
    append_word(out, frame.bad ? kSyncBad : kSyncGood);
    append_word(out, uint16_t(frame.bits));
    for (int i = 0; i < frame.bits; ++i)
        append_word(out, (frame.bytes[i / 8] & (0x80 >> (i % 8))) ? kBitOne : kBitZero);
}

void append_g729_frame(std::vector<uint8_t>& out, const coded_frame& frame) {
    out.insert(out.end(), frame.bytes.begin(), frame.bytes.begin() + frame.size());
}

void count_frame(stream_counts& counts, const coded_frame& frame) {
    ++counts.frames;
    if (frame.bad) ++counts.bad;
    switch (frame.kind) {
    case frame_kind::speech: {
        ++counts.speech;
        g729a_frame_info info;
        g729a_frame_inspect(frame.bytes.data(), kSpeechFrameBytes, &info);
        if (info.parity_error != 0) ++counts.parity_errors;
        break;
    }
    case frame_kind::sid: ++counts.sid; break;
    case frame_kind::untransmitted: ++counts.untransmitted; break;
    }
}

} // namespace g729::tool
