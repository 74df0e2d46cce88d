#include "codec/encoder/lp_analysis.h"

#include "codec/dsp/tables.h"
#include "codec/encoder/correlation.h"

namespace g729 {
namespace {

// Lag 0 is the white-noise correction; lags 1..12 are a Gaussian window of a
// 60 Hz bandwidth expansion. These are the values to use, not the formula.
constexpr double lag_window[kMaxAutocorrelationLag + 1] = {
    1.0001,     0.99889028, 0.99556851, 0.99005681, 0.9823916,  0.97262347, 0.96081644,
    0.94704735, 0.93140495, 0.91398895, 0.89490914, 0.8742858,  0.8522135,
};

} // namespace

void windowed_autocorrelation(const double* x, int m, autocorrelation_vector& r) {
    double y[kLpAnalysisWindow];
    for (int n = 0; n < kLpAnalysisWindow; ++n) y[n] = x[n] * lp_analysis_window[n];

    shifted_correlations(y, y, kLpAnalysisWindow, m + 1, r.data());
    if (r[0] < 1.0) r[0] = 1.0;
}

void apply_lag_window(int m, autocorrelation_vector& r) {
    for (int k = 0; k <= m; ++k) r[k] *= lag_window[k];
}

void levinson_durbin(const autocorrelation_vector& r, lp_coefficients& a) {
    const double k1 = -r[1] / r[0];
    a[0] = 1.0;
    a[1] = k1;
    for (int i = 2; i <= kOrder; ++i) a[i] = 0.0;
    double error = r[0] + r[1] * k1;
    for (int i = 2; i <= kOrder; ++i) {
        double s = 0.0;
        for (int j = 0; j < i; ++j) s += r[i - j] * a[j];
        const double ki = -s / error;
        // Both ends of a symmetric pair are updated from their old values.
        for (int j = 1; j <= i / 2; ++j) {
            const int l = i - j;
            const double t = a[j] + ki * a[l];
            a[l] = a[l] + ki * a[j];
            a[j] = t;
        }
        a[i] = ki;
        error = error + ki * s;
        // A nearly singular autocorrelation (a pure tone) can drive the error
        // to zero or below; keep dividing by something positive. Reflection
        // coefficients are not checked: the LSP search catches unstable
        // filters.
        if (error <= 0.0) error = 0.001;
    }
}

} // namespace g729
