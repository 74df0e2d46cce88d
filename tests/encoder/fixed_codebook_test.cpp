#include "codec/encoder/fixed_codebook.h"

#include <gtest/gtest.h>

#include <cmath>

#include "codec/decoder/decoder.h"
#include "codec/dsp/types.h"

namespace g729 {
namespace {

// A decaying, ringing impulse response like that of a weighted synthesis
// filter.
void ringing_response(double* h) {
    for (int n = 0; n < kSubframe; ++n) h[n] = std::pow(0.8, n) * std::cos(0.9 * n);
}

struct pulse {
    int position;
    double sign;
};

// The target the given pulses produce through h.
void target_of(const pulse (&pulses)[4], const double* h, double* x) {
    for (int n = 0; n < kSubframe; ++n) x[n] = 0.0;
    for (const pulse& p : pulses) {
        for (int n = p.position; n < kSubframe; ++n) x[n] += 1000.0 * p.sign * h[n - p.position];
    }
}

TEST(FixedCodebook, ZeroTargetGivesTheFirstPositionsAllPositive) {
    double h[kSubframe];
    ringing_response(h);
    const double x[kSubframe] = {};
    double v[kSubframe], y[kSubframe];
    int sign_word = -1;
    EXPECT_EQ(fixed_codebook_search(x, h, 50, v, y, &sign_word, 0.5), 0);
    EXPECT_EQ(sign_word, 15);
    for (int n = 0; n < kSubframe; ++n) EXPECT_EQ(v[n], n < 4 ? 1.0 : 0.0) << "n " << n;
}

// Targets made of four pulses through the impulse response are found again,
// and the decoder reads the same pulses back from the index and sign word,
// including a pulse 3 in track 4 (bit 9 of the index).
TEST(FixedCodebook, PulsesAreFoundAndDecodedBack) {
    const pulse cases[][4] = {
        {{0, 1.0}, {1, 1.0}, {2, 1.0}, {3, 1.0}},
        {{10, -1.0}, {21, 1.0}, {7, -1.0}, {34, 1.0}},
        {{25, 1.0}, {16, -1.0}, {27, 1.0}, {29, -1.0}},
        {{15, -1.0}, {6, -1.0}, {32, -1.0}, {4, -1.0}},
        {{20, 1.0}, {26, -1.0}, {12, 1.0}, {18, -1.0}},
    };
    double h[kSubframe];
    ringing_response(h);
    for (const auto& pulses : cases) {
        double x[kSubframe];
        target_of(pulses, h, x);
        double search_h[kSubframe];
        for (int n = 0; n < kSubframe; ++n) search_h[n] = h[n];
        double v[kSubframe], y[kSubframe];
        int sign_word;
        const int index = fixed_codebook_search(x, search_h, 60, v, y, &sign_word, 0.7);
        EXPECT_EQ((index >> 9) & 1, pulses[3].position % 5 == 4 ? 1 : 0) << "pulse 3 at " << pulses[3].position;

        double expected[kSubframe] = {};
        for (const pulse& p : pulses) expected[p.position] = p.sign;
        double decoded[kSubframe];
        decode_fixed_code(sign_word, index, decoded);
        for (int n = 0; n < kSubframe; ++n) {
            EXPECT_EQ(v[n], expected[n]) << "position " << n << ", pulse 0 at " << pulses[0].position;
            EXPECT_EQ(decoded[n], expected[n]) << "position " << n << ", pulse 0 at " << pulses[0].position;
        }
    }
}

// With a lag shorter than the subframe both the response and the code
// vector repeat at the lag; y is the sharpened code vector through the
// response as it was passed in.
TEST(FixedCodebook, ShortLagSharpensResponseAndCodeVector) {
    const double beta = 0.6;
    double h[kSubframe];
    ringing_response(h);
    const pulse pulses[4] = {{5, 1.0}, {11, -1.0}, {22, 1.0}, {18, 1.0}};
    double x[kSubframe];
    target_of(pulses, h, x);

    for (int t0 : {25, 39}) {
        double search_h[kSubframe];
        for (int n = 0; n < kSubframe; ++n) search_h[n] = h[n];
        double v[kSubframe], y[kSubframe];
        int sign_word;
        fixed_codebook_search(x, search_h, t0, v, y, &sign_word, beta);
        for (int n = 0; n < kSubframe; ++n) {
            const double sharpened_h = n >= t0 ? h[n] + beta * h[n - t0] : h[n];
            EXPECT_EQ(search_h[n], sharpened_h) << "lag " << t0 << " h[" << n << "]";
        }
        double pulses_only[kSubframe];
        for (int n = 0; n < kSubframe; ++n) pulses_only[n] = n >= t0 ? v[n] - beta * v[n - t0] : v[n];
        for (int n = 0; n < kSubframe; ++n) {
            double filtered = 0.0;
            for (int k = 0; k <= n; ++k) filtered += v[k] * h[n - k];
            EXPECT_NEAR(y[n], filtered, 1e-9) << "lag " << t0 << " y[" << n << "]";
            EXPECT_TRUE(pulses_only[n] == 0.0 || std::fabs(pulses_only[n]) == 1.0) << "lag " << t0 << " v[" << n << "]";
        }
    }
}

// Two positions of a track with the same largest correlation: the lower one
// is pre-selected first and, with everything else equal, wins.
TEST(FixedCodebook, EqualCandidatesKeepTheLowerPosition) {
    double h[kSubframe] = {1.0}; // no cross-correlation between positions
    double x[kSubframe] = {};
    x[7] = 500.0;  // track 2
    x[12] = 500.0; // track 2, same value
    x[3] = 400.0;  // track 3
    x[20] = 300.0; // track 0
    x[1] = 200.0;  // track 1
    x[31] = 200.0; // track 1, same value
    double v[kSubframe], y[kSubframe];
    int sign_word;
    const int index = fixed_codebook_search(x, h, 80, v, y, &sign_word, 0.2);
    EXPECT_EQ(index & 7, 20 / 5);
    EXPECT_EQ((index >> 3) & 7, 1 / 5);
    EXPECT_EQ((index >> 6) & 7, 7 / 5);
    EXPECT_EQ((index >> 9) & 1, 0);
    EXPECT_EQ(index >> 10, 3 / 5);
    EXPECT_EQ(sign_word, 15);
}

} // namespace
} // namespace g729
