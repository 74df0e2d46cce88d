#include "tools/coded_stream.h"

#include <cstdio>
#include <cstring>

namespace g729::tool {

namespace {

constexpr std::size_t kWordBytes = 2;
constexpr int kSidBitsShort = 15;
constexpr int kSidBitsFull = 16;
constexpr int kSpeechBits = 8 * kSpeechFrameBytes;

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

coded_stream read_g729(const uint8_t* data, std::size_t size) {
    coded_stream stream;
    std::size_t offset = 0;
    while (offset < size) {
        const std::size_t remaining = size - offset;
        const int length = g729a_payload_frame_length(remaining);
        coded_frame frame;
        if (length == kSpeechFrameBytes) {
            frame = speech_frame(data + offset);
        } else if (length == kSidFrameBytes) {
            frame.kind = frame_kind::sid;
            frame.bits = kSidBitsFull;
            std::memcpy(frame.bytes.data(), data + offset, kSidFrameBytes);
        } else {
            stream.fault = stream_fault{stream.frames.size(), offset,
                                        std::to_string(remaining) + (remaining == 1 ? " byte" : " bytes") +
                                            " at the end are not a frame (10 bytes, or 2 for a final SID frame)"};
            return stream;
        }
        offset += std::size_t(frame.size());
        stream.frames.push_back(frame);
    }
    return stream;
}

coded_stream read_bit(const uint8_t* data, std::size_t size) {
    coded_stream stream;
    std::size_t offset = 0;
    auto fail = [&](std::size_t at, std::string problem) {
        stream.fault = stream_fault{stream.frames.size(), at, std::move(problem)};
        return stream;
    };
    while (offset < size) {
        const std::size_t start = offset;
        if (size - offset < 2 * kWordBytes) return fail(start, "truncated frame header");
        const uint16_t sync = read_word(data + offset);
        const uint16_t bits = read_word(data + offset + kWordBytes);
        offset += 2 * kWordBytes;
        if (sync != kSyncGood && sync != kSyncBad) return fail(start, "unknown sync word " + hex_word(sync));

        coded_frame frame;
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
        if ((size - offset) / kWordBytes < bits) return fail(start, "truncated: the size word announces " + std::to_string(bits) + " bits, " +
                                   std::to_string((size - offset) / kWordBytes) + " follow");
        for (int i = 0; i < bits; ++i) {
            const uint16_t w = read_word(data + offset);
            if (w != kBitZero && w != kBitOne)
                return fail(start, "bit " + std::to_string(i) + " is " + hex_word(w) + ", neither 0x007F nor 0x0081");
            if (w == kBitOne) frame.bytes[i / 8] |= uint8_t(0x80 >> (i % 8));
            offset += kWordBytes;
        }
        stream.frames.push_back(frame);
    }
    return stream;
}

void append_bit_frame(std::vector<uint8_t>& out, const coded_frame& frame) {
    append_word(out, frame.bad ? kSyncBad : kSyncGood);
    append_word(out, uint16_t(frame.bits));
    for (int i = 0; i < frame.bits; ++i)
        append_word(out, (frame.bytes[i / 8] & (0x80 >> (i % 8))) ? kBitOne : kBitZero);
}

std::optional<std::size_t> first_unstorable_in_g729(const std::vector<coded_frame>& frames) {
    std::optional<std::size_t> pending_sid;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        if (frames[i].kind == frame_kind::untransmitted) continue;
        if (pending_sid) return pending_sid;
        if (frames[i].kind == frame_kind::sid) pending_sid = i;
    }
    return std::nullopt;
}

void append_g729_frame(std::vector<uint8_t>& out, const coded_frame& frame) {
    out.insert(out.end(), frame.bytes.begin(), frame.bytes.begin() + frame.size());
}

stream_counts count_frames(const std::vector<coded_frame>& frames) {
    stream_counts counts;
    counts.frames = frames.size();
    for (const coded_frame& frame : frames) {
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
    return counts;
}

} // namespace g729::tool
