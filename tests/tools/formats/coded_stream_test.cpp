#include "tools/formats/coded_stream.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "tests/tools/formats/coded_frames.h"

namespace g729::tool {
namespace {

using testing::count_frames;
using testing::first_unstorable_in_g729;

const uint8_t kGoodFrame[10] = {0x8f, 0x65, 0x7d, 0x4e, 0x3e, 0x0a, 0xf2, 0xba, 0xf1, 0x5e};

std::vector<uint8_t> numbered_bytes(std::size_t n) {
    std::vector<uint8_t> bytes(n);
    for (std::size_t i = 0; i < n; ++i) bytes[i] = uint8_t(i * 37 + 11);
    return bytes;
}

// .bit words built by hand, independently of the writer under test.
void put_word(std::vector<uint8_t>& out, uint16_t w) {
    out.push_back(uint8_t(w));
    out.push_back(uint8_t(w >> 8));
}

void put_frame(std::vector<uint8_t>& out, uint16_t sync, int bits, const uint8_t* payload) {
    put_word(out, sync);
    put_word(out, uint16_t(bits));
    for (int i = 0; i < bits; ++i) put_word(out, (payload[i / 8] >> (7 - i % 8)) & 1 ? 0x0081 : 0x007F);
}

struct WalkCase {
    std::size_t length;
    std::size_t speech;
    std::size_t sid;
    bool fault;
    std::size_t fault_offset;
};

TEST(G729Walk, TakesTenByteFramesThenOneFinalSidFrameLikeTheTranslator) {
    const WalkCase cases[] = {
        {0, 0, 0, false, 0},  {10, 1, 0, false, 0}, {12, 1, 1, false, 0}, {2, 0, 1, false, 0},
        {22, 2, 1, false, 0}, {30, 3, 0, false, 0}, {11, 1, 0, true, 10}, {3, 0, 0, true, 0},
        {1, 0, 0, true, 0},   {19, 1, 0, true, 10}, {4, 0, 0, true, 0},   {14, 1, 0, true, 10},
    };
    for (const WalkCase& c : cases) {
        const std::vector<uint8_t> bytes = numbered_bytes(c.length);
        const coded_stream s = read_g729(bytes.data(), bytes.size());
        const stream_counts counts = count_frames(s.frames);
        EXPECT_EQ(counts.speech, c.speech) << c.length << " bytes";
        EXPECT_EQ(counts.sid, c.sid) << c.length << " bytes";
        ASSERT_EQ(s.fault.has_value(), c.fault) << c.length << " bytes";
        if (c.fault) {
            EXPECT_EQ(s.fault->byte_offset, c.fault_offset) << c.length << " bytes";
            EXPECT_NE(s.fault->problem.find(std::to_string(c.length - c.fault_offset) + " byte"), std::string::npos)
                << s.fault->problem;
        }
        // The frames carry the file's bytes in order.
        std::vector<uint8_t> again;
        for (const coded_frame& f : s.frames) append_g729_frame(again, f);
        EXPECT_EQ(again, std::vector<uint8_t>(bytes.begin(), bytes.begin() + std::ptrdiff_t(again.size())));
    }
}

TEST(BitFormat, G729ToBitAndBackIsByteIdenticalIncludingTheUnusedSidBit) {
    // 7 speech frames and a final SID frame whose last (unused) bit is set.
    std::vector<uint8_t> g729 = numbered_bytes(72);
    g729[71] |= 1;
    const coded_stream s = read_g729(g729.data(), g729.size());
    ASSERT_FALSE(s.fault);
    std::vector<uint8_t> bit;
    for (const coded_frame& f : s.frames) append_bit_frame(bit, f);
    EXPECT_EQ(bit.size(), 7 * (4 + 2 * 80) + (4 + 2 * 16));

    const coded_stream back = read_bit(bit.data(), bit.size());
    ASSERT_FALSE(back.fault) << back.fault->problem;
    ASSERT_FALSE(first_unstorable_in_g729(back.frames));
    std::vector<uint8_t> again;
    for (const coded_frame& f : back.frames) append_g729_frame(again, f);
    EXPECT_EQ(again, g729);
}

TEST(BitFormat, WriterProducesTheSerialWordsOfTheTestVectors) {
    std::vector<uint8_t> expected;
    put_frame(expected, 0x6B21, 80, kGoodFrame);
    std::vector<uint8_t> written;
    append_bit_frame(written, speech_frame(kGoodFrame));
    EXPECT_EQ(written, expected);
}

TEST(BitFormat, ReadsSidUntransmittedAndBadFramesAndCountsThem) {
    const uint8_t sid[2] = {0xa5, 0xc3};
    uint8_t parity_broken[10];
    std::memcpy(parity_broken, kGoodFrame, 10);
    parity_broken[3] ^= 0x20; // P0

    std::vector<uint8_t> bit;
    put_frame(bit, 0x6B21, 80, kGoodFrame);
    put_frame(bit, 0x6B21, 15, sid);
    put_frame(bit, 0x6B21, 0, nullptr);
    put_frame(bit, 0x6B20, 80, parity_broken);
    put_frame(bit, 0x6B21, 16, sid);
    const coded_stream s = read_bit(bit.data(), bit.size());
    ASSERT_FALSE(s.fault) << s.fault->problem;
    ASSERT_EQ(s.frames.size(), 5u);

    const stream_counts c = count_frames(s.frames);
    EXPECT_EQ(c.frames, 5u);
    EXPECT_EQ(c.speech, 2u);
    EXPECT_EQ(c.sid, 2u);
    EXPECT_EQ(c.untransmitted, 1u);
    EXPECT_EQ(c.bad, 1u);
    EXPECT_EQ(c.parity_errors, 1u);

    EXPECT_EQ(0, std::memcmp(s.frames[0].bytes.data(), kGoodFrame, 10));
    // 15 bits leave the unused last bit of a SID frame clear; 16 keep it.
    EXPECT_EQ(s.frames[1].bytes[0], 0xa5);
    EXPECT_EQ(s.frames[1].bytes[1], 0xc2);
    EXPECT_EQ(s.frames[4].bytes[1], 0xc3);
    EXPECT_TRUE(s.frames[3].bad);
    EXPECT_EQ(0, std::memcmp(s.frames[3].bytes.data(), parity_broken, 10));
}

TEST(BitFormat, MalformedStreamsNameTheFrameAndOffsetOfTheFirstFault) {
    struct Case {
        const char* name;
        void (*spoil)(std::vector<uint8_t>&);
        std::size_t frame;
        std::size_t offset;
        const char* problem;
    };
    constexpr std::size_t kFrameBytes = 4 + 2 * 80;
    const Case cases[] = {
        {"unknown sync word", [](std::vector<uint8_t>& b) { b[kFrameBytes] = 0x22; }, 1, kFrameBytes, "sync word 0x6B22"},
        {"unknown size word", [](std::vector<uint8_t>& b) { b[kFrameBytes + 2] = 79; }, 1, kFrameBytes, "size word 0x004F"},
        {"bit word neither 7F nor 81", [](std::vector<uint8_t>& b) { b[2 * kFrameBytes + 4 + 2 * 5] = 0x80; }, 2,
         2 * kFrameBytes, "bit 5 is 0x0080"},
        {"truncated bits", [](std::vector<uint8_t>& b) { b.resize(b.size() - 2); }, 2, 2 * kFrameBytes, "truncated"},
        {"truncated header", [](std::vector<uint8_t>& b) { b.push_back(0x21); b.push_back(0x6B); }, 3, 3 * kFrameBytes,
         "truncated frame header"},
        {"odd trailing byte", [](std::vector<uint8_t>& b) { b.push_back(0x21); }, 3, 3 * kFrameBytes, "truncated"},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> bit;
        for (int i = 0; i < 3; ++i) put_frame(bit, 0x6B21, 80, kGoodFrame);
        c.spoil(bit);
        const coded_stream s = read_bit(bit.data(), bit.size());
        ASSERT_TRUE(s.fault) << c.name;
        EXPECT_EQ(s.fault->frame, c.frame) << c.name;
        EXPECT_EQ(s.fault->byte_offset, c.offset) << c.name;
        EXPECT_NE(s.fault->problem.find(c.problem), std::string::npos) << c.name << ": " << s.fault->problem;
        EXPECT_EQ(s.frames.size(), c.frame) << c.name << ": the frames before the fault are kept";
    }
}

TEST(BitFormat, OnlyAFinalSidFrameFitsInG729) {
    coded_frame speech = speech_frame(kGoodFrame);
    coded_frame sid;
    sid.kind = frame_kind::sid;
    sid.bits = 16;
    coded_frame gap;
    gap.kind = frame_kind::untransmitted;
    gap.bits = 0;

    EXPECT_FALSE(first_unstorable_in_g729({speech, speech, sid}));
    EXPECT_FALSE(first_unstorable_in_g729({speech, sid, gap, gap}));
    EXPECT_EQ(first_unstorable_in_g729({speech, sid, speech}), std::optional<std::size_t>(1));
    EXPECT_EQ(first_unstorable_in_g729({sid, gap, sid}), std::optional<std::size_t>(0));
}

} // namespace
} // namespace g729::tool
