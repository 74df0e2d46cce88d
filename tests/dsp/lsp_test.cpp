#include "codec/dsp/lsp.h"

#include <gtest/gtest.h>

#include <cmath>

namespace g729 {
namespace {

const double kPi = 3.141592653589793;

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
