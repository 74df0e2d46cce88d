// Conversion between LP coefficients, line spectral pairs (cosine domain)
// and line spectral frequencies, and the per-subframe LP filters of a frame.
#pragma once

#include <array>
#include <cstdint>

#include "codec/dsp/types.h"

namespace g729 {

constexpr int kLspGridPoints = 51;

// Root-search grid in the cosine domain, from +0.9997559 down to -0.9997559.
extern const std::array<double, kLspGridPoints> lsp_search_grid;
// Reset value of every previous-LSP memory: cos((i+1)pi/11) to four decimals.
extern const lsp_vector initial_lsp_vector;

// The search grid padded to whole groups of four, the last point repeated.
constexpr int kLspPaddedGridPoints = (kLspGridPoints + 3) / 4 * 4;
extern const std::array<double, kLspPaddedGridPoints> lsp_padded_grid;

// The sum or difference polynomial of an LP filter, in the form the root
// search evaluates (f[0] = 1), and its values on the whole padded grid.
using lsp_half_polynomial = std::array<double, kOrder / 2 + 1>;
struct lsp_grid_values {
    double y[kLspPaddedGridPoints];
    // Bit j set when the values at points j - 1 and j have a product of at
    // most 0 (a sign change, or a zero): the bracket test of the search.
    uint64_t sign_changes;
};
static_assert(kLspGridPoints <= 64, "one bit per grid point");

// f's values on the grid by the Chebyshev recurrence, each point's the
// value the one-point evaluation gives, with the bits of their sign
// changes. Runs the widest variant this processor has (see cpu.h).
void evaluate_on_lsp_grid(const lsp_half_polynomial& f, lsp_grid_values& g);

namespace portable {
// The baseline evaluation every variant is tested against.
void evaluate_on_lsp_grid(const lsp_half_polynomial& f, lsp_grid_values& g);
} // namespace portable

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
