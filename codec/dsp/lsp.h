// Conversion between LP coefficients, line spectral pairs (cosine domain)
// and line spectral frequencies, and the per-subframe LP filters of a frame.
#pragma once

#include <array>

#include "codec/dsp/types.h"

namespace g729 {

constexpr int kLspGridPoints = 51;

// Root-search grid in the cosine domain, from +0.9997559 down to -0.9997559.
extern const std::array<double, kLspGridPoints> lsp_search_grid;
// Reset value of every previous-LSP memory: cos((i+1)pi/11) to four decimals.
extern const lsp_vector initial_lsp_vector;

// Finds the ten LSPs of a; when fewer than ten roots are found the result is
// a copy of previous.
void lp_to_lsp(const lp_coefficients& a, const lsp_vector& previous, lsp_vector& lsp);
void lsp_to_lp(const lsp_vector& q, lp_coefficients& a);
// First subframe: LSPs halfway between previous and current; second: current.
void interpolate_lp_filters(const lsp_vector& previous, const lsp_vector& current, lp_filter_pair& filters);
void lsp_to_lsf(const lsp_vector& q, lsf_vector& w);
// w and q may be the same vector.
void lsf_to_lsp(const lsf_vector& w, lsp_vector& q);

} // namespace g729
