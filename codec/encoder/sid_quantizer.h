// The encoder side of the SID frame: the background noise's statistics and
// their quantization with the comfort-noise codebooks, predictor and energy
// levels, so that a decoder rebuilds the noise the encoder measured.
#pragma once

#include <array>

#include "codec/bitstream.h"
#include "codec/dsp/types.h"

namespace g729 {

// Autocorrelation of a signal per sample, lags 0..10.
using noise_autocorrelation = std::array<double, kLpSize>;

// Lags 0..10 of the 80 samples at x, with x[-10..-1] as their past, divided
// by 80.
void frame_autocorrelation(const double* x, noise_autocorrelation& r);

// Mean square of the residual of a through A(z) for a signal of
// autocorrelation r.
double residual_energy(const lp_coefficients& a, const noise_autocorrelation& r);

// The power gain of 1/A(z) and the decoder's output high-pass for white
// noise.
double noise_power_gain(const lp_coefficients& a);

// The excitation gain (RMS per sample) that makes white noise through a
// filter of that power gain reach the given mean square.
double excitation_gain(double power_gain, double mean_square);

// The LP filter of a noise with autocorrelation r (lag window and noise
// floor as in the encoder's LP analysis).
void noise_filter(const noise_autocorrelation& r, lp_coefficients& a);

// The SID LSF code whose decoded LSFs, under the given memory, lie nearest
// to target (weighted as the speech quantizer weighs): every predictor
// switch, first- and second-stage index is tried.
void quantize_sid_lsf(const lsf_memory& memory, const lsf_vector& target, sid_parameters& sid);

// The energy index whose level lies nearest to gain in dB.
int quantize_sid_gain(double gain);

} // namespace g729
