#include "codec/dsp/interpolation.h"

#include <gtest/gtest.h>

#include <cmath>

#include "codec/dsp/types.h"

namespace g729 {
namespace {

struct excitation_buffer {
    double samples[kExcitationHistory + kSubframe] = {};
    double* current() { return samples + kExcitationHistory; }
};

// A unit sample at -60 seen through each branch: output j reads it with the
// tap at its distance in thirds of a sample.
TEST(InterpolateExcitation, UnitSampleThroughEachBranch) {
    struct Case {
        int frac;
        int tap0, tap1; // taps seen by outputs 0 and 1
    };
    const Case cases[] = {
        {0, 0, 3},  // delay 60: distances 0 and 1
        {-1, 1, 4}, // delay 59 2/3: distances 1/3 and 4/3
        {+1, 1, 2}, // delay 60 1/3: distances 1/3 and 2/3
    };
    for (const Case& c : cases) {
        excitation_buffer b;
        b.current()[-60] = 1.0;
        interpolate_excitation(b.current(), 60, c.frac, kSubframe);
        EXPECT_EQ(b.current()[0], interpolation_filter_b30[c.tap0]) << "frac " << c.frac;
        EXPECT_EQ(b.current()[1], interpolation_filter_b30[c.tap1]) << "frac " << c.frac;
    }
}

TEST(InterpolateExcitation, FracZeroIsTheLowPassBranchNotAPlainCopy) {
    excitation_buffer b;
    b.current()[-50] = 1.0;
    interpolate_excitation(b.current(), 50, 0, kSubframe);
    EXPECT_EQ(b.current()[0], 0.898517);
    EXPECT_EQ(b.current()[1], 0.095915);
    EXPECT_EQ(b.current()[2], -0.084919);
}

// Outputs are written in increasing order over the current subframe, and
// the right-hand taps of an output reach up to ten samples past j - t0: for
// every lag below 50 they read outputs of the same call, never what the
// subframe held before.
TEST(InterpolateExcitation, ShortLagsReadTheirOwnOutputNotTheOldSubframe) {
    for (int t0 : {20, 39, 40, 45, 49}) {
        for (int frac : {-1, 0, 1}) {
            excitation_buffer b;
            for (int i = 0; i < kExcitationHistory; ++i) b.samples[i] = 1.0;
            for (int j = 0; j < kSubframe; ++j) b.current()[j] = 1e6;
            interpolate_excitation(b.current(), t0, frac, kSubframe);
            for (int j = 0; j < kSubframe; ++j) {
                ASSERT_LT(std::fabs(b.current()[j]), 10.0) << "t0 " << t0 << " frac " << frac << " j " << j;
            }
        }
    }
}

TEST(InterpolateExcitation, LagTwentyContinuesPeriodically) {
    excitation_buffer b;
    b.current()[-20] = 1.0;
    interpolate_excitation(b.current(), 20, 0, kSubframe);
    // The unit comes back one period later through the filter twice.
    EXPECT_EQ(b.current()[0], 0.898517);
    EXPECT_GT(b.current()[20], 0.7);
    // Recomputing outputs 20..39 from the buffer as the call left it gives
    // the same values: they were built from outputs 0..19.
    excitation_buffer again = b;
    interpolate_excitation(again.current() + 20, 20, 0, 20);
    for (int j = 20; j < kSubframe; ++j) EXPECT_EQ(again.current()[j], b.current()[j]) << j;
}

TEST(InterpolateExcitation, LongestLagReadsBackTo153Samples) {
    excitation_buffer reached;
    reached.current()[-153] = 1.0;
    interpolate_excitation(reached.current(), 143, +1, kSubframe);
    EXPECT_EQ(reached.current()[0], interpolation_filter_b30[29]);

    excitation_buffer beyond;
    beyond.current()[-154] = 1.0;
    interpolate_excitation(beyond.current(), 143, +1, kSubframe);
    for (int j = 0; j < kSubframe; ++j) EXPECT_EQ(beyond.current()[j], 0.0) << j;

    excitation_buffer whole;
    whole.current()[-152] = 1.0;
    interpolate_excitation(whole.current(), 143, 0, kSubframe);
    EXPECT_EQ(whole.current()[0], interpolation_filter_b30[27]);
}

TEST(InterpolateExcitation, NonPositiveLengthWritesNothing) {
    excitation_buffer b;
    b.current()[-40] = 1.0;
    b.current()[0] = 5.0;
    interpolate_excitation(b.current(), 40, 0, 0);
    EXPECT_EQ(b.current()[0], 5.0);
}

// Outputs are computed several at a time where the lag allows; every value
// must still be the one-by-one ordered sum, including the outputs that read
// earlier outputs of the same call and the lags too short to group.
TEST(InterpolateExcitation, EqualsTheOneByOneSumForEveryLagAndLength) {
    struct Case {
        int t0, frac;
    };
    const Case cases[] = {{10, 0},  {10, 1},  {17, -1}, {18, 0},  {18, 1},   {19, 1},  {20, -1}, {20, 0},
                          {20, 1},  {27, 1},  {39, -1}, {39, 1},  {40, 0},   {49, -1}, {49, 1},  {50, 0},
                          {50, -1}, {84, 1},  {143, -1}, {143, 0}, {143, 1}, {144, -1}};
    for (const Case& c : cases) {
        for (int n : {1, 7, 8, 9, 17, 31, kSubframe}) {
            double got[kExcitationHistory + 1 + kSubframe];
            for (int i = 0; i < kExcitationHistory + 1 + kSubframe; ++i) {
                got[i] = 1000.0 * std::sin(0.37 * i + c.t0) + 3.0 * (i % 11) - 1e-3 * c.frac;
            }
            double want[kExcitationHistory + 1 + kSubframe];
            for (int i = 0; i < kExcitationHistory + 1 + kSubframe; ++i) want[i] = got[i];

            // The plain reading: fraction +1/3 is the -1/3 branch a sample
            // further back; pairs of (right + left) taps added from 0 up.
            double* w = want + kExcitationHistory + 1;
            const int f = c.frac == 1 ? 2 : -c.frac;
            const int base = c.frac == 1 ? -c.t0 - 1 : -c.t0;
            for (int j = 0; j < n; ++j) {
                double s = 0.0;
                for (int i = 0; i < kInterpolationTaps; ++i) {
                    s += w[base + j + 1 + i] * interpolation_filter_b30[3 - f + 3 * i] +
                         w[base + j - i] * interpolation_filter_b30[f + 3 * i];
                }
                w[j] = s;
            }

            interpolate_excitation(got + kExcitationHistory + 1, c.t0, c.frac, n);
            for (int i = 0; i < kExcitationHistory + 1 + kSubframe; ++i) {
                ASSERT_EQ(got[i], want[i]) << "t0 " << c.t0 << " frac " << c.frac << " n " << n << " at "
                                           << i - kExcitationHistory - 1;
            }
        }
    }
}

} // namespace
} // namespace g729
