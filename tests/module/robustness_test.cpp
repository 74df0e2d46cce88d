// Whatever a peer or a broken caller sends, the translators neither crash
// nor write outside their areas: random payloads and frames of every size,
// well-formed or not. Run under the sanitizer build, this is the fuzz pass.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "tests/module/host_fixture.h"

namespace g729_test {
namespace {

using corvane::translation_step;
using Robustness = LoadedModule;

TEST_F(Robustness, RandomPayloadsDecodeOrAreRefusedCleanly) {
    std::mt19937 rng(20261210);
    translation_step step(decoder_translator());
    std::vector<uint8_t> payload(64);
    long accepted = 0, refused = 0;
    for (int round = 0; round < 3000; ++round) {
        const int length = int(rng() % 48);
        for (int i = 0; i < length; ++i) payload[size_t(i)] = uint8_t(rng());
        cvn_frame f = g729_frame(payload.data(), length);
        const int before = step.pvt().samples;
        const int result = step.framein(&f);
        (result == 0 ? accepted : refused)++;
        const int decoded = step.pvt().samples - before;
        // Whole codec frames only, never past the buffer, and a refusal
        // keeps only the frames in front of the ragged end.
        ASSERT_EQ(decoded % 80, 0);
        ASSERT_LE(step.pvt().samples, 8000);
        ASSERT_EQ(step.pvt().datalen, 2 * step.pvt().samples);
        if (result == 0) {
            ASSERT_EQ(decoded, 80 * (length / 10 + (length % 10 == 2 ? 1 : 0)));
        } else {
            ASSERT_EQ(decoded, 80 * (length / 10));
        }
        if (round % 3 == 0) step.frameout();
    }
    EXPECT_GT(accepted, 0);
    EXPECT_GT(refused, 0);
}

TEST_F(Robustness, RandomSlinFramesAreBufferedOrRefusedCleanly) {
    std::mt19937 rng(8000);
    translation_step step(encoder_translator());
    std::vector<int16_t> samples(700);
    for (int16_t& s : samples) s = int16_t(rng());
    long frames_out = 0;
    for (int round = 0; round < 2000; ++round) {
        cvn_frame f = slin_frame(samples.data(), int(rng() % 700));
        switch (rng() % 8) {
        case 0: f.samples = -int(rng() % 100); break;        // negative count
        case 1: f.datalen = int(rng() % (f.samples * 2 + 1)) - 1; break; // short data
        case 2: f.data = nullptr; break;
        default: break;
        }
        const int before = step.pvt().samples;
        const bool sound = f.samples >= 0 && f.datalen >= 2 * f.samples && (f.samples == 0 || f.data != nullptr);
        const int result = step.framein(&f);
        if (!sound || before + f.samples > 8000) {
            ASSERT_EQ(result, -1);
            ASSERT_EQ(step.pvt().samples, before);
        } else {
            ASSERT_EQ(result, 0);
            ASSERT_EQ(step.pvt().samples, before + f.samples);
        }
        if (rng() % 4 != 0) {
            if (cvn_frame* out = step.frameout()) {
                ASSERT_EQ(out->datalen, out->samples / 8);
                frames_out += out->datalen / 10;
            }
            ASSERT_LT(step.pvt().samples, 80);
        }
    }
    EXPECT_GT(frames_out, 0);
    messages();
}

} // namespace
} // namespace g729_test
