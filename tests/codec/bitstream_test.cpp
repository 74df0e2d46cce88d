#include "codec/bitstream.h"

#include <gtest/gtest.h>

#include <cstring>

namespace g729 {
namespace {

const uint8_t kExampleFrame[10] = {0x8f, 0x65, 0x7d, 0x4e, 0x3e, 0x0a, 0xf2, 0xba, 0xf1, 0x5e};
const int kExampleWords[11] = {143, 405, 245, 0, 3646, 0, 87, 18, 5982, 2, 94};

TEST(Bitstream, ExampleSpeechFrameUnpacksToItsWordsAndPacksBack) {
    frame_parameters p;
    unpack_frame(p, kExampleFrame, kFrameTypeSpeech);
    EXPECT_EQ(p.frame_type, kFrameTypeSpeech);
    for (int i = 0; i < kParameterWords; ++i) EXPECT_EQ(p.words[i], kExampleWords[i]) << "word " << i;

    frame_parameters q{kFrameTypeSpeech, {}};
    std::memcpy(q.words, kExampleWords, sizeof q.words);
    uint8_t out[10];
    int length = 0;
    pack_frame(q, out, length);
    EXPECT_EQ(length, 10);
    EXPECT_EQ(0, std::memcmp(out, kExampleFrame, 10));
}

TEST(Bitstream, EveryFieldRoundTripsAtItsFullWidth) {
    const int widths[11] = {8, 10, 8, 1, 13, 4, 7, 5, 13, 4, 7};
    for (int w = 0; w < kParameterWords; ++w) {
        if (w == 3) continue; // P0 comes back as the parity verdict
        frame_parameters p{kFrameTypeSpeech, {}};
        p.words[w] = (1 << widths[w]) - 1;
        uint8_t out[10];
        int length = 0;
        pack_frame(p, out, length);
        frame_parameters q;
        unpack_frame(q, out, kFrameTypeSpeech);
        for (int i = 0; i < kParameterWords; ++i) {
            if (i == 3) continue;
            EXPECT_EQ(q.words[i], i == w ? p.words[w] : 0) << "set word " << w << ", read word " << i;
        }
    }
}

TEST(Bitstream, OverWideWordsAreMaskedOnPacking) {
    frame_parameters p{kFrameTypeSpeech, {}};
    p.words[2] = 0x1FF;
    uint8_t out[10];
    int length = 0;
    pack_frame(p, out, length);
    frame_parameters q;
    unpack_frame(q, out, kFrameTypeSpeech);
    EXPECT_EQ(q.words[2], 0xFF);
    EXPECT_EQ(q.words[1], 0); // the ninth bit did not spill into L2/L3
    EXPECT_EQ(q.words[0], 0);
}

struct ParityCase {
    const char* name;
    int flip_bit; // bit of the 80-bit frame to flip, -1 for none
    int expected_parity_error;
};

TEST(Bitstream, ParityCheckCatchesFlippedParityAndTopPitchBits) {
    const ParityCase cases[] = {
        {"well-formed", -1, 0},
        {"P0 flipped", 26, 1},
        {"top bit of P1 flipped", 18, 1},
        {"sixth bit of P1 flipped", 23, 1},
        {"bit 1 of P1 is not covered", 24, 0},
    };
    for (const ParityCase& c : cases) {
        uint8_t frame[10];
        std::memcpy(frame, kExampleFrame, 10);
        if (c.flip_bit >= 0) frame[c.flip_bit / 8] ^= uint8_t(0x80 >> (c.flip_bit % 8));
        frame_parameters p;
        unpack_frame(p, frame, kFrameTypeSpeech);
        EXPECT_EQ(p.words[3], c.expected_parity_error) << c.name;
        for (int i : {0, 1, 4, 5, 6, 7, 8, 9, 10}) EXPECT_EQ(p.words[i], kExampleWords[i]) << c.name;
    }
    const uint8_t zero[10] = {};
    frame_parameters p;
    unpack_frame(p, zero, kFrameTypeSpeech);
    EXPECT_EQ(p.words[3], 1) << "an all-zero frame fails the check";
    EXPECT_EQ(check_pitch_parity(0, 1), 0);
}

TEST(Bitstream, SidFrameFieldsAndIgnoredLastBit) {
    for (uint8_t last : {0xc3, 0xc2}) {
        const uint8_t sid[2] = {0xa5, last};
        frame_parameters p;
        unpack_frame(p, sid, kFrameTypeSid);
        EXPECT_EQ(p.frame_type, kFrameTypeSid);
        EXPECT_EQ(p.words[0], 1);
        EXPECT_EQ(p.words[1], 9);
        EXPECT_EQ(p.words[2], 7);
        EXPECT_EQ(p.words[3], 1);
    }
}

} // namespace
} // namespace g729
