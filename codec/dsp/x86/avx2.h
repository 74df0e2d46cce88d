// AVX2 variants of the shared kernels, for x86-64 only. Each gives exactly
// the bits of its portable counterpart (the same products, each sum in the
// same order, no fused multiply-add) and is called only when
// active_instruction_set() says avx2.
#pragma once

#if defined(__x86_64__)

#include "codec/dsp/channel_lanes.h"
#include "codec/dsp/lsp.h"

namespace g729 {
namespace avx2 {

// As interpolate_excitation (interpolation.h), whose groups of eight outputs
// run in interpolation_groups: eight outputs from j = 0 on while a group
// fits in n, returning the first output not computed.
void interpolate_excitation(double* p, int t0, int frac, int n);
int interpolation_groups(double* p, int base, const double* left_taps, const double* right_taps, int n);

// As evaluate_on_lsp_grid (lsp.h).
void evaluate_on_lsp_grid(const lsp_half_polynomial& f, lsp_grid_values& g);

// As the lane kernels of channel_lanes.h.
void synthesis_filter_channels(const synthesis_lane* lanes, int count, int n);
void synthesis_and_gain_high_pass_channels(const synthesis_lane* lanes, int synthesis_count,
                                           const gain_high_pass_lane* outputs, int output_count,
                                           const gain_high_pass_constants& constants, int n);
void preprocess_channels(const pole_zero_lane* lanes, int count, const pole_zero_constants& constants, int n);

} // namespace avx2
} // namespace g729

#endif
