#include "codec/encoder/x86/avx2.h"

#if defined(__x86_64__)

#include <immintrin.h>

#include "codec/encoder/fixed_codebook.h"

// Only intrinsics and functions local to this file run with AVX2 enabled
// (see codec/dsp/x86/correlation_avx2.cpp). No FMA: every product is
// rounded before its addition, as in the portable code.
#define G729A_AVX2 __attribute__((target("avx2")))

namespace g729 {
namespace avx2 {

// The lags that join positions of different tracks come in runs of four
// between the multiples of 5 (1-4, 6-9, ..., 36-39): one vector carries the
// four running sums of a run, lane j the lag first + j, each its own sum in
// increasing n exactly as the portable loop adds it. At step n the lanes
// give the entries ending at q = 39 - n, that is (p, q) for p = q - first - j:
// row q takes them as one store (the lanes reversed, p rising), column q
// one at a time. Once the last lane runs out of products (p < 0) the steps
// left store lane by lane.
G729A_AVX2 void pulse_correlation_matrix(const double* h_in, const double* sign, pulse_correlations& c) {
    constexpr int kPad = 4;
    // h and the signs read backwards (reversed_sign[i] = sign[39 - i]), with
    // room for the reads of lanes that have run out of products.
    double h[kSubframe + kPad];
    double reversed_sign[kSubframe + kPad];
    for (int n = 0; n < kSubframe; ++n) {
        h[n] = h_in[n];
        reversed_sign[n] = sign[kSubframe - 1 - n];
    }
    for (int n = kSubframe; n < kSubframe + kPad; ++n) {
        h[n] = 0.0;
        reversed_sign[n] = 1.0;
    }

    double sum = 0.0;
    for (int n = 0; n < kSubframe; ++n) {
        sum += h[n] * h[n];
        const int p = kSubframe - 1 - n;
        c.phi[p][p] = sum;
        c.half_diagonal[p] = 0.5 * sum;
    }

    for (int first = 1; first < kSubframe; first += 5) {
        __m256d sums = _mm256_setzero_pd();
        const int all_lanes = kSubframe - first - 3; // steps at which all four p >= 0
        int n = 0;
        for (; n < all_lanes; ++n) {
            sums = _mm256_add_pd(sums, _mm256_mul_pd(_mm256_broadcast_sd(h + n), _mm256_loadu_pd(h + n + first)));
            const int q = kSubframe - 1 - n;
            const int p = q - first;
            // sign[p - j] * sign[q], exact: the folded values are the sums
            // with their signs flipped or not.
            const __m256d signs =
                _mm256_mul_pd(_mm256_loadu_pd(reversed_sign + n + first), _mm256_broadcast_sd(sign + q));
            const __m256d folded = _mm256_mul_pd(sums, signs);
            _mm256_storeu_pd(&c.phi[q][p - 3], _mm256_permute4x64_pd(folded, 0x1b));
            const __m128d low = _mm256_castpd256_pd128(folded);
            const __m128d high = _mm256_extractf128_pd(folded, 1);
            _mm_storel_pd(&c.phi[p][q], low);
            _mm_storeh_pd(&c.phi[p - 1][q], low);
            _mm_storel_pd(&c.phi[p - 2][q], high);
            _mm_storeh_pd(&c.phi[p - 3][q], high);
        }
        for (; n < kSubframe - first; ++n) {
            sums = _mm256_add_pd(sums, _mm256_mul_pd(_mm256_broadcast_sd(h + n), _mm256_loadu_pd(h + n + first)));
            const int q = kSubframe - 1 - n;
            const int p = q - first;
            const __m256d signs =
                _mm256_mul_pd(_mm256_loadu_pd(reversed_sign + n + first), _mm256_broadcast_sd(sign + q));
            double lanes[4];
            _mm256_storeu_pd(lanes, _mm256_mul_pd(sums, signs));
            for (int j = 0; j <= p && j < 4; ++j) {
                c.phi[p - j][q] = lanes[j];
                c.phi[q][p - j] = lanes[j];
            }
        }
    }
}

} // namespace avx2
} // namespace g729

#endif
