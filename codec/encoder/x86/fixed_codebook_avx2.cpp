#include "codec/encoder/x86/avx2.h"

#if defined(__x86_64__)

#include <cstdint>

#include <immintrin.h>

#include "codec/dsp/filters.h"
#include "codec/encoder/fixed_codebook.h"

// Only intrinsics and functions local to this file run with AVX2 enabled
// (see codec/dsp/x86/correlation_avx2.cpp). No FMA: every product is
// rounded before its addition, as in the portable code.
#define G729A_AVX2 __attribute__((target("avx2")))

namespace g729 {
namespace avx2 {

namespace {

constexpr int kRuns = 8; // runs of four lags: 1-4, 6-9, ..., 36-39
constexpr int kPad = 4;  // zeros after h for the reads of spent lanes

// The lags that join positions of different tracks come in runs of four
// between the multiples of 5 (1-4, 6-9, ..., 36-39): one vector carries the
// four running sums of a run, lane j the lag first + j, each its own sum in
// increasing n exactly as the portable loop adds it. At step n the lanes
// give the entries ending at q = 39 - n, that is (p - j, q) for
// p = q - first: row q takes them as one store (the lanes reversed, p
// rising), column q one at a time.
G729A_AVX2 inline void store_run(pulse_correlations& c, int q, int p, __m256d sum) {
    _mm256_storeu_pd(&c.phi[q][p - 3], _mm256_permute4x64_pd(sum, 0x1b));
    const __m128d low = _mm256_castpd256_pd128(sum);
    const __m128d high = _mm256_extractf128_pd(sum, 1);
    _mm_storel_pd(&c.phi[p][q], low);
    _mm_storeh_pd(&c.phi[p - 1][q], low);
    _mm_storel_pd(&c.phi[p - 2][q], high);
    _mm_storeh_pd(&c.phi[p - 3][q], high);
}

// The last three steps of a run, once its last lanes are out of products
// (p < 3): the lanes left, one by one.
G729A_AVX2 inline void store_run_end(pulse_correlations& c, int q, int p, __m256d sum) {
    alignas(32) double lanes[4];
    _mm256_store_pd(lanes, sum);
    for (int j = 0; j <= p; ++j) {
        c.phi[p - j][q] = lanes[j];
        c.phi[q][p - j] = lanes[j];
    }
}

// h with the zeros that spent lanes read.
struct padded_response {
    double h[kSubframe + kPad];
    G729A_AVX2 explicit padded_response(const double* h_in) {
        for (int n = 0; n < kSubframe; ++n) h[n] = h_in[n];
        for (int n = kSubframe; n < kSubframe + kPad; ++n) h[n] = 0.0;
    }
};

// The same sums a step n at a time, every run's step n and the diagonal's
// together, so that they can go between the steps of other work (see
// synthesis_with_pulse_correlations).
struct pulse_correlation_steps {
    padded_response r;
    double diagonal = 0.0;
    __m256d sums[kRuns];

    G729A_AVX2 explicit pulse_correlation_steps(const double* h) : r(h) {
        for (int g = 0; g < kRuns; ++g) sums[g] = _mm256_setzero_pd();
    }

    G729A_AVX2 void step(int n, pulse_correlations& c) {
        const int q = kSubframe - 1 - n;
        diagonal += r.h[n] * r.h[n];
        c.phi[q][q] = diagonal;
        c.half_diagonal[q] = 0.5 * diagonal;
        const __m256d hn = _mm256_broadcast_sd(r.h + n);
#pragma GCC unroll 8
        for (int g = 0; g < kRuns; ++g) {
            const int first = 1 + 5 * g;
            if (n >= kSubframe - first) break; // this run and the longer lags are done
            sums[g] = _mm256_add_pd(sums[g], _mm256_mul_pd(hn, _mm256_loadu_pd(r.h + n + first)));
            const int p = q - first;
            if (p >= 3) {
                store_run(c, q, p, sums[g]);
            } else {
                store_run_end(c, q, p, sums[g]);
            }
        }
    }
};

} // namespace

// Run by run, each run's sums in one register from start to end.
G729A_AVX2 void pulse_correlation_matrix(const double* h_in, pulse_correlations& c) {
    const padded_response r(h_in);
    const double* h = r.h;
    double sum = 0.0;
    for (int n = 0; n < kSubframe; ++n) {
        sum += h[n] * h[n];
        const int p = kSubframe - 1 - n;
        c.phi[p][p] = sum;
        c.half_diagonal[p] = 0.5 * sum;
    }
    for (int first = 1; first < kSubframe; first += 5) {
        __m256d sums = _mm256_setzero_pd();
        // The steps at which all four lanes have products, then the last three.
        const int all_lanes = kSubframe - first - 3;
        int n = 0;
        for (; n < all_lanes; ++n) {
            sums = _mm256_add_pd(sums, _mm256_mul_pd(_mm256_broadcast_sd(h + n), _mm256_loadu_pd(h + n + first)));
            const int q = kSubframe - 1 - n;
            store_run(c, q, q - first, sums);
        }
        for (; n < kSubframe - first; ++n) {
            sums = _mm256_add_pd(sums, _mm256_mul_pd(_mm256_broadcast_sd(h + n), _mm256_loadu_pd(h + n + first)));
            const int q = kSubframe - 1 - n;
            store_run_end(c, q, q - first, sums);
        }
    }
}

// The recursion is bound by the latency of its ordered subtractions, the
// correlations by the throughput of their products and stores: one step of
// each per sample, and the two overlap almost entirely.
G729A_AVX2 void synthesis_with_pulse_correlations(const synthesis_lane& lane, const double* h, pulse_correlations& c) {
    synthesis_recursion recursion(*lane.a, lane.memory_in);
    pulse_correlation_steps steps(h);
    for (int n = 0; n < kSubframe; ++n) {
        lane.y[n] = recursion.step(lane.x[n]);
        steps.step(n, c);
    }
    if (lane.memory_out != nullptr) recursion.store(lane.memory_out);
}

namespace {

constexpr int kTracks = 5;
constexpr int kTrackPositions = kSubframe / kTracks; // 8
constexpr int kHalfTrack = 4 * kTracks;             // from x[0] to x[20]

// x[0], x[5], x[10], x[15]: four positions of one track.
G729A_AVX2 inline __m256d track_values(const double* x) { return _mm256_setr_pd(x[0], x[5], x[10], x[15]); }

// phi[p][q] * (sign[p] * sign[q]) for four positions q of one track: the
// correlations with the pulses' signs folded in, exactly (the signs are +1
// or -1).
G729A_AVX2 inline __m256d signed_values(const double* phi, __m256d sign_p, __m256d sign_q) {
    return _mm256_mul_pd(track_values(phi), _mm256_mul_pd(sign_p, sign_q));
}

G729A_AVX2 inline double largest_lane(__m256d x) {
    const __m128d pair = _mm_max_pd(_mm256_castpd256_pd128(x), _mm256_extractf128_pd(x, 1));
    return _mm_cvtsd_f64(_mm_max_sd(pair, _mm_unpackhi_pd(pair, pair)));
}

// Position of the largest d in the track, skipping `skip`, the first of
// equal values, or the track's first position when no value exceeds -1: the
// one-by-one scan's answer (it starts from -1 and takes a value only when
// it is larger), found without a branch per position. A skipped or NaN
// value becomes -1, which that scan would never take either.
G729A_AVX2 int largest_in_track(const double* d, int track, int skip) {
    const __m256d positions_low = _mm256_setr_pd(0, 5, 10, 15);
    const __m256d positions_high = _mm256_setr_pd(20, 25, 30, 35);
    const __m256d skipped = _mm256_set1_pd(double(skip - track));
    const __m256d floor = _mm256_set1_pd(-1.0);
    __m256d low = track_values(d + track);
    __m256d high = track_values(d + track + kHalfTrack);
    const __m256d drop_low = _mm256_or_pd(_mm256_cmp_pd(positions_low, skipped, _CMP_EQ_OQ), _mm256_cmp_pd(low, low, _CMP_UNORD_Q));
    const __m256d drop_high =
        _mm256_or_pd(_mm256_cmp_pd(positions_high, skipped, _CMP_EQ_OQ), _mm256_cmp_pd(high, high, _CMP_UNORD_Q));
    low = _mm256_blendv_pd(low, floor, drop_low);
    high = _mm256_blendv_pd(high, floor, drop_high);
    const double max = largest_lane(_mm256_max_pd(low, high));
    if (!(max > -1.0)) return track;
    const __m256d m = _mm256_set1_pd(max);
    const unsigned equal = unsigned(_mm256_movemask_pd(_mm256_cmp_pd(low, m, _CMP_EQ_OQ))) |
                           unsigned(_mm256_movemask_pd(_mm256_cmp_pd(high, m, _CMP_EQ_OQ))) << 4;
    return track + kTracks * __builtin_ctz(equal);
}

// Which of `count` candidates (numerators n, energies e, in scan order) the
// one-by-one scan from the score {-1, 1} ends on, -1 for none, exactly.
//
// The scan ends on candidate m when m beats every candidate before it and
// the starting score (whichever of them is held when m comes, m replaces
// it) and nothing after m beats m (nothing replaces it). Those are the same
// comparisons as the scan's, all made side by side, for the m most likely
// to pass: the first of the largest ratios n / e. Only when ratios too
// close for the rounding of the comparisons (or NaNs) leave that in doubt
// is the scan run one by one.
template <int count>
G729A_AVX2 int scan_winner(const double* n, const double* e) {
    static_assert(count % 4 == 0 && count <= 64, "whole vectors, one mask bit each");
    constexpr int kVectors = count / 4;
    __m256d ratio[kVectors];
    __m256d largest = _mm256_div_pd(_mm256_loadu_pd(n), _mm256_loadu_pd(e));
    ratio[0] = largest;
    for (int v = 1; v < kVectors; ++v) {
        ratio[v] = _mm256_div_pd(_mm256_loadu_pd(n + 4 * v), _mm256_loadu_pd(e + 4 * v));
        largest = _mm256_max_pd(largest, ratio[v]);
    }
    const __m256d top = _mm256_set1_pd(largest_lane(largest));
    uint64_t at_top = 0;
    for (int v = 0; v < kVectors; ++v)
        at_top |= uint64_t(unsigned(_mm256_movemask_pd(_mm256_cmp_pd(ratio[v], top, _CMP_EQ_OQ)))) << (4 * v);
    if (at_top != 0) {
        const int m = __builtin_ctzll(at_top);
        const __m256d nm = _mm256_set1_pd(n[m]), em = _mm256_set1_pd(e[m]);
        const __m256d zero = _mm256_setzero_pd();
        uint64_t m_beats = 0, beats_m = 0;
        for (int v = 0; v < kVectors; ++v) {
            const __m256d nv = _mm256_loadu_pd(n + 4 * v), ev = _mm256_loadu_pd(e + 4 * v);
            // beats(n[m], e[m], {n[i], e[i]}) and beats(n[i], e[i], {n[m], e[m]}).
            const __m256d over = _mm256_sub_pd(_mm256_mul_pd(nm, ev), _mm256_mul_pd(em, nv));
            const __m256d under = _mm256_sub_pd(_mm256_mul_pd(nv, em), _mm256_mul_pd(ev, nm));
            m_beats |= uint64_t(unsigned(_mm256_movemask_pd(_mm256_cmp_pd(over, zero, _CMP_GT_OQ)))) << (4 * v);
            beats_m |= uint64_t(unsigned(_mm256_movemask_pd(_mm256_cmp_pd(under, zero, _CMP_GT_OQ)))) << (4 * v);
        }
        const uint64_t all = count == 64 ? ~uint64_t(0) : (uint64_t(1) << count) - 1;
        const uint64_t at = uint64_t(1) << m;
        const uint64_t before = at - 1;
        const uint64_t after = all & ~before & ~at;
        if (beats(n[m], e[m], held_score{}) && (m_beats & before) == before && (beats_m & after) == 0) return m;
    }
    held_score held;
    int winner = -1;
    for (int i = 0; i < count; ++i) {
        if (beats(n[i], e[i], held)) {
            held.numerator = n[i];
            held.energy = e[i];
            winner = i;
        }
    }
    return winner;
}

} // namespace

// The sixteen candidates' sums and energies, lane by lane the portable
// arithmetic, then the scan's winner among them.
G729A_AVX2 void search_pair(const double* d, const double* sign, const pulse_correlations& c, int pre, int all,
                            int& chosen_pre, int& chosen_all, double& r_pair, double& e_pair) {
    int rows[2];
    rows[0] = largest_in_track(d, pre, -1);
    rows[1] = largest_in_track(d, pre, rows[0]);
    const __m256d d_low = track_values(d + all), d_high = track_values(d + all + kHalfTrack);
    const __m256d half_low = track_values(c.half_diagonal + all);
    const __m256d half_high = track_values(c.half_diagonal + all + kHalfTrack);
    const __m256d sign_low = track_values(sign + all), sign_high = track_values(sign + all + kHalfTrack);
    double r2[2 * kTrackPositions], n2[2 * kTrackPositions], e2[2 * kTrackPositions];
    for (int row = 0; row < 2; ++row) {
        const int j = rows[row];
        const __m256d dj = _mm256_set1_pd(d[j]);
        const __m256d half_j = _mm256_set1_pd(c.half_diagonal[j]);
        const __m256d sj = _mm256_set1_pd(sign[j]);
        const __m256d r_low = _mm256_add_pd(d_low, dj), r_high = _mm256_add_pd(d_high, dj);
        const __m256d phi_low = signed_values(&c.phi[j][all], sj, sign_low);
        const __m256d phi_high = signed_values(&c.phi[j][all + kHalfTrack], sj, sign_high);
        const __m256d e_low = _mm256_add_pd(_mm256_add_pd(phi_low, half_j), half_low);
        const __m256d e_high = _mm256_add_pd(_mm256_add_pd(phi_high, half_j), half_high);
        double* at = r2 + kTrackPositions * row;
        _mm256_storeu_pd(at, r_low);
        _mm256_storeu_pd(at + 4, r_high);
        at = n2 + kTrackPositions * row;
        _mm256_storeu_pd(at, _mm256_mul_pd(r_low, r_low));
        _mm256_storeu_pd(at + 4, _mm256_mul_pd(r_high, r_high));
        at = e2 + kTrackPositions * row;
        _mm256_storeu_pd(at, e_low);
        _mm256_storeu_pd(at + 4, e_high);
    }
    const int m = scan_winner<2 * kTrackPositions>(n2, e2);
    if (m < 0) {
        chosen_pre = pre;
        chosen_all = all;
        r_pair = 0.0;
        e_pair = held_score{}.energy;
        return;
    }
    chosen_pre = rows[m / kTrackPositions];
    chosen_all = all + kTracks * (m % kTrackPositions);
    r_pair = r2[m];
    e_pair = e2[m];
}

// The sixty-four candidates, row by row, then the scan's winner. The matrix
// is symmetric, so phi[k][fixed] is read as phi[fixed][k], along a row.
G729A_AVX2 held_score search_remaining(const double* d, const double* sign, const pulse_correlations& c, int outer,
                                       int inner, int fixed_a, int fixed_b, double r_pair, double e_pair,
                                       int& chosen_outer, int& chosen_inner) {
    constexpr int kCandidates = kTrackPositions * kTrackPositions;
    // w[i] = (phi[k][fixed_a] + phi[k][fixed_b]) + half_diagonal[k] for the inner positions k,
    // r1 = d[j] + r_pair and e1 = ((phi[j][fixed_a] + e_pair) + phi[j][fixed_b]) + half_diagonal[j]
    // for the outer positions j.
    __m256d w[2], r1[2], e1[2], d_inner[2], sign_inner[2];
    const __m256d r_base = _mm256_set1_pd(r_pair), e_base = _mm256_set1_pd(e_pair);
    const __m256d sign_a = _mm256_set1_pd(sign[fixed_a]), sign_b = _mm256_set1_pd(sign[fixed_b]);
    for (int h = 0; h < 2; ++h) {
        const int k = inner + kHalfTrack * h, j = outer + kHalfTrack * h;
        sign_inner[h] = track_values(sign + k);
        const __m256d sign_outer = track_values(sign + j);
        w[h] = _mm256_add_pd(_mm256_add_pd(signed_values(&c.phi[fixed_a][k], sign_a, sign_inner[h]),
                                           signed_values(&c.phi[fixed_b][k], sign_b, sign_inner[h])),
                             track_values(c.half_diagonal + k));
        d_inner[h] = track_values(d + k);
        r1[h] = _mm256_add_pd(track_values(d + j), r_base);
        e1[h] = _mm256_add_pd(_mm256_add_pd(_mm256_add_pd(signed_values(&c.phi[fixed_a][j], sign_a, sign_outer), e_base),
                                            signed_values(&c.phi[fixed_b][j], sign_b, sign_outer)),
                              track_values(c.half_diagonal + j));
    }
    double row_r1[kTrackPositions], row_e1[kTrackPositions];
    _mm256_storeu_pd(row_r1, r1[0]);
    _mm256_storeu_pd(row_r1 + 4, r1[1]);
    _mm256_storeu_pd(row_e1, e1[0]);
    _mm256_storeu_pd(row_e1 + 4, e1[1]);

    double n2[kCandidates], e2[kCandidates];
    for (int row = 0; row < kTrackPositions; ++row) {
        const int j = outer + kTracks * row;
        const __m256d r = _mm256_set1_pd(row_r1[row]), e = _mm256_set1_pd(row_e1[row]);
        const __m256d sj = _mm256_set1_pd(sign[j]);
        for (int h = 0; h < 2; ++h) {
            const __m256d r2 = _mm256_add_pd(d_inner[h], r);
            const __m256d phi = signed_values(&c.phi[j][inner + kHalfTrack * h], sj, sign_inner[h]);
            const __m256d e_sum = _mm256_add_pd(_mm256_add_pd(phi, e), w[h]);
            _mm256_storeu_pd(n2 + kTrackPositions * row + 4 * h, _mm256_mul_pd(r2, r2));
            _mm256_storeu_pd(e2 + kTrackPositions * row + 4 * h, e_sum);
        }
    }
    const int m = scan_winner<kCandidates>(n2, e2);
    if (m < 0) {
        chosen_outer = outer;
        chosen_inner = inner;
        return held_score{};
    }
    chosen_outer = outer + kTracks * (m / kTrackPositions);
    chosen_inner = inner + kTracks * (m % kTrackPositions);
    return held_score{n2[m], e2[m]};
}

} // namespace avx2
} // namespace g729

#endif
