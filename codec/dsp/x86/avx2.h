// AVX2 variants of the kernels, for x86-64 only. Each gives exactly the bits
// of its portable counterpart (the same products, each sum in the same
// order, no fused multiply-add) and is called only when
// active_instruction_set() says avx2.
#pragma once

#if defined(__x86_64__)

#include <array>

namespace g729 {
namespace avx2 {

// As shifted_correlations.
void shifted_correlations(const double* a, const double* b, int n, int count, double* out);

// As first_stage_distances (lsp_quantizer.h).
void first_stage_distances(const std::array<double, 10>& target, double* distance);

} // namespace avx2
} // namespace g729

#endif
