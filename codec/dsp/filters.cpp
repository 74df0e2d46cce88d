#include "codec/dsp/filters.h"

#include <cmath>

namespace g729 {

namespace {
// Filter states below this magnitude are stored as zero, so that a decaying
// filter settles to exact silence instead of running on in denormals.
constexpr double kMemoryFlush = 2e-5;
} // namespace

void synthesis_filter(const lp_coefficients& a, const double* x, double* y, int n, double* memory, int update) {
    // The memory is copied before anything is written: callers pass part of
    // the output array itself as memory (impulse responses).
    double past[kOrder];
    for (int j = 0; j < kOrder; ++j) past[j] = memory[j];
    for (int k = 0; k < n; ++k) {
        double s = x[k];
        for (int i = 1; i <= kOrder; ++i) s -= a[i] * (k - i >= 0 ? y[k - i] : past[kOrder + k - i]);
        y[k] = s;
    }
    if (update != 0) {
        double next[kOrder];
        for (int j = 0; j < kOrder; ++j) {
            const int k = n - kOrder + j; // position of this value among the outputs
            const double v = k >= 0 ? y[k] : past[kOrder + k];
            next[j] = std::fabs(v) < kMemoryFlush ? 0.0 : v;
        }
        for (int j = 0; j < kOrder; ++j) memory[j] = next[j];
    }
}

void residual_filter(const lp_coefficients& a, const double* x, double* y, int n) {
    for (int k = 0; k < n; ++k) {
        double s = x[k];
        for (int i = 1; i <= kOrder; ++i) s += a[i] * x[k - i];
        y[k] = s;
    }
}

void bandwidth_expand(const double* a, int m, double* ap, double gamma) {
    ap[0] = a[0];
    double f = gamma;
    for (int i = 1; i < m; ++i) {
        ap[i] = a[i] * f;
        f *= gamma;
    }
    ap[m] = a[m] * f;
}

void bandwidth_expand(const lp_coefficients& a, lp_coefficients& ap, double gamma) {
    bandwidth_expand(a.data(), kOrder, ap.data(), gamma);
}

void set_zero(double* v, int n) {
    for (int i = 0; i < n; ++i) v[i] = 0.0;
}

void copy_vector(const double* src, double* dst, int n) {
    for (int i = 0; i < n; ++i) dst[i] = src[i];
}

} // namespace g729
