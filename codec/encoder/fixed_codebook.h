// Algebraic fixed-codebook search: four signed unit pulses in a 40-sample
// subframe, found by a depth-first search over pre-selected track positions.
#pragma once

#include "codec/dsp/types.h"

namespace g729 {

struct synthesis_lane;

// Correlations of the impulse response h: phi[p][q] = the sum of
// h[n] * h[n + |q - p|] for n from 0 up to 39 - max(p, q), in increasing n.
// Only the pairs of positions in different tracks and the diagonal are
// filled; the search reads no others. They do not depend on the target, so
// they can be computed before it is known; the search folds the pulses'
// signs in as it reads them (sign[p] * sign[q] * phi[p][q], exact).
struct pulse_correlations {
    double phi[kSubframe][kSubframe];
    double half_diagonal[kSubframe]; // phi[p][p] / 2
};

// Fills c from h with the fastest variant this processor runs; every
// variant gives the same bits.
void pulse_correlation_matrix(const double* h, pulse_correlations& c);

// One signal through its synthesis filter (synthesis_filter_lanes with one
// lane of 40 samples) and, side by side with it, pulse_correlation_matrix
// of h: the same bits as the two calls one after the other. The recursion
// waits on its own chain of subtractions; the correlations fill its gaps.
void synthesis_with_pulse_correlations(const synthesis_lane& lane, const double* h, pulse_correlations& c);

// Running score of one search stage, compared by cross-multiplication.
struct held_score {
    double numerator = -1.0;
    double energy = 1.0;
};

inline bool beats(double numerator, double energy, const held_score& held) {
    return numerator * held.energy - energy * held.numerator > 0.0;
}

// The search's two stages, d being the backward-filtered target with its
// signs taken out into sign (each +1 or -1). Each takes its candidates one by one in a fixed order and
// a candidate replaces the held score (from {-1, 1}) only when it beats it;
// the variants give the same choice.
//
// Two positions of track `pre` (its largest d, then its next largest)
// against every position of track `all`, in that order; gives the pair, its
// correlation sum r_pair and its energy e_pair.
void search_pair(const double* d, const double* sign, const pulse_correlations& c, int pre, int all, int& chosen_pre,
                 int& chosen_all, double& r_pair, double& e_pair);
// Every position of track `outer` (rows) against every position of track
// `inner`, with the pair (fixed_a, fixed_b) already placed; gives the held
// score and its two positions.
held_score search_remaining(const double* d, const double* sign, const pulse_correlations& c, int outer, int inner,
                            int fixed_a, int fixed_b, double r_pair, double e_pair, int& chosen_outer,
                            int& chosen_inner);

namespace portable {
void pulse_correlation_matrix(const double* h, pulse_correlations& c);
void search_pair(const double* d, const double* sign, const pulse_correlations& c, int pre, int all, int& chosen_pre,
                 int& chosen_all, double& r_pair, double& e_pair);
held_score search_remaining(const double* d, const double* sign, const pulse_correlations& c, int outer, int inner,
                            int fixed_a, int fixed_b, double r_pair, double e_pair, int& chosen_outer,
                            int& chosen_inner);
} // namespace portable

// The pitch sharpening of the impulse response: h[i] += beta * h[i - t0]
// for i from t0 up, when t0 < 40.
void sharpen_impulse_response(double* h, int t0, double beta);

// Searches the pulses best matching target x through the impulse response h.
// h is sharpened in place by the pitch lag t0 and factor beta; v receives the
// sharpened code vector, y the pulses filtered by the sharpened h and
// sign_word one bit per positive pulse. Returns the 13-bit position index.
int fixed_codebook_search(const double* x, double* h, int t0, double* v, double* y, int* sign_word, double beta);
// The same search on an h already sharpened and its correlations c.
int fixed_codebook_search(const double* x, const double* h, const pulse_correlations& c, int t0, double* v, double* y,
                          int* sign_word, double beta);

} // namespace g729
