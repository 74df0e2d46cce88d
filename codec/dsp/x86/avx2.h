// AVX2 variants of the kernels, for x86-64 only. Each gives exactly the bits
// of its portable counterpart (the same products, each sum in the same
// order, no fused multiply-add) and is called only when
// active_instruction_set() says avx2.
#pragma once

#if defined(__x86_64__)

namespace g729 {
namespace avx2 {

// As shifted_correlations.
void shifted_correlations(const double* a, const double* b, int n, int count, double* out);

} // namespace avx2
} // namespace g729

#endif
