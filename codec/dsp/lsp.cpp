#include "codec/dsp/lsp.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "codec/dsp/cpu.h"
#include "codec/dsp/simd.h"
#include "codec/dsp/x86/avx2.h"

namespace g729 {

namespace {
// Entries 1..49 are cos(pi*i/50) to seven decimals, except 3, 15, 19 and
// their mirrors, which sit one unit lower in magnitude; the end points stop
// short of +-1.
constexpr std::array<double, kLspGridPoints> grid_points = {
    0.9997559,  0.9980267,  0.9921147,  0.9822872,  0.9685832,  0.9510565,  0.9297765,  0.9048271,
    0.8763067,  0.8443279,  0.8090170,  0.7705132,  0.7289686,  0.6845471,  0.6374240,  0.5877852,
    0.5358268,  0.4817537,  0.4257793,  0.3681245,  0.3090170,  0.2486899,  0.1873813,  0.1253332,
    0.0627905,  0.0,        -0.0627905, -0.1253332, -0.1873813, -0.2486899, -0.3090170, -0.3681245,
    -0.4257793, -0.4817537, -0.5358268, -0.5877852, -0.6374240, -0.6845471, -0.7289686, -0.7705132,
    -0.8090170, -0.8443279, -0.8763067, -0.9048271, -0.9297765, -0.9510565, -0.9685832, -0.9822872,
    -0.9921147, -0.9980267, -0.9997559,
};
} // namespace

const std::array<double, kLspGridPoints> lsp_search_grid = grid_points;

const lsp_vector initial_lsp_vector = {
    0.9595, 0.8413, 0.6549, 0.4154, 0.1423, -0.1423, -0.4154, -0.6549, -0.8413, -0.9595,
};

namespace {

constexpr int kHalfOrder = kOrder / 2;

// Value of the sum or difference polynomial at x (cosine domain), by the
// Chebyshev recurrence; for vectors of points, each lane on its own.
template <class T>
T evaluate_polynomial(const lsp_half_polynomial& f, T x) {
    T b2 = T{} + 1.0;
    T b1 = 2.0 * x + f[1];
    for (int i = 2; i < kHalfOrder; ++i) {
        const T b0 = 2.0 * x * b1 - b2 + f[i];
        b2 = b1;
        b1 = b0;
    }
    return x * b1 - b2 + 0.5 * f[kHalfOrder];
}

constexpr std::array<double, kLspPaddedGridPoints> pad_grid(const std::array<double, kLspGridPoints>& grid) {
    std::array<double, kLspPaddedGridPoints> padded{};
    for (int j = 0; j < kLspPaddedGridPoints; ++j) padded[size_t(j)] = grid[size_t(std::min(j, kLspGridPoints - 1))];
    return padded;
}

// Coefficients of the product of (1 - 2 p[m] z^-1 + z^-2) over the five
// LSPs q[first], q[first + 2], ...
void product_polynomial(const lsp_vector& q, int first, lsp_half_polynomial& f) {
    f[0] = 1.0;
    f[1] = -2.0 * q[first];
    for (int i = 2; i <= kHalfOrder; ++i) {
        const double b = -2.0 * q[first + 2 * (i - 1)];
        f[i] = b * f[i - 1] + 2.0 * f[i - 2];
        for (int m = i - 1; m >= 2; --m) f[m] = f[m] + b * f[m - 1] + f[m - 2];
        f[1] = f[1] + b;
    }
}

} // namespace

const std::array<double, kLspPaddedGridPoints> lsp_padded_grid = pad_grid(grid_points);

void portable::evaluate_on_lsp_grid(const lsp_half_polynomial& f, lsp_grid_values& g) {
    using simd::lanes2;
    for (int j = 0; j < kLspPaddedGridPoints; j += 2) {
        simd::store(g.y + j, evaluate_polynomial(f, simd::load<lanes2>(lsp_padded_grid.data() + j)));
    }
    uint64_t changes = 0;
    for (int j = 1; j < kLspGridPoints; ++j) changes |= uint64_t(g.y[j - 1] * g.y[j] <= 0.0) << j;
    g.sign_changes = changes;
}

void evaluate_on_lsp_grid(const lsp_half_polynomial& f, lsp_grid_values& g) {
#if defined(__x86_64__)
    if (active_instruction_set() == instruction_set::avx2) {
        avx2::evaluate_on_lsp_grid(f, g);
        return;
    }
#endif
    portable::evaluate_on_lsp_grid(f, g);
}

void lp_to_lsp(const lp_coefficients& a, const lsp_vector& previous, lsp_vector& lsp) {
    lsp_half_polynomial f[2];
    f[0][0] = 1.0;
    f[1][0] = 1.0;
    for (int i = 1; i <= kHalfOrder; ++i) {
        f[0][i] = a[i] + a[kLpSize - i] - f[0][i - 1];
        f[1][i] = a[i] - a[kLpSize - i] + f[1][i - 1];
    }

    // The roots are looked for down the grid, alternately of the sum and of
    // the difference polynomial, which interlace: a sign change between two
    // points brackets a root, and after each root the other polynomial's
    // search starts from that root. Both polynomials' values on the whole
    // grid are computed first, side by side, with the bits of their sign
    // changes, so that the scan goes from one bracket to the next without a
    // test per point; only the value at a root itself is computed on the
    // way. Each product and comparison is the one the point-by-point scan
    // makes.
    lsp_grid_values grid[2];
    evaluate_on_lsp_grid(f[0], grid[0]);
    evaluate_on_lsp_grid(f[1], grid[1]);

    int current = 0;
    int k = 0;
    int j = 1;
    bool after_root = false;
    double xroot = 0.0, yroot = 0.0;
    while (k < kOrder) {
        double xlow, ylow, xhigh, yhigh;
        const lsp_grid_values& values = grid[current];
        if (after_root && values.y[j] * yroot <= 0.0) {
            // The bracket from the last root down to point j.
            xhigh = xroot;
            yhigh = yroot;
        } else {
            // The next bracket of two grid points, below point j - 1 when
            // the search starts from a root.
            const int from = after_root ? j + 1 : j;
            const uint64_t ahead = values.sign_changes >> from;
            if (ahead == 0) break;
            j = from + __builtin_ctzll(ahead);
            xhigh = lsp_search_grid[size_t(j - 1)];
            yhigh = values.y[j - 1];
        }
        xlow = lsp_search_grid[size_t(j)];
        ylow = values.y[j];

        // Two bisection steps. The second step's point is one of two, each
        // known before the first step's value: all three values are
        // computed at once, so that their evaluations overlap instead of
        // waiting for one another, and the steps then pick the same points
        // and values they would have one at a time.
        const lsp_half_polynomial& p = f[current];
        const double xmid = 0.5 * (xlow + xhigh);
        const double xlower = 0.5 * (xlow + xmid);
        const double xupper = 0.5 * (xmid + xhigh);
        const double ymid = evaluate_polynomial(p, xmid);
        const double ylower = evaluate_polynomial(p, xlower);
        const double yupper = evaluate_polynomial(p, xupper);
        // The halves are picked by selects on (x, y) pairs, not by
        // branches: which half holds the root is a coin toss on speech,
        // and a mispredicted branch would wait for the evaluations it
        // depends on.
        using simd::lanes2;
        using simd::masks2;
        const lanes2 zero = simd::splat2(0.0);
        lanes2 low = {xlow, ylow}, high = {xhigh, yhigh};
        const lanes2 mid = {xmid, ymid};
        const masks2 lower_first = simd::splat2(ylow * ymid) <= zero;
        high = lower_first ? mid : high;
        low = lower_first ? low : mid;
        const lanes2 next = lower_first ? lanes2{xlower, ylower} : lanes2{xupper, yupper};
        const masks2 lower_second = simd::splat2(low[1] * next[1]) <= zero;
        high = lower_second ? next : high;
        low = lower_second ? low : next;
        xlow = low[0];
        ylow = low[1];
        xhigh = high[0];
        yhigh = high[1];
        const double xint = xlow - ylow * (xhigh - xlow) / (yhigh - ylow);
        lsp[k] = xint;
        ++k;
        // The other polynomial's search starts from this root, with point j
        // as its first lower end.
        current = 1 - current;
        xroot = xint;
        yroot = evaluate_polynomial(f[current], xint);
        after_root = true;
    }
    // Roots too close for the grid (or an unstable filter) lose some roots;
    // the previous frame's vector stands in whole.
    if (k < kOrder) lsp = previous;
}

void lsp_to_lp(const lsp_vector& q, lp_coefficients& a) {
    lsp_half_polynomial f1, f2;
    product_polynomial(q, 0, f1);
    product_polynomial(q, 1, f2);
    // Put back the trivial roots at z = -1 (sum) and z = +1 (difference).
    for (int i = kHalfOrder; i >= 1; --i) {
        f1[i] = f1[i] + f1[i - 1];
        f2[i] = f2[i] - f2[i - 1];
    }
    a[0] = 1.0;
    for (int i = 1; i <= kHalfOrder; ++i) {
        a[i] = 0.5 * (f1[i] + f2[i]);
        a[kLpSize - i] = 0.5 * (f1[i] - f2[i]);
    }
}

void interpolate_lp_filters(const lsp_vector& previous, const lsp_vector& current, lp_filter_pair& filters) {
    lsp_vector mid;
    for (int i = 0; i < kOrder; ++i) mid[i] = 0.5 * previous[i] + 0.5 * current[i];
    lsp_to_lp(mid, filters[0]);
    lsp_to_lp(current, filters[1]);
}

void lsp_to_lsf(const lsp_vector& q, lsf_vector& w) {
    for (int i = 0; i < kOrder; ++i) w[i] = std::acos(q[i]);
}

void lsf_to_lsp(const lsf_vector& w, lsp_vector& q) {
    for (int i = 0; i < kOrder; ++i) q[i] = std::cos(w[i]);
}

} // namespace g729
