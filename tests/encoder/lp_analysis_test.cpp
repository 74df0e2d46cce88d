#include "codec/encoder/lp_analysis.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "codec/dsp/tables.h"

namespace g729 {
namespace {

TEST(LpAnalysis, SilenceGivesTheNoiseFloorAndAFlatFilter) {
    const double x[kLpAnalysisWindow] = {};
    autocorrelation_vector r;
    windowed_autocorrelation(x, 12, r);
    EXPECT_EQ(r[0], 1.0);
    apply_lag_window(12, r);
    EXPECT_EQ(r[0], 1.0001);
    for (int k = 1; k <= 12; ++k) EXPECT_EQ(r[k], 0.0) << "lag " << k;

    lp_coefficients a;
    levinson_durbin(r, a);
    EXPECT_EQ(a[0], 1.0);
    for (int i = 1; i <= kOrder; ++i) EXPECT_EQ(a[i], 0.0) << "a[" << i << "]";
}

TEST(LpAnalysis, FirstOrderProcessGivesOneReflectionCoefficient) {
    autocorrelation_vector r{};
    r[0] = 1000.0;
    for (int k = 1; k <= kOrder; ++k) r[k] = 0.5 * r[k - 1];
    lp_coefficients a;
    levinson_durbin(r, a);
    EXPECT_EQ(a[0], 1.0);
    EXPECT_NEAR(a[1], -0.5, 1e-12);
    for (int i = 2; i <= kOrder; ++i) EXPECT_NEAR(a[i], 0.0, 1e-12) << "a[" << i << "]";
}

// The last sample pair of every lag takes part: x[239-k] * x[239].
TEST(LpAnalysis, EveryLagReachesTheEndOfTheWindow) {
    for (int k = 1; k <= kMaxAutocorrelationLag; ++k) {
        double x[kLpAnalysisWindow] = {};
        x[kLpAnalysisWindow - 1 - k] = 100.0;
        x[kLpAnalysisWindow - 1] = 100.0;
        autocorrelation_vector r;
        windowed_autocorrelation(x, kMaxAutocorrelationLag, r);
        const double expected =
            (100.0 * lp_analysis_window[kLpAnalysisWindow - 1 - k]) * (100.0 * lp_analysis_window[kLpAnalysisWindow - 1]);
        EXPECT_EQ(r[k], expected) << "lag " << k;
    }
}

// Lags are accumulated several at a time; each must still be the plain sum
// from n = 0 upward to the bit, for every highest lag a caller may ask for
// (the lags beyond a block's shared range finish on their own).
TEST(LpAnalysis, EveryLagIsThePlainSumInIncreasingOrder) {
    double x[kLpAnalysisWindow];
    std::srand(11);
    for (int n = 0; n < kLpAnalysisWindow; ++n) x[n] = double(std::rand() % 65536 - 32768) / 3.0;
    double y[kLpAnalysisWindow];
    for (int n = 0; n < kLpAnalysisWindow; ++n) y[n] = x[n] * lp_analysis_window[n];
    for (int m = 0; m <= kMaxAutocorrelationLag; ++m) {
        autocorrelation_vector r;
        r.fill(-7.0);
        windowed_autocorrelation(x, m, r);
        for (int k = 0; k <= m; ++k) {
            double sum = 0.0;
            for (int n = 0; n < kLpAnalysisWindow - k; ++n) sum += y[n] * y[n + k];
            EXPECT_EQ(r[k], sum) << "m " << m << " lag " << k;
        }
        for (int k = m + 1; k <= kMaxAutocorrelationLag; ++k) EXPECT_EQ(r[k], -7.0) << "m " << m << " lag " << k;
    }
}

// Scaling the input by 2^-10 scales every product exactly by 2^-20, so the
// small signal's lags must be the large signal's lags to the bit; only r[0]
// is raised to the floor.
TEST(LpAnalysis, WeakSignalRaisesOnlyTheEnergyToTheFloor) {
    double loud[kLpAnalysisWindow];
    double weak[kLpAnalysisWindow];
    std::srand(7);
    for (int n = 0; n < kLpAnalysisWindow; ++n) {
        loud[n] = double(std::rand() % 2001 - 1000) / 1000.0;
        weak[n] = loud[n] / 1024.0;
    }
    autocorrelation_vector r_loud, r_weak;
    windowed_autocorrelation(loud, 10, r_loud);
    windowed_autocorrelation(weak, 10, r_weak);
    ASSERT_GT(r_loud[0] / (1024.0 * 1024.0), 0.0);
    ASSERT_LT(r_loud[0] / (1024.0 * 1024.0), 1.0);
    EXPECT_EQ(r_weak[0], 1.0);
    for (int k = 1; k <= 10; ++k) EXPECT_EQ(r_weak[k], r_loud[k] / (1024.0 * 1024.0)) << "lag " << k;
}

// A pure tone has a rank-2 autocorrelation: the prediction error collapses
// after the second order and the recursion must still end with numbers.
TEST(LpAnalysis, PureToneKeepsTheRecursionFinite) {
    for (double omega : {0.3, 0.785398163397, 1.0, 2.5}) {
        autocorrelation_vector r{};
        for (int k = 0; k <= kOrder; ++k) r[k] = 1e6 * std::cos(omega * k);
        lp_coefficients a;
        levinson_durbin(r, a);
        for (int i = 0; i <= kOrder; ++i) EXPECT_TRUE(std::isfinite(a[i])) << "omega " << omega << " a[" << i << "]";
    }
}

} // namespace
} // namespace g729
