#include "codec/bitstream.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

namespace g729 {
namespace {

const uint8_t kExampleFrame[10] = {0x8f, 0x65, 0x7d, 0x4e, 0x3e, 0x0a, 0xf2, 0xba, 0xf1, 0x5e};

speech_parameters example_parameters() {
    speech_parameters p{};
    p.lsp_first = 143;
    p.lsp_second = 405;
    p.pitch_parity = 0;
    p.subframes[0] = {245, 3646, 0, 87};
    p.subframes[1] = {18, 5982, 2, 94};
    return p;
}

// Every transmitted field with its width, to reach it by name in a table.
struct field_case {
    const char* name;
    int width;
    std::function<int&(speech_parameters&)> at;
};

const field_case kFields[] = {
    {"L0/L1", 8, [](speech_parameters& p) -> int& { return p.lsp_first; }},
    {"L2/L3", 10, [](speech_parameters& p) -> int& { return p.lsp_second; }},
    {"P1", 8, [](speech_parameters& p) -> int& { return p.subframes[0].pitch_index; }},
    {"P0", 1, [](speech_parameters& p) -> int& { return p.pitch_parity; }},
    {"C1", 13, [](speech_parameters& p) -> int& { return p.subframes[0].code_positions; }},
    {"S1", 4, [](speech_parameters& p) -> int& { return p.subframes[0].code_signs; }},
    {"GA1/GB1", 7, [](speech_parameters& p) -> int& { return p.subframes[0].gain_indices; }},
    {"P2", 5, [](speech_parameters& p) -> int& { return p.subframes[1].pitch_index; }},
    {"C2", 13, [](speech_parameters& p) -> int& { return p.subframes[1].code_positions; }},
    {"S2", 4, [](speech_parameters& p) -> int& { return p.subframes[1].code_signs; }},
    {"GA2/GB2", 7, [](speech_parameters& p) -> int& { return p.subframes[1].gain_indices; }},
};

void expect_fields_equal(speech_parameters a, speech_parameters b, const char* context) {
    for (const field_case& f : kFields) EXPECT_EQ(f.at(a), f.at(b)) << f.name << " " << context;
}

TEST(Bitstream, ExampleSpeechFrameUnpacksToItsFieldsAndPacksBack) {
    frame_parameters p;
    unpack_frame(p, kExampleFrame, frame_type::speech);
    EXPECT_EQ(p.type, frame_type::speech);
    expect_fields_equal(p.speech, example_parameters(), "example");
    EXPECT_FALSE(p.speech.parity_error);

    uint8_t out[10];
    int length = 0;
    pack_frame(example_parameters(), out, length);
    EXPECT_EQ(length, 10);
    EXPECT_EQ(0, std::memcmp(out, kExampleFrame, 10));
}

TEST(Bitstream, EveryFieldRoundTripsAtItsFullWidth) {
    for (const field_case& set : kFields) {
        speech_parameters p{};
        set.at(p) = (1 << set.width) - 1;
        uint8_t out[10];
        int length = 0;
        pack_frame(p, out, length);
        frame_parameters q;
        unpack_frame(q, out, frame_type::speech);
        expect_fields_equal(q.speech, p, set.name);
    }
}

TEST(Bitstream, OverWideFieldsAreMaskedOnPacking) {
    speech_parameters p{};
    p.subframes[0].pitch_index = 0x1FF;
    uint8_t out[10];
    int length = 0;
    pack_frame(p, out, length);
    frame_parameters q;
    unpack_frame(q, out, frame_type::speech);
    EXPECT_EQ(q.speech.subframes[0].pitch_index, 0xFF);
    EXPECT_EQ(q.speech.lsp_second, 0); // the ninth bit did not spill into L2/L3
    EXPECT_EQ(q.speech.lsp_first, 0);
}

struct ParityCase {
    const char* name;
    int flip_bit; // bit of the 80-bit frame to flip, -1 for none
    bool expected_parity_error;
};

TEST(Bitstream, ParityCheckCatchesFlippedParityAndTopPitchBits) {
    const ParityCase cases[] = {
        {"well-formed", -1, false},
        {"P0 flipped", 26, true},
        {"top bit of P1 flipped", 18, true},
        {"sixth bit of P1 flipped", 23, true},
        {"bit 1 of P1 is not covered", 24, false},
    };
    for (const ParityCase& c : cases) {
        uint8_t frame[10];
        std::memcpy(frame, kExampleFrame, 10);
        if (c.flip_bit >= 0) frame[c.flip_bit / 8] ^= uint8_t(0x80 >> (c.flip_bit % 8));
        frame_parameters p;
        unpack_frame(p, frame, frame_type::speech);
        EXPECT_EQ(p.speech.parity_error, c.expected_parity_error) << c.name;
        speech_parameters want = example_parameters();
        // Only the flipped field itself may differ.
        p.speech.subframes[0].pitch_index = want.subframes[0].pitch_index;
        p.speech.pitch_parity = want.pitch_parity;
        expect_fields_equal(p.speech, want, c.name);
    }
    const uint8_t zero[10] = {};
    frame_parameters p;
    unpack_frame(p, zero, frame_type::speech);
    EXPECT_TRUE(p.speech.parity_error) << "an all-zero frame fails the check";
    EXPECT_FALSE(check_pitch_parity(0, 1));
}

TEST(Bitstream, SidFrameFieldsAndIgnoredLastBit) {
    for (uint8_t last : {0xc3, 0xc2}) {
        const uint8_t sid[2] = {0xa5, last};
        frame_parameters p;
        unpack_frame(p, sid, frame_type::sid);
        EXPECT_EQ(p.type, frame_type::sid);
        EXPECT_EQ(p.sid.predictor_switch, 1);
        EXPECT_EQ(p.sid.lsf_first_stage, 9);
        EXPECT_EQ(p.sid.lsf_second_stage, 7);
        EXPECT_EQ(p.sid.energy_index, 1);
    }
}

} // namespace
} // namespace g729
