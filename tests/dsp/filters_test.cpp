#include "codec/dsp/filters.h"

#include <gtest/gtest.h>

#include <cmath>

namespace g729 {
namespace {

// A stable, clearly non-trivial filter.
const lp_coefficients kFilter = {1.0, -1.2, 0.9, -0.35, 0.1, 0.05, -0.08, 0.04, -0.02, 0.01, -0.005};

void fill_signal(double* x, int n) {
    for (int i = 0; i < n; ++i) x[i] = 1000.0 * std::sin(0.3 * i) + 37.0 * (i % 7);
}

TEST(SynthesisFilter, InPlaceFilteringEqualsFilteringIntoAnotherArray) {
    double x[kSubframe];
    double y[kSubframe];
    fill_signal(x, kSubframe);
    filter_memory m1 = {1, -2, 3, -4, 5, -6, 7, -8, 9, -10};
    filter_memory m2 = m1;
    synthesis_filter(kFilter, x, y, kSubframe, m1.data(), true);
    synthesis_filter(kFilter, x, x, kSubframe, m2.data(), true);
    for (int i = 0; i < kSubframe; ++i) EXPECT_EQ(x[i], y[i]) << i;
    EXPECT_EQ(m1, m2);
}

// The post-filter's tilt stage passes part of the output array as memory.
TEST(SynthesisFilter, ImpulseResponseWithTheArrayItselfAsMemory) {
    double h[kSubframe] = {1.0};
    synthesis_filter(kFilter, h, h, kSubframe, h + 1, false);

    double want[kSubframe];
    for (int k = 0; k < kSubframe; ++k) {
        double s = k == 0 ? 1.0 : 0.0;
        for (int i = 1; i <= kOrder && i <= k; ++i) s -= kFilter[i] * want[k - i];
        want[k] = s;
    }
    for (int k = 0; k < kSubframe; ++k) EXPECT_EQ(h[k], want[k]) << k;
}

TEST(SynthesisFilter, UpdatedMemoryFlushesOnlyValuesBelow2e5) {
    // With a flat filter the output is the input itself.
    const lp_coefficients flat = {1.0};
    const double x[kOrder] = {1.9e-5, -1.9e-5, 2e-5, -2e-5, 0.5, 1.99999e-5, 3e-5, -1e-9, 7.0, -1.9e-5};
    double y[kOrder];
    filter_memory memory{};
    synthesis_filter(flat, x, y, kOrder, memory.data(), true);
    const filter_memory want = {0.0, 0.0, 2e-5, -2e-5, 0.5, 0.0, 3e-5, 0.0, 7.0, 0.0};
    EXPECT_EQ(memory, want);
    for (int i = 0; i < kOrder; ++i) EXPECT_EQ(y[i], x[i]) << "outputs are never flushed";
}

TEST(SynthesisFilter, ShortBlockShiftsTheMemory) {
    const lp_coefficients flat = {1.0};
    filter_memory memory = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    const double x[3] = {11, 12, 13};
    double y[3];
    synthesis_filter(flat, x, y, 3, memory.data(), true);
    const filter_memory want = {4, 5, 6, 7, 8, 9, 10, 11, 12, 13};
    EXPECT_EQ(memory, want);

    filter_memory untouched = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    const filter_memory before = untouched;
    synthesis_filter(kFilter, x, y, 3, untouched.data(), false);
    EXPECT_EQ(untouched, before);
}

// The filter keeps its recent outputs in registers; every output and the
// updated memory must still be the plain recursion over the signal with the
// memory in front, subtracting a[1] y[k-1] first.
TEST(SynthesisFilter, EqualsThePlainRecursionForEveryLength) {
    const filter_memory memory = {1e3, -2.5, 3.25, -4e-6, 5, -6e4, 1.5e-5, -8, 9.5, -10};
    for (int n : {1, 3, 9, 10, 11, 22, kSubframe}) {
        double x[kSubframe];
        fill_signal(x, kSubframe);
        double line[kOrder + kSubframe];
        for (int j = 0; j < kOrder; ++j) line[j] = memory[j];
        for (int k = 0; k < n; ++k) {
            double s = x[k];
            for (int i = 1; i <= kOrder; ++i) s -= kFilter[i] * line[kOrder + k - i];
            line[kOrder + k] = s;
        }
        filter_memory want_memory;
        for (int j = 0; j < kOrder; ++j) {
            const double v = line[n + j];
            want_memory[j] = std::fabs(v) < 2e-5 ? 0.0 : v;
        }

        double y[kSubframe];
        filter_memory updated = memory;
        synthesis_filter(kFilter, x, y, n, updated.data(), true);
        for (int k = 0; k < n; ++k) EXPECT_EQ(y[k], line[kOrder + k]) << "n " << n << " k " << k;
        EXPECT_EQ(updated, want_memory) << "n " << n;

        filter_memory kept = memory;
        synthesis_filter(kFilter, x, x, n, kept.data(), false);
        for (int k = 0; k < n; ++k) EXPECT_EQ(x[k], line[kOrder + k]) << "in place, n " << n << " k " << k;
        EXPECT_EQ(kept, memory) << "n " << n;
    }
}

TEST(ResidualFilter, InvertsTheSynthesisFilter) {
    double buffer[kOrder + kSubframe] = {};
    double* speech = buffer + kOrder;
    double excitation[kSubframe];
    fill_signal(excitation, kSubframe);
    filter_memory memory{};
    synthesis_filter(kFilter, excitation, speech, kSubframe, memory.data(), false);
    double residual[kSubframe];
    residual_filter(kFilter, speech, residual, kSubframe);
    for (int i = 0; i < kSubframe; ++i) EXPECT_NEAR(residual[i], excitation[i], 1e-9) << i;
}

TEST(ResidualFilter, ReadsTheTenSamplesInFrontOfItsInput) {
    double buffer[kOrder + 1] = {};
    buffer[0] = 1.0; // ten samples before the input
    double y;
    residual_filter(kFilter, buffer + kOrder, &y, 1);
    EXPECT_EQ(y, kFilter[10]);
}

// Outputs are accumulated several at a time; each must still be x[k] plus
// a[i] x[k - i] added in increasing i, whatever the length.
TEST(ResidualFilter, EveryOutputIsTheOrderedSumForEveryLength) {
    double buffer[kOrder + kSubframe];
    fill_signal(buffer, kOrder + kSubframe);
    const double* x = buffer + kOrder;
    for (int n : {1, 7, 8, 9, 17, kSubframe}) {
        double y[kSubframe + 1];
        y[n] = -7.0;
        residual_filter(kFilter, x, y, n);
        for (int k = 0; k < n; ++k) {
            double want = x[k];
            for (int i = 1; i <= kOrder; ++i) want += kFilter[i] * x[k - i];
            EXPECT_EQ(y[k], want) << "n " << n << " k " << k;
        }
        EXPECT_EQ(y[n], -7.0) << "n " << n;
    }
}

TEST(BandwidthExpand, ScalesCoefficientIByGammaToTheI) {
    const lp_coefficients a = {1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 2.0};
    lp_coefficients ap;
    bandwidth_expand(a, ap, 0.75);
    EXPECT_EQ(ap[0], 1.0);
    EXPECT_EQ(ap[1], 0.75);
    double f = 0.75;
    for (int i = 1; i < kOrder; ++i) {
        EXPECT_EQ(ap[i], f) << i;
        f *= 0.75;
    }
    EXPECT_EQ(ap[10], 2.0 * f);
    EXPECT_NEAR(ap[10], 2.0 * std::pow(0.75, 10), 1e-15);
}

TEST(VectorUtilities, NonPositiveLengthsTouchNothing) {
    double v[3] = {1, 2, 3};
    const double w[3] = {7, 8, 9};
    for (int n : {0, -1}) {
        set_zero(v, n);
        copy_vector(w, v, n);
        EXPECT_EQ(v[0], 1);
        EXPECT_EQ(v[2], 3);
    }
}

TEST(VectorUtilities, CopyShiftsAnOverlappingBufferLeft) {
    double v[6] = {0, 1, 2, 3, 4, 5};
    copy_vector(v + 2, v, 4);
    const double want[6] = {2, 3, 4, 5, 4, 5};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(v[i], want[i]) << i;
}

// The encoder filters its impulse response and its target together; the
// pair must be two ordinary calls, to the last bit, including the impulse
// response filtered in place with the array itself as memory.
TEST(SynthesisFilterPair, GivesExactlyTheOutputsOfTwoSeparateCalls) {
    for (int n : {1, 9, 10, 23, kSubframe}) {
        double x[kSubframe];
        fill_signal(x, kSubframe);
        const filter_memory memory = {1e3, -2.5, 3.25, -4e-6, 5, -6e4, 7, -8, 9.5, -10};
        double want_y[kSubframe];
        filter_memory scratch = memory;
        synthesis_filter(kFilter, x, want_y, n, scratch.data(), false);
        double want_h[kSubframe] = {1.0};
        synthesis_filter(kFilter, want_h, want_h, n, want_h + 1, false);

        double y[kSubframe];
        double h[kSubframe] = {1.0};
        synthesis_filter_pair(kFilter, n, h, h, h + 1, x, y, memory.data());
        for (int k = 0; k < n; ++k) {
            EXPECT_EQ(h[k], want_h[k]) << "n " << n << " k " << k;
            EXPECT_EQ(y[k], want_y[k]) << "n " << n << " k " << k;
        }
    }
}

// The post-filter runs the impulse responses of two different filters
// together, each in place with the array itself as memory.
TEST(SynthesisFilterPair, TwoFiltersGiveExactlyTheOutputsOfTwoSeparateCalls) {
    const lp_coefficients other = {1.0, 0.7, -0.2, 0.31, -0.05, 0.12, 0.02, -0.09, 0.015, -0.03, 0.004};
    for (int n : {1, 9, 10, 22, kSubframe}) {
        double x[kSubframe];
        fill_signal(x, kSubframe);
        const filter_memory memory = {1e3, -2.5, 3.25, -4e-6, 5, -6e4, 7, -8, 9.5, -10};
        double want_h[kSubframe] = {1.0, -0.5, 0.25};
        synthesis_filter(kFilter, want_h, want_h, n, want_h + 11, false);
        double want_y[kSubframe];
        filter_memory scratch = memory;
        synthesis_filter(other, x, want_y, n, scratch.data(), false);

        double h[kSubframe] = {1.0, -0.5, 0.25};
        double y[kSubframe];
        synthesis_filter_pair(kFilter, other, n, h, h, h + 11, x, y, memory.data());
        for (int k = 0; k < n; ++k) {
            EXPECT_EQ(h[k], want_h[k]) << "n " << n << " k " << k;
            EXPECT_EQ(y[k], want_y[k]) << "n " << n << " k " << k;
        }
    }
}

// Up to four signals side by side, each with its own filter and memory,
// some updating their memory and some not, one in place with the array
// itself as memory: every output and every stored memory (with its small
// values flushed to zero) is what separate synthesis_filter calls give.
TEST(SynthesisFilterLanes, EveryLaneIsExactlyASeparateCall) {
    const lp_coefficients filters[4] = {
        kFilter,
        {1.0, 0.7, -0.2, 0.31, -0.05, 0.12, 0.02, -0.09, 0.015, -0.03, 0.004},
        {1.0, -1.9, 1.5, -0.6, 0.2, -0.1, 0.05, -0.02, 0.01, -0.004, 0.001},
        {1.0, 0.1, 0.1, 0.1, 0.1, 0.1, 0.1, 0.1, 0.1, 0.1, 0.1},
    };
    // Memories with values on both sides of the flush threshold.
    const filter_memory memories[4] = {
        {1e3, -2.5, 3.25, -4e-6, 5, -6e4, 7, -8, 9.5, -10},
        {0, 0, 0, 0, 0, 0, 0, 0, 1e-5, -1.5e-5},
        {-3, 2e-5, -2e-5, 1.9e-5, 4, 4, 4, 4, 4, 4},
        {1, 1, 1, 1, 1, 1, 1, 1, 1, 1},
    };
    for (int count = 1; count <= kMaxSynthesisLanes; ++count) {
        for (int n : {1, 9, 10, 22, kSubframe}) {
            double x[4][kSubframe];
            for (int l = 0; l < 4; ++l) fill_signal(x[l], kSubframe);
            // Lane 0 is an impulse response filtered in place, its memory
            // the zeros behind it; the last lane decays below the flush
            // threshold.
            double h[kSubframe] = {1.0, -0.5, 0.25};
            for (int k = 0; k < kSubframe; ++k) x[3][k] = k < 3 ? 1e-4 : 0.0;

            double want_h[kSubframe] = {1.0, -0.5, 0.25};
            synthesis_filter(filters[0], want_h, want_h, n, want_h + 11, 0);
            double want_y[4][kSubframe];
            filter_memory want_memory[4];
            for (int l = 1; l < count; ++l) {
                want_memory[l] = memories[l];
                synthesis_filter(filters[l], x[l], want_y[l], n, want_memory[l].data(), l % 2);
            }

            double y[4][kSubframe];
            filter_memory memory[4];
            synthesis_lane lanes[4];
            lanes[0] = {&filters[0], h, h, h + 11, nullptr};
            for (int l = 1; l < count; ++l) {
                memory[l] = memories[l];
                lanes[l] = {&filters[l], x[l], y[l], memory[l].data(), l % 2 != 0 ? memory[l].data() : nullptr};
            }
            synthesis_filter_lanes(lanes, count, n);
            for (int k = 0; k < n; ++k) {
                ASSERT_EQ(h[k], want_h[k]) << "lanes " << count << " n " << n << " k " << k;
                for (int l = 1; l < count; ++l) {
                    ASSERT_EQ(y[l][k], want_y[l][k]) << "lanes " << count << " lane " << l << " n " << n << " k " << k;
                }
            }
            for (int l = 1; l < count; ++l) EXPECT_EQ(memory[l], want_memory[l]) << "lanes " << count << " lane " << l;
        }
    }
}

} // namespace
} // namespace g729
