#include "codec/encoder/fixed_codebook.h"

#include "codec/dsp/cpu.h"
#include "codec/dsp/filters.h"
#include "codec/dsp/types.h"
#include "codec/encoder/pitch.h"
#include "codec/encoder/x86/avx2.h"

namespace g729 {
namespace {

constexpr int kTracks = 5;
constexpr int kTrackPositions = kSubframe / kTracks; // 8

// Position of the largest d in the track, skipping `skip`; equal values keep
// the lower position.
int largest_in_track(const double* d, int track, int skip) {
    double max = -1.0;
    int best = track;
    for (int pos = track; pos < kSubframe; pos += kTracks) {
        if (pos == skip) continue;
        if (d[pos] > max) {
            max = d[pos];
            best = pos;
        }
    }
    return best;
}

// The best of the four-pulse candidates seen so far.
struct pulse_search {
    held_score best;
    int positions[4] = {0, 0, 0, 0};
};

void keep_if_better(pulse_search& s, const held_score& candidate, int p0, int p1, int p2, int p3) {
    if (s.best.energy * candidate.numerator - s.best.numerator * candidate.energy > 0.0) {
        s.best = candidate;
        s.positions[0] = p0;
        s.positions[1] = p1;
        s.positions[2] = p2;
        s.positions[3] = p3;
    }
}

void sharpen(double* v, int t0, double beta) {
    for (int i = t0; i < kSubframe; ++i) v[i] = v[i] + beta * v[i - t0];
}

// phi[p][q] with the pulses' signs folded in: sign[p] * sign[q] is +1 or
// -1, so the product is exact.
double signed_correlation(const pulse_correlations& c, const double* sign, int p, int q) {
    return c.phi[p][q] * (sign[p] * sign[q]);
}

} // namespace

void sharpen_impulse_response(double* h, int t0, double beta) { sharpen(h, t0, beta); }

void portable::pulse_correlation_matrix(const double* h, pulse_correlations& c) {
    // One running sum per lag: the entry ending at position q extends the
    // sum of the entry ending at q + 1 by one more product, so every entry
    // is the plain sum from n = 0 upward. Lags that are multiples of 5 join
    // positions of the same track, which the search never pairs.
    for (int lag = 0; lag < kSubframe; ++lag) {
        if (lag != 0 && lag % kTracks == 0) continue;
        double sum = 0.0;
        for (int n = 0; n < kSubframe - lag; ++n) {
            sum += h[n] * h[n + lag];
            const int q = kSubframe - 1 - n;
            const int p = q - lag;
            if (lag == 0) {
                c.phi[p][p] = sum;
                c.half_diagonal[p] = 0.5 * sum;
            } else {
                c.phi[p][q] = sum;
                c.phi[q][p] = sum;
            }
        }
    }
}

void pulse_correlation_matrix(const double* h, pulse_correlations& c) {
#if defined(__x86_64__)
    if (active_instruction_set() == instruction_set::avx2) {
        avx2::pulse_correlation_matrix(h, c);
        return;
    }
#endif
    portable::pulse_correlation_matrix(h, c);
}

void synthesis_with_pulse_correlations(const synthesis_lane& lane, const double* h, pulse_correlations& c) {
#if defined(__x86_64__)
    if (active_instruction_set() == instruction_set::avx2) {
        avx2::synthesis_with_pulse_correlations(lane, h, c);
        return;
    }
#endif
    synthesis_filter_lanes(&lane, 1, kSubframe);
    portable::pulse_correlation_matrix(h, c);
}

void portable::search_pair(const double* d, const double* sign, const pulse_correlations& c, int pre, int all,
                           int& chosen_pre, int& chosen_all, double& r_pair, double& e_pair) {
    held_score held;
    chosen_pre = pre;
    chosen_all = all;
    r_pair = 0.0;
    int first = -1;
    for (int pass = 0; pass < 2; ++pass) {
        const int j = largest_in_track(d, pre, first);
        first = j;
        for (int k = all; k < kSubframe; k += kTracks) {
            const double r2 = d[k] + d[j];
            const double e2 = (signed_correlation(c, sign, j, k) + c.half_diagonal[j]) + c.half_diagonal[k];
            const double n2 = r2 * r2;
            if (beats(n2, e2, held)) {
                held.numerator = n2;
                held.energy = e2;
                r_pair = r2;
                chosen_pre = j;
                chosen_all = k;
            }
        }
    }
    e_pair = held.energy;
}

held_score portable::search_remaining(const double* d, const double* sign, const pulse_correlations& c, int outer,
                                      int inner, int fixed_a, int fixed_b, double r_pair, double e_pair,
                                      int& chosen_outer, int& chosen_inner) {
    double w[kTrackPositions];
    for (int i = 0; i < kTrackPositions; ++i) {
        const int k = inner + kTracks * i;
        w[i] = (signed_correlation(c, sign, k, fixed_a) + signed_correlation(c, sign, k, fixed_b)) + c.half_diagonal[k];
    }
    held_score held;
    chosen_outer = outer;
    chosen_inner = inner;
    for (int j = outer; j < kSubframe; j += kTracks) {
        const double r1 = d[j] + r_pair;
        const double e1 = ((signed_correlation(c, sign, j, fixed_a) + e_pair) + signed_correlation(c, sign, j, fixed_b)) +
                          c.half_diagonal[j];
        for (int i = 0; i < kTrackPositions; ++i) {
            const int k = inner + kTracks * i;
            const double r2 = d[k] + r1;
            const double e2 = (signed_correlation(c, sign, j, k) + e1) + w[i];
            const double n2 = r2 * r2;
            if (beats(n2, e2, held)) {
                held.numerator = n2;
                held.energy = e2;
                chosen_outer = j;
                chosen_inner = k;
            }
        }
    }
    return held;
}

void search_pair(const double* d, const double* sign, const pulse_correlations& c, int pre, int all, int& chosen_pre,
                 int& chosen_all, double& r_pair, double& e_pair) {
#if defined(__x86_64__)
    if (active_instruction_set() == instruction_set::avx2) {
        avx2::search_pair(d, sign, c, pre, all, chosen_pre, chosen_all, r_pair, e_pair);
        return;
    }
#endif
    portable::search_pair(d, sign, c, pre, all, chosen_pre, chosen_all, r_pair, e_pair);
}

held_score search_remaining(const double* d, const double* sign, const pulse_correlations& c, int outer, int inner,
                            int fixed_a, int fixed_b, double r_pair, double e_pair, int& chosen_outer,
                            int& chosen_inner) {
#if defined(__x86_64__)
    if (active_instruction_set() == instruction_set::avx2)
        return avx2::search_remaining(d, sign, c, outer, inner, fixed_a, fixed_b, r_pair, e_pair, chosen_outer,
                                      chosen_inner);
#endif
    return portable::search_remaining(d, sign, c, outer, inner, fixed_a, fixed_b, r_pair, e_pair, chosen_outer,
                                      chosen_inner);
}

int fixed_codebook_search(const double* x, double* h, int t0, double* v, double* y, int* sign_word, double beta) {
    sharpen(h, t0, beta);
    pulse_correlations c;
    pulse_correlation_matrix(h, c);
    return fixed_codebook_search(x, h, c, t0, v, y, sign_word, beta);
}

int fixed_codebook_search(const double* x, const double* h, const pulse_correlations& c, int t0, double* v, double* y,
                          int* sign_word, double beta) {
    double d[kSubframe];
    backward_correlation(h, x, d);

    double sign[kSubframe];
    // Signs of speech are a coin toss: selects rather than branches.
    for (int n = 0; n < kSubframe; ++n) {
        const bool negative = d[n] < 0.0;
        sign[n] = negative ? -1.0 : 1.0;
        d[n] = negative ? -d[n] : d[n];
    }

    pulse_search s;
    for (int track3 = 3; track3 <= 4; ++track3) {
        int a0, a1, a2, a3;
        double r_pair, e_pair;
        search_pair(d, sign, c, 2, track3, a2, a3, r_pair, e_pair);
        held_score score = search_remaining(d, sign, c, 0, 1, a2, a3, r_pair, e_pair, a0, a1);
        keep_if_better(s, score, a0, a1, a2, a3);

        int b0, b1, b2, b3;
        search_pair(d, sign, c, track3, 0, b3, b0, r_pair, e_pair);
        score = search_remaining(d, sign, c, 1, 2, b3, b0, r_pair, e_pair, b1, b2);
        keep_if_better(s, score, b0, b1, b2, b3);
    }

    const int* p = s.positions;
    for (int n = 0; n < kSubframe; ++n) v[n] = 0.0;
    for (int k = 0; k < 4; ++k) v[p[k]] = sign[p[k]];

    for (int n = 0; n < p[0]; ++n) y[n] = 0.0;
    for (int j = 0; j < kSubframe - p[0]; ++j) y[p[0] + j] = sign[p[0]] * h[j];
    for (int k = 1; k < 4; ++k) {
        if (sign[p[k]] > 0.0) {
            for (int j = 0; j < kSubframe - p[k]; ++j) y[p[k] + j] = y[p[k] + j] + h[j];
        } else {
            for (int j = 0; j < kSubframe - p[k]; ++j) y[p[k] + j] = y[p[k] + j] - h[j];
        }
    }

    *sign_word = 0;
    for (int k = 0; k < 4; ++k) {
        if (sign[p[k]] > 0.0) *sign_word += 1 << k;
    }
    const int index = p[0] / 5 + 8 * (p[1] / 5) + 64 * (p[2] / 5) + 512 * (2 * (p[3] / 5) + p[3] % 5 - 3);

    sharpen(v, t0, beta);
    return index;
}

} // namespace g729
