#include "codec/encoder/pitch.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "codec/bitstream.h"
#include "codec/decoder/decoder.h"
#include "codec/dsp/interpolation.h"

namespace g729 {
namespace {

TEST(PitchLagCoding, FirstSubframeIndexAndSecondSubframeRange) {
    const struct {
        int t0, frac, index, t0_min, t0_max;
    } cases[] = {
        {20, 0, 2, 20, 29},     {20, 1, 3, 20, 29},     {24, -1, 13, 20, 29},   {50, 0, 92, 45, 54},
        {84, -1, 193, 79, 88},  {84, 1, 195, 79, 88},   {85, 0, 197, 80, 89},   {86, 0, 198, 81, 90},
        {138, 0, 250, 133, 142}, {139, 0, 251, 134, 143}, {140, 0, 252, 134, 143}, {143, 0, 255, 134, 143},
    };
    for (const auto& c : cases) {
        int t0_min = 0, t0_max = 0;
        EXPECT_EQ(encode_pitch_lag(c.t0, c.frac, t0_min, t0_max, kPitchMin, kPitchMax, 0), c.index)
            << "lag " << c.t0 << " frac " << c.frac;
        EXPECT_EQ(t0_min, c.t0_min) << "lag " << c.t0;
        EXPECT_EQ(t0_max, c.t0_max) << "lag " << c.t0;
    }
}

TEST(PitchLagCoding, SecondSubframeIndexIsRelativeToTheRange) {
    int t0_min = 134, t0_max = 143;
    EXPECT_EQ(encode_pitch_lag(134, -1, t0_min, t0_max, kPitchMin, kPitchMax, 40), 1);
    EXPECT_EQ(encode_pitch_lag(134, 0, t0_min, t0_max, kPitchMin, kPitchMax, 40), 2);
    EXPECT_EQ(encode_pitch_lag(143, 1, t0_min, t0_max, kPitchMin, kPitchMax, 40), 30);
    EXPECT_EQ(t0_min, 134);
    EXPECT_EQ(t0_max, 143);
}

// Every lag the searches can produce comes back from the decoder's reading
// of the two indices.
TEST(PitchLagCoding, DecoderRecoversEveryLag) {
    for (int t1 = kPitchMin; t1 <= kPitchMax; ++t1) {
        for (int f1 = -1; f1 <= 1; ++f1) {
            if (t1 > 84 && f1 != 0) continue; // no fractions there
            int t0_min = 0, t0_max = 0;
            const int index1 = encode_pitch_lag(t1, f1, t0_min, t0_max, kPitchMin, kPitchMax, 0);
            int t0, frac;
            decode_pitch_lag(index1, 0, 0, t0, frac);
            ASSERT_EQ(t0, t1);
            ASSERT_EQ(frac, f1);
            for (int t2 = t0_min; t2 <= t0_max; ++t2) {
                for (int f2 = -1; f2 <= 1; ++f2) {
                    const int index2 = encode_pitch_lag(t2, f2, t0_min, t0_max, kPitchMin, kPitchMax, 40);
                    decode_pitch_lag(index2, 1, t1, t0, frac);
                    ASSERT_EQ(t0, t2) << "first lag " << t1;
                    ASSERT_EQ(frac, f2) << "first lag " << t1;
                }
            }
        }
    }
}

TEST(PitchParity, EveryIndexPassesTheDecodersCheck) {
    EXPECT_EQ(pitch_parity(2), 1);
    EXPECT_EQ(pitch_parity(4), 0);
    EXPECT_EQ(pitch_parity(3), 1); // the two low bits are not covered
    EXPECT_EQ(pitch_parity(255), 1);
    for (int index = 0; index < 256; ++index) {
        EXPECT_FALSE(check_pitch_parity(index, pitch_parity(index))) << "index " << index;
    }
}

TEST(PitchGain, GainAndCorrelations) {
    double xn[kSubframe], y1[kSubframe];
    for (int i = 0; i < kSubframe; ++i) xn[i] = (i % 7) - 3.0;
    const struct {
        double scale; // y1 = scale * xn
        double gain;
    } cases[] = {{0.0, 0.0}, {1.0, 1.0}, {2.0, 0.5}, {0.5, 1.2}, {-1.0, 0.0}};
    for (const auto& c : cases) {
        double energy = 0.0;
        for (int i = 0; i < kSubframe; ++i) {
            y1[i] = c.scale * xn[i];
            energy += xn[i] * xn[i];
        }
        gain_correlations corr{};
        EXPECT_NEAR(pitch_gain(xn, y1, corr, kSubframe), c.gain, 1e-4) << "scale " << c.scale;
        EXPECT_NEAR(corr[0], 0.01 + c.scale * c.scale * energy, 1e-9);
        EXPECT_NEAR(corr[1], -2.0 * c.scale * energy + 0.01, 1e-9);
    }
}

// The deepest zones the lag can reach through the excitation: a zone above
// 60000 switches taming on only when the lag reads it.
TEST(Taming, TestReadsTheZonesOfTheLag) {
    const struct {
        int t0, frac, hot_zone, flag;
    } cases[] = {
        {20, 0, 0, 1},  {20, 0, 1, 0},  {31, 1, 0, 1},   {32, 0, 1, 1},   {80, 0, 0, 1},
        {90, 0, 0, 0},  {90, 0, 2, 1},  {143, 1, 1, 0},  {143, 1, 2, 1},  {143, 1, 3, 1},
        {143, 0, 3, 1}, {111, 0, 3, 0}, {111, 1, 3, 1},  {112, -1, 3, 1},
    };
    for (const auto& c : cases) {
        taming_error_record errors = {1.0, 1.0, 1.0, 1.0};
        errors[c.hot_zone] = 60000.5;
        EXPECT_EQ(taming_test(errors, c.t0, c.frac), c.flag == 1) << "lag " << c.t0 << " zone " << c.hot_zone;
    }
    const taming_error_record at_limit = {60000.0, 60000.0, 60000.0, 60000.0};
    EXPECT_FALSE(taming_test(at_limit, 50, 0));
}

TEST(Taming, UpdateTakesTheWorstZoneOfTheLag) {
    const struct {
        int t0;
        double gain;
        taming_error_record before;
        double worst;
    } cases[] = {
        {39, 0.5, {4.0, 100.0, 100.0, 100.0}, 3.0},  // a = 3, b = 2.5
        {39, 2.0, {1.0, 100.0, 100.0, 100.0}, 7.0},  // a = 3, b = 7
        {40, 0.5, {4.0, 100.0, 100.0, 100.0}, 3.0},  // zone 0 only
        {80, 0.5, {4.0, 10.0, 100.0, 100.0}, 6.0},   // zones 1 and 1
        {79, 0.5, {4.0, 10.0, 100.0, 100.0}, 6.0},   // zones 0 and 1
        {143, 0.5, {1e6, 1e6, 4.0, 10.0}, 6.0},      // zones 2 and 3
    };
    for (const auto& c : cases) {
        taming_error_record errors = c.before;
        taming_update(errors, c.t0, c.gain);
        EXPECT_EQ(errors[0], c.worst) << "lag " << c.t0;
        EXPECT_EQ(errors[1], c.before[0]);
        EXPECT_EQ(errors[2], c.before[1]);
        EXPECT_EQ(errors[3], c.before[2]);
    }
}

// A subframe inside an excitation buffer with random past excitation; the
// current subframe holds a stand-in for the LP residual.
struct excitation_fixture {
    double buffer[kExcitationHistory + kFrame];
    double* p = buffer + kExcitationHistory;
    explicit excitation_fixture(unsigned seed) {
        std::srand(seed);
        for (double& v : buffer) v = double(std::rand() % 2001 - 1000);
    }
    // The adaptive-codebook vector of (t0, frac) without disturbing p.
    void vector_of(int t0, int frac, double* out) const {
        double copy[kExcitationHistory + kFrame];
        for (int i = 0; i < kExcitationHistory + kFrame; ++i) copy[i] = buffer[i];
        interpolate_excitation(copy + kExcitationHistory, t0, frac, kSubframe);
        for (int i = 0; i < kSubframe; ++i) out[i] = copy[kExcitationHistory + i];
    }
};

// With a unit impulse response the search correlates the target directly
// with the candidate vectors, so a target equal to one candidate picks it.
TEST(ClosedLoopPitch, FractionsOnlyUpTo84InTheFirstSubframe) {
    double h[kSubframe] = {1.0};
    const struct {
        int t0, frac, offset;
        int expected_frac;
    } cases[] = {
        {84, -1, 0, -1}, {84, 1, 0, 1}, {84, 0, 0, 0}, {85, 1, 0, 0},
        {85, -1, 0, 0},  {85, 1, 40, 1}, {85, -1, 40, -1}, {143, 1, 40, 1},
    };
    for (const auto& c : cases) {
        excitation_fixture exc(11);
        double xn[kSubframe];
        exc.vector_of(c.t0, c.frac, xn);
        int frac = 99;
        const int t0 = closed_loop_pitch_search(exc.p, xn, h, kSubframe, c.t0, c.t0, c.offset, frac);
        EXPECT_EQ(t0, c.t0);
        EXPECT_EQ(frac, c.expected_frac) << "lag " << c.t0 << " frac " << c.frac << " offset " << c.offset;
        // The buffer is left holding the vector of what was returned, also
        // when a rejected +1/3 trial had overwritten it.
        double expected[kSubframe];
        exc.vector_of(t0, frac, expected);
        for (int i = 0; i < kSubframe; ++i) ASSERT_EQ(exc.p[i], expected[i]) << "sample " << i;
    }
}

TEST(ClosedLoopPitch, IntegerSearchFindsTheLagAndKeepsTheFirstOfEqualLags) {
    double h[kSubframe] = {1.0};
    int frac;
    // Lags are correlated four at a time with the rest one by one: the lag is
    // found in every lane and among the rest.
    for (int lag : {52, 54, 55, 57, 60, 61}) {
        excitation_fixture exc(5);
        double xn[kSubframe];
        exc.vector_of(lag, 0, xn);
        EXPECT_EQ(closed_loop_pitch_search(exc.p, xn, h, kSubframe, 52, 61, 40, frac), lag) << "lag " << lag;
    }

    // A zero target gives equal correlations everywhere: the smallest lag.
    excitation_fixture flat(5);
    const double zero[kSubframe] = {};
    EXPECT_EQ(closed_loop_pitch_search(flat.p, zero, h, kSubframe, 52, 61, 40, frac), 52);
    EXPECT_EQ(frac, 0);
}

// Outputs are accumulated several at a time; each must still be the plain
// sum from i = 0 upward to the bit, the short sums at the end of each block
// included.
TEST(BackwardCorrelation, EveryOutputIsThePlainSumInIncreasingOrder) {
    double h[kSubframe], x[kSubframe];
    std::srand(5);
    for (int i = 0; i < kSubframe; ++i) {
        h[i] = double(std::rand() % 20001 - 10000) / 7.0;
        x[i] = double(std::rand() % 65536 - 32768) / 3.0;
    }
    double d[kSubframe];
    backward_correlation(h, x, d);
    for (int k = 0; k < kSubframe; ++k) {
        double sum = 0.0;
        for (int i = 0; i < kSubframe - k; ++i) sum += h[i] * x[i + k];
        EXPECT_EQ(d[k], sum) << "d[" << k << "]";
    }
}

// Weighted speech that is a pulse train: the open-loop lag is its period,
// not a multiple of it.
TEST(OpenLoopPitch, PulseTrainGivesItsPeriod) {
    // Periods sit in every lane of the lags searched together, at the ends of
    // the three ranges and on an odd neighbour of the even grid.
    for (int period : {20, 21, 22, 23, 25, 30, 37, 39, 41, 50, 64, 78, 79, 81, 100, 142}) {
        double w[kPitchMax + kFrame] = {};
        for (int n = kPitchMax + kFrame - 2; n >= 0; n -= period) w[n] = 1000.0;
        EXPECT_EQ(open_loop_pitch_search(w + kPitchMax, kFrame), period) << "period " << period;
    }
    const double silence[kPitchMax + kFrame] = {};
    EXPECT_EQ(open_loop_pitch_search(silence + kPitchMax, kFrame), 20);
}

} // namespace
} // namespace g729
