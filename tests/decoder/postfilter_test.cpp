#include "codec/decoder/postfilter.h"

#include <gtest/gtest.h>

#include <cmath>

#include "codec/bitstream.h"

namespace g729 {
namespace {

// A residual history of 143 past samples followed by the current 40.
struct residual {
    double samples[kPitchMax + kSubframe] = {};
    double* current() { return samples + kPitchMax; }
};

// Deterministic, uncorrelated-looking values.
double noise_value(int i) { return std::sin(1.7 * i * i + 0.3 * i) * 100.0; }

void fill_noise(residual& r) {
    for (int i = 0; i < kPitchMax + kSubframe; ++i) r.samples[i] = noise_value(i);
}

// p - r must equal g (r[j - lag] - r[j]) for one g across the subframe;
// returns that g.
double pitch_gain_for_lag(residual& r, const double* p, int lag) {
    double g = 0.0;
    int seen = 0;
    for (int j = 0; j < kSubframe; ++j) {
        const double d = r.current()[j - lag] - r.current()[j];
        if (std::fabs(d) < 1.0) continue;
        const double gj = (p[j] - r.current()[j]) / d;
        if (seen++ == 0) g = gj;
        EXPECT_NEAR(gj, g, 1e-9) << "lag " << lag << " j " << j;
    }
    return g;
}

TEST(LongTermPostfilter, WeakPeriodicityLeavesTheResidualUnfiltered) {
    residual r;
    fill_noise(r);
    double p[kSubframe];
    long_term_postfilter(r.current(), 60, p);
    for (int j = 0; j < kSubframe; ++j) EXPECT_EQ(p[j], r.current()[j]) << j;
}

TEST(LongTermPostfilter, LoudRepetitionTakesTheFixedThirds) {
    residual r;
    fill_noise(r);
    for (int j = 0; j < kSubframe; ++j) r.current()[j] = 2.0 * r.current()[j - 58];
    double p[kSubframe];
    long_term_postfilter(r.current(), 60, p);
    for (int j = 0; j < kSubframe; ++j) {
        EXPECT_EQ(p[j], 0.3333333333333333 * r.current()[j - 58] + 0.6666666666666666 * r.current()[j]) << j;
    }
}

TEST(LongTermPostfilter, WeakerRepetitionComputesAGainBelowOneThird) {
    residual r;
    fill_noise(r);
    for (int j = 0; j < kSubframe; ++j) r.current()[j] = 0.9 * r.current()[j - 63] + 0.05 * noise_value(j + 999);
    double p[kSubframe];
    long_term_postfilter(r.current(), 60, p);
    const double g = pitch_gain_for_lag(r, p, 63);
    EXPECT_GT(g, 0.25);
    EXPECT_LT(g, 1.0 / 3.0);
}

// The seven correlations share one pass; the choice of lag, the gain and
// every output must still be those of the lags taken one by one in
// increasing order, each correlation summed from 0 in increasing j.
void plain_long_term_postfilter(const double* r, int lag, double* p) {
    int t_min = lag - 3;
    int t_max = lag + 3;
    if (t_max > kPitchMax) {
        t_min = kPitchMax - 6;
        t_max = kPitchMax;
    }
    double best = -1e38;
    int best_lag = t_min;
    for (int k = t_min; k <= t_max; ++k) {
        double c = 0.0;
        for (int j = 0; j < kSubframe; ++j) c += r[j] * r[j - k];
        if (c > best) {
            best = c;
            best_lag = k;
        }
    }
    double delayed_energy = 0.5;
    double energy = 0.5;
    for (int j = 0; j < kSubframe; ++j) delayed_energy += r[j - best_lag] * r[j - best_lag];
    for (int j = 0; j < kSubframe; ++j) energy += r[j] * r[j];
    const double c = best < 0.0 ? 0.0 : best;
    if (c * c < 0.5 * energy * delayed_energy) {
        for (int j = 0; j < kSubframe; ++j) p[j] = r[j];
        return;
    }
    const double g = c > delayed_energy ? 0.3333333333333333 : (0.5 * c) * (1.0 / (delayed_energy + 0.5 * c));
    const double g0 = c > delayed_energy ? 0.6666666666666666 : 1.0 - g;
    for (int j = 0; j < kSubframe; ++j) p[j] = g * r[j - best_lag] + g0 * r[j];
}

TEST(LongTermPostfilter, EqualsTheLagsTakenOneByOne) {
    for (int lag : {19, 20, 45, 100, 139, 140, 141, 143}) {
        for (int offset = -4; offset <= 4; ++offset) {
            for (double strength : {0.6, 0.9, 2.0}) {
                const int period = lag + offset > kPitchMax ? kPitchMax : lag + offset;
                residual r;
                fill_noise(r);
                for (int j = 0; j < kSubframe; ++j) {
                    r.current()[j] = strength * r.current()[j - period] + 0.1 * noise_value(j + 500);
                }
                double p[kSubframe];
                double want[kSubframe];
                long_term_postfilter(r.current(), lag, p);
                plain_long_term_postfilter(r.current(), lag, want);
                for (int j = 0; j < kSubframe; ++j) {
                    ASSERT_EQ(p[j], want[j]) << "lag " << lag << " period " << period << " strength " << strength
                                             << " j " << j;
                }
            }
        }
    }
}

// Near the top of the lag range the search window is 137 .. 143 rather
// than reaching past the residual history.
TEST(LongTermPostfilter, SearchRangeStopsAt143) {
    struct Case {
        int lag, period;
        bool found;
    };
    const Case cases[] = {
        {141, 137, true},  // 138 .. 144 would miss it
        {140, 137, true},  // 137 .. 143 by the ordinary rule
        {139, 143, false}, // 136 .. 142: the ordinary rule applies below 141
        {130, 137, false}, // 127 .. 133
    };
    for (const Case& c : cases) {
        residual r;
        fill_noise(r);
        for (int j = 0; j < kSubframe; ++j) r.current()[j] = 0.9 * r.current()[j - c.period];
        double p[kSubframe];
        long_term_postfilter(r.current(), c.lag, p);
        bool filtered = false;
        for (int j = 0; j < kSubframe; ++j) filtered = filtered || p[j] != r.current()[j];
        EXPECT_EQ(filtered, c.found) << "lag " << c.lag << " period " << c.period;
        if (c.found) pitch_gain_for_lag(r, p, c.period);
    }
}

TEST(Postfilter, SilenceStaysExactlySilentAndTheGainRecovers) {
    postfilter_state state;
    postfilter_reset(state);
    pole_zero_memory high_pass;
    postprocess_reset(high_pass);
    lp_filter_pair filters{};
    filters[0] = {1.0, -0.9, 0.2};
    filters[1] = filters[0];
    const pitch_lags lags = {60, 60};

    double buffer[kSynthesisHistory + kFrame] = {};
    postfilter_frame(state, buffer, filters, lags, frame_type::speech);
    postprocess_filter(high_pass, buffer + kSynthesisHistory, kFrame);
    for (double v : buffer) EXPECT_EQ(v, 0.0);
    EXPECT_EQ(state.agc_gain, 0.0);

    double previous_gain = 0.0;
    for (int frame = 0; frame < 4; ++frame) {
        for (int i = 0; i < kFrame; ++i) buffer[kSynthesisHistory + i] = 1000.0 * std::sin(0.2 * (frame * kFrame + i));
        postfilter_frame(state, buffer, filters, lags, frame_type::speech);
        EXPECT_GT(state.agc_gain, previous_gain);
        previous_gain = state.agc_gain;
    }
}

TEST(Postfilter, KeepsTheLastTenUnfilteredSamplesAsHistory) {
    postfilter_state state;
    postfilter_reset(state);
    lp_filter_pair filters{};
    filters[0] = {1.0, -0.9, 0.2};
    filters[1] = filters[0];
    double buffer[kSynthesisHistory + kFrame] = {};
    double unfiltered[kFrame];
    for (int i = 0; i < kFrame; ++i) unfiltered[i] = buffer[kSynthesisHistory + i] = 500.0 * std::cos(0.5 * i) + i;
    postfilter_frame(state, buffer, filters, pitch_lags{40, 40}, frame_type::speech);
    for (int i = 0; i < kSynthesisHistory; ++i) EXPECT_EQ(buffer[i], unfiltered[kFrame - kSynthesisHistory + i]);
}

// With a flat LP filter the short-term and tilt stages do nothing, so a SID
// frame (no pitch stage) comes out as it went in, while a speech frame
// with a strong repetition at its lag is changed.
TEST(Postfilter, SidFramesSkipThePitchStage) {
    lp_filter_pair flat{};
    flat[0][0] = 1.0;
    flat[1][0] = 1.0;
    const pitch_lags lags = {50, 50};
    double signal[4 * kFrame];
    for (int i = 0; i < 4 * kFrame; ++i) signal[i] = noise_value(i % 50) * std::pow(1.01, i) + 3.0 * noise_value(i + 7);

    for (frame_type type : {frame_type::sid, frame_type::speech}) {
        postfilter_state state;
        postfilter_reset(state);
        double buffer[kSynthesisHistory + kFrame] = {};
        double largest_change = 0.0;
        for (int frame = 0; frame < 4; ++frame) {
            const double* in = signal + frame * kFrame;
            for (int i = 0; i < kFrame; ++i) buffer[kSynthesisHistory + i] = in[i];
            postfilter_frame(state, buffer, flat, lags, type);
            for (int i = 0; i < kFrame; ++i) {
                largest_change = std::fmax(largest_change, std::fabs(buffer[kSynthesisHistory + i] - in[i]));
            }
        }
        if (type == frame_type::sid) {
            EXPECT_LT(largest_change, 1e-6);
        } else {
            EXPECT_GT(largest_change, 1.0);
        }
    }
}

TEST(PostprocessFilter, ImpulseResponseAndConstantInput) {
    pole_zero_memory memory;
    postprocess_reset(memory);
    double x[3] = {1.0, 0.0, 0.0};
    postprocess_filter(memory, x, 3);
    EXPECT_EQ(x[0], 0.93980581);
    EXPECT_DOUBLE_EQ(x[1], 0.93980581 * 1.9330735 - 1.8795834);

    // The zeros sit just off z = 1: about 1 % of a constant passes.
    postprocess_reset(memory);
    double constant[kFrame];
    for (int frame = 0; frame < 100; ++frame) {
        for (double& v : constant) v = 1000.0;
        postprocess_filter(memory, constant, kFrame);
    }
    EXPECT_NEAR(constant[kFrame - 1], 10.0, 0.2);

    double untouched = 5.0;
    postprocess_filter(memory, &untouched, 0);
    EXPECT_EQ(untouched, 5.0);
}

// The filter runs its recursion in locals; split into uneven blocks, every
// output must still be the plain pole-zero equation over the whole signal,
// terms taken left to right, with the memory carried between calls.
TEST(PostprocessFilter, BlocksGiveThePlainEquationAndCarryTheMemory) {
    double signal[2 * kFrame];
    for (int i = 0; i < 2 * kFrame; ++i) signal[i] = noise_value(i) * 40.0;
    double want[2 * kFrame];
    double x1 = 0.0, x2 = 0.0, y1 = 0.0, y2 = 0.0;
    for (int i = 0; i < 2 * kFrame; ++i) {
        const double y0 =
            1.9330735 * y1 + -0.93589199 * y2 + 0.93980581 * signal[i] + -1.8795834 * x1 + 0.93980581 * x2;
        x2 = x1;
        x1 = signal[i];
        y2 = y1;
        y1 = y0;
        want[i] = y0;
    }

    pole_zero_memory memory;
    postprocess_reset(memory);
    int start = 0;
    for (int length : {1, 2, 37, kFrame, 2 * kFrame - 120}) {
        postprocess_filter(memory, signal + start, length);
        start += length;
    }
    ASSERT_EQ(start, 2 * kFrame);
    for (int i = 0; i < 2 * kFrame; ++i) EXPECT_EQ(signal[i], want[i]) << i;
    EXPECT_EQ(memory.x1, x1);
    EXPECT_EQ(memory.x2, x2);
    EXPECT_EQ(memory.y1, y1);
    EXPECT_EQ(memory.y2, y2);
}

} // namespace
} // namespace g729
