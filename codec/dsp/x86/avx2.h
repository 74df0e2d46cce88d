// AVX2 variants of the shared kernels, for x86-64 only. Each gives exactly
// the bits of its portable counterpart (the same products, each sum in the
// same order, no fused multiply-add) and is called only when
// active_instruction_set() says avx2.
#pragma once

#if defined(__x86_64__)

namespace g729 {
namespace avx2 {

// As interpolate_excitation (interpolation.h), whose groups of eight outputs
// run in interpolation_groups: eight outputs from j = 0 on while a group
// fits in n, returning the first output not computed.
void interpolate_excitation(double* p, int t0, int frac, int n);
int interpolation_groups(double* p, int base, const double* left_taps, const double* right_taps, int n);

} // namespace avx2
} // namespace g729

#endif
