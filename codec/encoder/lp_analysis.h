// LP analysis of the encoder: windowed autocorrelation, lag window with
// white-noise correction, and the Levinson-Durbin recursion.
#pragma once

#include <array>

#include "codec/dsp/types.h"

namespace g729 {

constexpr int kMaxAutocorrelationLag = 12; // highest lag the lag window covers
using autocorrelation_vector = std::array<double, kMaxAutocorrelationLag + 1>;

// r[0..m] of the 240 windowed samples x; r[0] is floored at 1.0 so that
// silence still yields a usable filter. 0 <= m <= 12.
void windowed_autocorrelation(const double* x, int m, autocorrelation_vector& r);

// Scales r[0..m] by the lag window; lag 0 adds a noise floor 40 dB down.
void apply_lag_window(int m, autocorrelation_vector& r);

// Order-10 LP coefficients from r[0..10].
void levinson_durbin(const autocorrelation_vector& r, lp_coefficients& a);

} // namespace g729
