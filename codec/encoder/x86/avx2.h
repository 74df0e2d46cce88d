// AVX2 variants of the encoder's kernels, for x86-64 only. Each gives
// exactly the bits of its portable counterpart (the same products, each sum
// in the same order, no fused multiply-add) and is called only when
// active_instruction_set() says avx2.
#pragma once

#if defined(__x86_64__)

#include <array>

namespace g729 {

struct pulse_correlations;
struct synthesis_lane;
struct held_score;

namespace avx2 {

// As shifted_correlations (correlation.h).
void shifted_correlations(const double* a, const double* b, int n, int count, double* out);

// As first_stage_distances and second_stage_distances (lsp_quantizer.h).
void first_stage_distances(const std::array<double, 10>& target, double* distance);
void second_stage_distances(const std::array<double, 10>& target, const std::array<double, 10>& first_stage,
                            const std::array<double, 10>& weight, double* lower, double* upper);

// As decimated_correlations (pitch.h).
void decimated_correlations(const double* w, int n, int first, int step, int count, double* r);

// As pulse_correlation_matrix and synthesis_with_pulse_correlations
// (fixed_codebook.h).
void pulse_correlation_matrix(const double* h, pulse_correlations& c);
void synthesis_with_pulse_correlations(const synthesis_lane& lane, const double* h, pulse_correlations& c);

// As search_pair and search_remaining (fixed_codebook.h).
void search_pair(const double* d, const double* sign, const pulse_correlations& c, int pre, int all, int& chosen_pre,
                 int& chosen_all, double& r_pair, double& e_pair);
held_score search_remaining(const double* d, const double* sign, const pulse_correlations& c, int outer, int inner,
                            int fixed_a, int fixed_b, double r_pair, double e_pair, int& chosen_outer,
                            int& chosen_inner);

} // namespace avx2
} // namespace g729

#endif
