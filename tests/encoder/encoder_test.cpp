#include "codec/encoder/encoder.h"
#include "codec/encoder/preprocess.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

namespace g729 {
namespace {

TEST(PreprocessFilter, RemovesDcAndKeepsTheVoiceBand) {
    const struct {
        double frequency; // Hz
        double low, high; // expected gain
    } cases[] = {{0.0, 0.0095, 0.0105}, {1000.0, 0.96, 1.0}, {3000.0, 0.97, 1.01}};
    for (const auto& c : cases) {
        pole_zero_memory memory;
        preprocess_reset(memory);
        double peak = 0.0;
        for (int block = 0; block < 100; ++block) {
            double x[kFrame];
            for (int i = 0; i < kFrame; ++i) {
                const int n = block * kFrame + i;
                x[i] = 10000.0 * std::cos(2.0 * 3.141592653589793 * c.frequency * n / 8000.0);
            }
            preprocess_filter(memory, x, kFrame);
            if (block >= 50) {
                for (double v : x) peak = std::fmax(peak, std::fabs(v));
            }
        }
        EXPECT_GT(peak / 10000.0, c.low) << c.frequency << " Hz";
        EXPECT_LT(peak / 10000.0, c.high) << c.frequency << " Hz";
    }
}

// A signal far below one quantization step dies out to exact zeros instead
// of leaving the recursion ringing with ever smaller values.
TEST(PreprocessFilter, TinyValuesAreFlushedToZero) {
    pole_zero_memory memory;
    preprocess_reset(memory);
    double x[kFrame] = {};
    x[0] = 1e-5;
    preprocess_filter(memory, x, kFrame);
    for (int i = 0; i < kFrame; ++i) EXPECT_EQ(x[i], 0.0) << "sample " << i;
    EXPECT_EQ(memory.y1, 0.0);
    EXPECT_EQ(memory.y2, 0.0);

    double y[kFrame] = {};
    y[0] = 100.0;
    preprocess_filter(memory, y, kFrame);
    EXPECT_NEAR(y[0], 92.727435, 1e-9);
}

TEST(FirstSubframePitchRange, StaysInsideTheLagLimits) {
    const struct {
        int t_op, t0_min, t0_max;
    } cases[] = {{20, 20, 26}, {23, 20, 26}, {24, 21, 27}, {80, 77, 83}, {140, 137, 143}, {142, 137, 143}, {143, 137, 143}};
    for (const auto& c : cases) {
        int t0_min, t0_max;
        first_subframe_pitch_range(c.t_op, t0_min, t0_max);
        EXPECT_EQ(t0_min, c.t0_min) << "T_op " << c.t_op;
        EXPECT_EQ(t0_max, c.t0_max) << "T_op " << c.t_op;
    }
}

TEST(CodeVectorCorrelations, SumsStartAtTheSmallOffset) {
    double xn[kSubframe], y1[kSubframe], y2[kSubframe];
    for (int k = 0; k < kSubframe; ++k) {
        xn[k] = 3.0;
        y1[k] = -1.0;
        y2[k] = k == 0 ? 2.0 : 0.0;
    }
    gain_correlations c = {7.0, 8.0, 0.0, 0.0, 0.0};
    code_vector_correlations(xn, y1, y2, c);
    EXPECT_EQ(c[0], 7.0);
    EXPECT_EQ(c[1], 8.0);
    EXPECT_DOUBLE_EQ(c[2], 4.01);
    EXPECT_DOUBLE_EQ(c[3], -2.0 * 6.01);
    EXPECT_DOUBLE_EQ(c[4], 2.0 * -1.99);
}

// All correlations of silence tie, so every search keeps its first
// candidate: the smallest lag, fraction 0.
TEST(AnalyseFrame, SilentFirstFrameCodesTheShortestLag) {
    auto state = std::make_unique<encoder_state>();
    preprocess_reset(state->preprocess_memory);
    encoder_reset(*state);
    speech_parameters params;
    analyse_frame(*state, params);
    EXPECT_EQ(params.subframes[0].pitch_index, 2); // t0 20, fraction 0
    EXPECT_EQ(params.pitch_parity, 1);
    EXPECT_EQ(params.subframes[0].code_positions, 0); // pulses at 0, 1, 2, 3
    EXPECT_EQ(params.subframes[0].code_signs, 15);
}

// The frame coded lies 40 samples behind the input: the first call codes 40
// zeros and the first half of its input, which serves as look-ahead only.
TEST(AnalyseFrame, InputIsShiftedThroughTheBuffersByOneFrame) {
    auto state = std::make_unique<encoder_state>();
    preprocess_reset(state->preprocess_memory);
    encoder_reset(*state);
    for (int i = 0; i < kFrame; ++i) state->speech_buffer[kSpeechNewInput + i] = 100.0 * (i + 1);
    speech_parameters params;
    analyse_frame(*state, params);
    for (int i = 0; i < kFrame; ++i) {
        EXPECT_EQ(state->speech_buffer[kSpeechNewInput - kFrame + i], 100.0 * (i + 1)) << "sample " << i;
    }
    for (int i = 0; i < kSpeechNewInput - kFrame; ++i) EXPECT_EQ(state->speech_buffer[i], 0.0);
}

} // namespace
} // namespace g729
