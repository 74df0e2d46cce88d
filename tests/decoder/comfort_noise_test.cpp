#include "codec/decoder/comfort_noise.h"

#include <gtest/gtest.h>

#include <cmath>

#include "codec/dsp/lsp.h"
#include "codec/dsp/lsp_codebook.h"

namespace g729 {
namespace {

TEST(RandomWord, SequenceFrom11111WrapsToSixteenBits) {
    int16_t seed = kInitialNoiseSeed;
    EXPECT_EQ(random_word(seed), 10260);
    EXPECT_EQ(random_word(seed), -3043);
    EXPECT_EQ(random_word(seed), -20782);
    EXPECT_EQ(seed, -20782);

    int16_t extreme = -32768;
    EXPECT_EQ(random_word(extreme), int16_t(uint16_t((-32768 * 31821 + 13849) & 0xFFFF)));
}

TEST(RandomExcitation, FirstSubframeAfterSpeechUsesTheKnownParameters) {
    int16_t seed = kInitialNoiseSeed;
    const noise_subframe_parameters q = draw_noise_parameters(seed);
    EXPECT_EQ(q.frac, -1);
    EXPECT_EQ(q.t0, 45);
    const int positions[4] = {0, 11, 27, 4};
    const double signs[4] = {1.0, -1.0, 1.0, -1.0};
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(q.positions[k], positions[k]) << k;
        EXPECT_EQ(q.signs[k], signs[k]) << k;
    }
    EXPECT_EQ(q.adaptive_gain, 0.2315673828125);
}

// The four pulses take the amplitude that brings the subframe energy to
// 40 G^2, unless that amplitude exceeds the 5000 bound.
TEST(RandomExcitation, BringsEachSubframeToFortyTimesTheSquaredGain) {
    struct Case {
        double gain;
        bool reached;
    };
    const Case cases[] = {{0.502, true}, {31.698, true}, {1002.374, true}, {3990.525, false}};
    for (const Case& c : cases) {
        double buffer[kExcitationHistory + kFrame];
        for (int i = 0; i < kExcitationHistory; ++i) buffer[i] = 20.0 * std::sin(0.4 * i);
        int16_t seed = kInitialNoiseSeed;
        random_excitation(buffer + kExcitationHistory, seed, c.gain);
        const double target = 40.0 * c.gain * c.gain;
        for (int s = 0; s < kSubframes; ++s) {
            const double* x = buffer + kExcitationHistory + s * kSubframe;
            double energy = 0.0;
            for (int i = 0; i < kSubframe; ++i) energy += x[i] * x[i];
            if (c.reached) {
                EXPECT_NEAR(energy, target, 1e-9 * target) << "gain " << c.gain << " subframe " << s;
            } else {
                EXPECT_LT(energy, target) << "gain " << c.gain << " subframe " << s;
            }
        }
    }
}

TEST(RandomExcitation, AdvancesTheSeedBy966Draws) {
    double buffer[kExcitationHistory + kFrame] = {};
    int16_t seed = 1234;
    random_excitation(buffer + kExcitationHistory, seed, 100.0);
    int16_t reference = 1234;
    for (int i = 0; i < 966; ++i) random_word(reference);
    EXPECT_EQ(seed, reference);
}

struct ComfortNoiseFixture : ::testing::Test {
    comfort_noise_state state{};
    lsf_memory memory;
    lsp_vector previous = initial_lsp_vector;
    int16_t seed = kInitialNoiseSeed;
    double buffer[kExcitationHistory + kFrame] = {};
    lp_filter_pair filters;

    void SetUp() override {
        comfort_noise_reset(state);
        reset_lsf_memory(memory);
    }
    void frame(frame_type previous_type, int energy) {
        const sid_parameters sid{0, 3, 5, energy};
        comfort_noise_frame(state, previous_type, sid, buffer + kExcitationHistory, previous, memory, seed, filters);
    }
};

TEST_F(ComfortNoiseFixture, GainIsTakenAfterSpeechAndSmoothedAfterSid) {
    frame(frame_type::speech, 20);
    EXPECT_EQ(state.current_noise_gain, 316.979);
    frame(frame_type::sid, 10);
    EXPECT_EQ(state.sid_gain, 31.698);
    EXPECT_EQ(state.current_noise_gain, 0.875 * 316.979 + 0.125 * 31.698);
    frame(frame_type::speech, 0);
    EXPECT_EQ(state.current_noise_gain, 0.502);
    frame(frame_type::speech, 31);
    EXPECT_EQ(state.current_noise_gain, 3990.525);
}

TEST_F(ComfortNoiseFixture, FiltersMoveFromThePreviousLspsToTheSidLsps) {
    const lsp_vector before = previous;
    const lsf_memory memory_before = memory;
    frame(frame_type::speech, 5);
    EXPECT_EQ(previous, state.sid_lsp);
    lp_filter_pair want;
    interpolate_lp_filters(before, state.sid_lsp, want);
    EXPECT_EQ(filters, want);
    // One vector joined the shared LSF history.
    EXPECT_EQ(memory[1], memory_before[0]);
    EXPECT_NE(memory[0], memory_before[0]);
    for (int i = 1; i < kOrder; ++i) EXPECT_LT(state.sid_lsp[i], state.sid_lsp[i - 1]) << i;
}

} // namespace
} // namespace g729
