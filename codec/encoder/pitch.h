// Long-term (pitch) analysis of the encoder: open-loop and closed-loop lag
// search, lag coding with its parity bit, the pitch gain and the taming of
// the pitch gain against excitation build-up.
#pragma once

#include <array>

#include "codec/dsp/types.h"
#include "codec/encoder/gain_quantizer.h"

namespace g729 {

// One accumulated excitation gain per 40-sample lag zone.
using taming_error_record = std::array<double, 4>;

// Rough lag 20..143 of the frame; w points at the frame's first weighted
// sample and has 143 past samples in front of it.
int open_loop_pitch_search(const double* w, int n);

// r[j] = sum over even k < n of w[k] * w[k - (first + step * j)], for j <
// count (a multiple of 4; step 1 or 2); each sum from 0 in increasing k. w
// must have first + step * count samples of history in front of it. Runs the
// widest variant this processor has (see cpu.h).
void decimated_correlations(const double* w, int n, int first, int step, int count, double* r);

namespace portable {
// The baseline evaluation every variant is tested against.
void decimated_correlations(const double* w, int n, int first, int step, int count, double* r);
} // namespace portable

// d[k] = sum over i = 0..39-k of h[i]*x[i+k].
void backward_correlation(const double* h, const double* x, double* d);

// Integer lag in t0_min..t0_max with its third-sample fraction; p (the
// subframe inside the excitation buffer, 153 past samples in front) is
// overwritten with the adaptive-codebook vector of the result.
int closed_loop_pitch_search(double* p, const double* xn, const double* h, int n, int t0_min, int t0_max,
                             int subframe_offset, int& frac);

// Transmitted lag index (8 bits first subframe, 5 bits second). The first
// subframe also narrows t0_min/t0_max to the second subframe's range.
int encode_pitch_lag(int t0, int frac, int& t0_min, int& t0_max, int lag_min, int lag_max, int subframe_offset);

// Unquantized adaptive-codebook gain in [0, 1.2]; fills correlations 0 and 1.
double pitch_gain(const double* xn, const double* y1, gain_correlations& correlations, int n);

// 1 when the pitch gain of a subframe with this lag must be limited.
bool taming_test(const taming_error_record& taming_errors, int t0, int frac);
void taming_update(taming_error_record& taming_errors, int t0, double gain);

} // namespace g729
