#include "codec/dsp/lsp.h"

#include <cmath>

namespace g729 {

// Entries 1..49 are cos(pi*i/50) to seven decimals, except 3, 15, 19 and
// their mirrors, which sit one unit lower in magnitude; the end points stop
// short of +-1.
const std::array<double, kLspGridPoints> lsp_search_grid = {
    0.9997559,  0.9980267,  0.9921147,  0.9822872,  0.9685832,  0.9510565,  0.9297765,  0.9048271,
    0.8763067,  0.8443279,  0.8090170,  0.7705132,  0.7289686,  0.6845471,  0.6374240,  0.5877852,
    0.5358268,  0.4817537,  0.4257793,  0.3681245,  0.3090170,  0.2486899,  0.1873813,  0.1253332,
    0.0627905,  0.0,        -0.0627905, -0.1253332, -0.1873813, -0.2486899, -0.3090170, -0.3681245,
    -0.4257793, -0.4817537, -0.5358268, -0.5877852, -0.6374240, -0.6845471, -0.7289686, -0.7705132,
    -0.8090170, -0.8443279, -0.8763067, -0.9048271, -0.9297765, -0.9510565, -0.9685832, -0.9822872,
    -0.9921147, -0.9980267, -0.9997559,
};

const lsp_vector initial_lsp_vector = {
    0.9595, 0.8413, 0.6549, 0.4154, 0.1423, -0.1423, -0.4154, -0.6549, -0.8413, -0.9595,
};

namespace {

constexpr int kHalfOrder = kOrder / 2;
using half_polynomial = std::array<double, kHalfOrder + 1>;

// Value of the sum or difference polynomial at x (cosine domain), by the
// Chebyshev recurrence.
double evaluate_polynomial(const half_polynomial& f, double x) {
    double b2 = 1.0;
    double b1 = 2.0 * x + f[1];
    for (int i = 2; i < kHalfOrder; ++i) {
        const double b0 = 2.0 * x * b1 - b2 + f[i];
        b2 = b1;
        b1 = b0;
    }
    return x * b1 - b2 + 0.5 * f[kHalfOrder];
}

// Coefficients of the product of (1 - 2 p[m] z^-1 + z^-2) over the five
// LSPs q[first], q[first + 2], ...
void product_polynomial(const lsp_vector& q, int first, half_polynomial& f) {
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

void lp_to_lsp(const lp_coefficients& a, const lsp_vector& previous, lsp_vector& lsp) {
    half_polynomial f1, f2;
    f1[0] = 1.0;
    f2[0] = 1.0;
    for (int i = 1; i <= kHalfOrder; ++i) {
        f1[i] = a[i] + a[kLpSize - i] - f1[i - 1];
        f2[i] = a[i] - a[kLpSize - i] + f2[i - 1];
    }

    const half_polynomial* current = &f1;
    int k = 0;
    int j = 0;
    double xlow = lsp_search_grid[0];
    double ylow = evaluate_polynomial(*current, xlow);
    while (k < kOrder && j < kLspGridPoints - 1) {
        ++j;
        double xhigh = xlow;
        double yhigh = ylow;
        xlow = lsp_search_grid[j];
        ylow = evaluate_polynomial(*current, xlow);
        if (ylow * yhigh <= 0.0) {
            // Look at this grid point again for the next root, which belongs
            // to the other polynomial and interlaces with this one.
            --j;
            // Two bisection steps. The second step's point is one of two,
            // each known before the first step's value: all three values
            // are computed at once, so that their evaluations overlap
            // instead of waiting for one another, and the steps then pick
            // the same points and values they would have one at a time.
            const double xmid = 0.5 * (xlow + xhigh);
            const double xlower = 0.5 * (xlow + xmid);
            const double xupper = 0.5 * (xmid + xhigh);
            const double ymid = evaluate_polynomial(*current, xmid);
            const double ylower = evaluate_polynomial(*current, xlower);
            const double yupper = evaluate_polynomial(*current, xupper);
            double xnext, ynext;
            if (ylow * ymid <= 0.0) {
                xhigh = xmid;
                yhigh = ymid;
                xnext = xlower;
                ynext = ylower;
            } else {
                xlow = xmid;
                ylow = ymid;
                xnext = xupper;
                ynext = yupper;
            }
            if (ylow * ynext <= 0.0) {
                xhigh = xnext;
                yhigh = ynext;
            } else {
                xlow = xnext;
                ylow = ynext;
            }
            const double xint = xlow - ylow * (xhigh - xlow) / (yhigh - ylow);
            lsp[k] = xint;
            ++k;
            current = current == &f1 ? &f2 : &f1;
            xlow = xint;
            ylow = evaluate_polynomial(*current, xint);
        }
    }
    // Roots too close for the grid (or an unstable filter) lose some roots;
    // the previous frame's vector stands in whole.
    if (k < kOrder) lsp = previous;
}

void lsp_to_lp(const lsp_vector& q, lp_coefficients& a) {
    half_polynomial f1, f2;
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
