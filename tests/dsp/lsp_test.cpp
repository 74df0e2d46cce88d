#include "codec/dsp/lsp.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include <cmath>
#include <limits>
#include <random>

namespace g729 {
namespace {

const double kPi = 3.141592653589793;

// The same number to the bit (so -0 is not +0), or NaN both: the search
// only ever compares values, and which NaN an operation passes on is the
// compiler's choice of operand order.
bool same_value(double a, double b) { return (std::isnan(a) && std::isnan(b)) || std::memcmp(&a, &b, sizeof a) == 0; }

// The search as written plainly: one grid point at a time, each of the
// current polynomial's values computed where the scan stands, a branch per
// bisection step. The codec's search must give its bits on every filter.
double plain_value(const lsp_half_polynomial& f, double x) {
    double b2 = 1.0;
    double b1 = 2.0 * x + f[1];
    for (int i = 2; i < 5; ++i) {
        const double b0 = 2.0 * x * b1 - b2 + f[i];
        b2 = b1;
        b1 = b0;
    }
    return x * b1 - b2 + 0.5 * f[5];
}

void plain_lp_to_lsp(const lp_coefficients& a, const lsp_vector& previous, lsp_vector& lsp) {
    std::array<double, 6> f[2];
    f[0][0] = 1.0;
    f[1][0] = 1.0;
    for (int i = 1; i <= 5; ++i) {
        f[0][i] = a[i] + a[kLpSize - i] - f[0][i - 1];
        f[1][i] = a[i] - a[kLpSize - i] + f[1][i - 1];
    }
    int current = 0, k = 0, j = 0;
    double xlow = lsp_search_grid[0];
    double ylow = plain_value(f[current], xlow);
    while (k < kOrder && j < kLspGridPoints - 1) {
        ++j;
        double xhigh = xlow, yhigh = ylow;
        xlow = lsp_search_grid[j];
        ylow = plain_value(f[current], xlow);
        if (ylow * yhigh <= 0.0) {
            --j;
            for (int step = 0; step < 2; ++step) {
                const double xmid = 0.5 * (xlow + xhigh);
                const double ymid = plain_value(f[current], xmid);
                if (ylow * ymid <= 0.0) {
                    xhigh = xmid;
                    yhigh = ymid;
                } else {
                    xlow = xmid;
                    ylow = ymid;
                }
            }
            const double xint = xlow - ylow * (xhigh - xlow) / (yhigh - ylow);
            lsp[k++] = xint;
            current = 1 - current;
            xlow = xint;
            ylow = plain_value(f[current], xint);
        }
    }
    if (k < kOrder) lsp = previous;
}

// The grid values, on the variant this processor runs and on the portable
// code, are each point's one-point value to the bit, and the sign-change
// bits are the products' tests; on polynomials of every size, with exact
// zeros and non-finite coefficients.
TEST(LpToLsp, GridValuesAreTheOnePointValues) {
    std::mt19937_64 rng(31);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    for (int trial = 0; trial < 2000; ++trial) {
        lsp_half_polynomial f;
        f[0] = 1.0;
        const double scale = trial % 3 == 0 ? 1.0 : trial % 3 == 1 ? 4.0 : 1e300;
        for (int i = 1; i < 6; ++i) f[i] = trial % 7 == 0 ? double(int(rng() % 5) - 2) : scale * unit(rng);
        if (trial % 11 == 0) f[1 + rng() % 5] = std::numeric_limits<double>::quiet_NaN();
        if (trial % 13 == 0) f[1 + rng() % 5] = -std::numeric_limits<double>::infinity();
        lsp_grid_values fast, portable_values;
        evaluate_on_lsp_grid(f, fast);
        portable::evaluate_on_lsp_grid(f, portable_values);
        uint64_t want_changes = 0;
        for (int j = 0; j < kLspGridPoints; ++j) {
            const double want = plain_value(f, lsp_search_grid[j]);
            ASSERT_TRUE(same_value(fast.y[j], want)) << "trial " << trial << " point " << j;
            ASSERT_TRUE(same_value(portable_values.y[j], want)) << "trial " << trial << " point " << j;
            if (j > 0 && plain_value(f, lsp_search_grid[j - 1]) * want <= 0.0) want_changes |= uint64_t(1) << j;
        }
        ASSERT_EQ(fast.sign_changes, want_changes) << "trial " << trial;
        ASSERT_EQ(portable_values.sign_changes, want_changes) << "trial " << trial;
    }
}

// Random LSP vectors, sorted, some with roots closer than the grid, and
// random coefficient sets, stable or not, some of halves and wholes (whose
// polynomials are exactly zero at some grid points), with non-finite values
// among them.
TEST(LpToLsp, GivesThePlainSearchsBitsOnEveryFilter) {
    std::mt19937_64 rng(29);
    std::uniform_real_distribution<double> unit(-1.0, 1.0), small(-1e-3, 1e-3);
    const lsp_vector previous = {0.91, 0.8, 0.61, 0.42, 0.13, -0.1, -0.37, -0.6, -0.82, -0.95};
    int fallbacks = 0;
    for (int trial = 0; trial < 20000; ++trial) {
        lp_coefficients a;
        a[0] = 1.0;
        switch (trial % 5) {
        case 0:
        case 1: {
            lsp_vector q;
            for (double& v : q) v = unit(rng);
            std::sort(q.begin(), q.end(), [](double x, double y) { return x > y; });
            if (trial % 5 == 1) {
                // Crowd three neighbours together.
                const int i = int(rng() % 8);
                q[i + 1] = q[i] + small(rng);
                q[i + 2] = q[i] + small(rng);
            }
            lsp_to_lp(q, a);
            break;
        }
        case 2:
            for (int i = 1; i <= kOrder; ++i) a[i] = 3.0 * unit(rng);
            break;
        case 3:
            for (int i = 1; i <= kOrder; ++i) a[i] = 0.5 * double(int(rng() % 5) - 2);
            break;
        default:
            for (int i = 1; i <= kOrder; ++i) a[i] = unit(rng);
            a[1 + rng() % kOrder] = (trial / 5) % 2 == 0 ? std::numeric_limits<double>::quiet_NaN()
                                                          : std::numeric_limits<double>::infinity();
            break;
        }
        lsp_vector want = initial_lsp_vector, got = initial_lsp_vector;
        plain_lp_to_lsp(a, previous, want);
        lp_to_lsp(a, previous, got);
        fallbacks += want == previous ? 1 : 0;
        for (int i = 0; i < kOrder; ++i) {
            ASSERT_TRUE(same_value(got[i], want[i]))
                << "trial " << trial << " LSP " << i << ": " << got[i] << " against " << want[i];
        }
    }
    // Both ways out of the search were taken many times.
    EXPECT_GT(fallbacks, 2000);
    EXPECT_LT(fallbacks, 18000);
}

TEST(LpToLsp, FlatFilterHasTheEvenlySpacedRoots) {
    lp_coefficients flat{};
    flat[0] = 1.0;
    lsp_vector lsp;
    lp_to_lsp(flat, lsp_vector{}, lsp);
    const double want[kOrder] = {0.959485,  0.841172,  0.654851,  0.415370,  0.142324,
                                 -0.142324, -0.415370, -0.654851, -0.841172, -0.959485};
    for (int i = 0; i < kOrder; ++i) {
        EXPECT_NEAR(lsp[i], want[i], 5e-7) << i;
        EXPECT_NEAR(lsp[i], initial_lsp_vector[i], 2e-4) << i;
        EXPECT_NEAR(lsp[i], std::cos((i + 1) * kPi / 11.0), 1e-4) << i;
    }
}

TEST(LpToLsp, RoundTripReproducesAStableFilter) {
    const lsp_vector q = {0.97, 0.9, 0.75, 0.5, 0.3, 0.05, -0.3, -0.55, -0.8, -0.93};
    lp_coefficients a;
    lsp_to_lp(q, a);
    lsp_vector found;
    lp_to_lsp(a, initial_lsp_vector, found);
    for (int i = 0; i < kOrder; ++i) EXPECT_NEAR(found[i], q[i], 2e-3) << i;
    lp_coefficients back;
    lsp_to_lp(found, back);
    for (int i = 0; i <= kOrder; ++i) EXPECT_NEAR(back[i], a[i], 2e-2) << i;
}

// Two roots of one polynomial inside a single grid interval give no sign
// change there: they are skipped, fewer than ten roots remain, and the whole
// previous vector stands in, bit for bit.
TEST(LpToLsp, CloseRootsFallBackToThePreviousVectorExactly) {
    // q[0] and q[2] (both sum-polynomial roots) lie between grid points
    // 0.9510565 and 0.9297765, with q[1] between them.
    const lsp_vector crowded = {0.948, 0.945, 0.942, 0.4154, 0.1423, -0.1423, -0.4154, -0.6549, -0.8413, -0.9595};
    lp_coefficients a;
    lsp_to_lp(crowded, a);
    const lsp_vector previous = {0.91, 0.8, 0.61, 0.42, 0.13, -0.1, -0.37, -0.6, -0.82, -0.95};
    lsp_vector lsp = initial_lsp_vector;
    lp_to_lsp(a, previous, lsp);
    EXPECT_EQ(lsp, previous);
}

TEST(LspToLp, InitialVectorIsNearlyFlat) {
    lp_coefficients a;
    lsp_to_lp(initial_lsp_vector, a);
    EXPECT_EQ(a[0], 1.0);
    for (int i = 1; i <= kOrder; ++i) EXPECT_NEAR(a[i], 0.0, 3e-4) << i;
}

TEST(InterpolateLpFilters, SubframeFiltersComeFromTheMidpointAndTheCurrentVector) {
    const lsp_vector current = {0.97, 0.9, 0.75, 0.5, 0.3, 0.05, -0.3, -0.55, -0.8, -0.93};
    lp_filter_pair same;
    interpolate_lp_filters(current, current, same);
    EXPECT_EQ(same[0], same[1]);

    lp_filter_pair pair;
    interpolate_lp_filters(initial_lsp_vector, current, pair);
    lsp_vector mid;
    for (int i = 0; i < kOrder; ++i) mid[i] = 0.5 * initial_lsp_vector[i] + 0.5 * current[i];
    lp_coefficients first, second;
    lsp_to_lp(mid, first);
    lsp_to_lp(current, second);
    EXPECT_EQ(pair[0], first);
    EXPECT_EQ(pair[1], second);
}

TEST(LsfConversion, InPlaceEqualsSeparateArrays) {
    const lsf_vector w = {0.3, 0.6, 0.9, 1.2, 1.5, 1.8, 2.1, 2.4, 2.7, 3.0};
    lsp_vector separate;
    lsf_to_lsp(w, separate);
    lsf_vector in_place = w;
    lsf_to_lsp(in_place, in_place);
    EXPECT_EQ(in_place, separate);
    lsf_vector back;
    lsp_to_lsf(separate, back);
    for (int i = 0; i < kOrder; ++i) EXPECT_NEAR(back[i], w[i], 1e-12) << i;
}

TEST(LspSearchGrid, HoldsTheListedPoints) {
    EXPECT_EQ(lsp_search_grid[0], 0.9997559);
    EXPECT_EQ(lsp_search_grid[50], -0.9997559);
    EXPECT_EQ(lsp_search_grid[25], 0.0);
    EXPECT_EQ(lsp_search_grid[7], 0.9048271);
    const int lowered[] = {3, 15, 19};
    const double values[] = {0.9822872, 0.5877852, 0.3681245};
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(lsp_search_grid[lowered[k]], values[k]);
        EXPECT_EQ(lsp_search_grid[50 - lowered[k]], -values[k]);
    }
    for (int i = 1; i < 50; ++i) {
        EXPECT_NEAR(lsp_search_grid[i], std::cos(kPi * i / 50.0), 1.01e-7) << i;
        EXPECT_EQ(lsp_search_grid[i], -lsp_search_grid[50 - i]) << i;
    }
}

} // namespace
} // namespace g729
