// Algebraic fixed-codebook search: four signed unit pulses in a 40-sample
// subframe, found by a depth-first search over pre-selected track positions.
#pragma once

#include "codec/dsp/types.h"

namespace g729 {

// Correlations of the impulse response h with the pulse signs folded in:
// phi[p][q] = sign[p] * sign[q] * sum of h[n] * h[n + |q - p|] for n from 0
// up to 39 - max(p, q), in increasing n. Only the pairs of positions in
// different tracks and the diagonal are filled; the search reads no others.
struct pulse_correlations {
    double phi[kSubframe][kSubframe];
    double half_diagonal[kSubframe]; // phi[p][p] / 2
};

// Fills c from h and the signs (each +1 or -1), with the fastest variant
// this processor runs; every variant gives the same bits.
void pulse_correlation_matrix(const double* h, const double* sign, pulse_correlations& c);

namespace portable {
void pulse_correlation_matrix(const double* h, const double* sign, pulse_correlations& c);
} // namespace portable

// Searches the pulses best matching target x through the impulse response h.
// h is sharpened in place by the pitch lag t0 and factor beta; v receives the
// sharpened code vector, y the pulses filtered by the sharpened h and
// sign_word one bit per positive pulse. Returns the 13-bit position index.
int fixed_codebook_search(const double* x, double* h, int t0, double* v, double* y, int* sign_word, double beta);

} // namespace g729
