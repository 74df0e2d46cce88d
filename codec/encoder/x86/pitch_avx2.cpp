#include "codec/encoder/x86/avx2.h"

#if defined(__x86_64__)

#include <immintrin.h>

// Only intrinsics and functions local to this file run with AVX2 enabled
// (see codec/dsp/x86/correlation_avx2.cpp). No FMA: every product is
// rounded before its addition, as in the portable code.
#define G729A_AVX2 __attribute__((target("avx2")))

namespace g729 {
namespace avx2 {
namespace {

// The odd elements of the eight samples p[-7] .. p[0]: p[-6], p[-2], p[-4], p[0].
G729A_AVX2 inline __m256d odd_samples(const double* p) {
    return _mm256_unpackhi_pd(_mm256_loadu_pd(p - 7), _mm256_loadu_pd(p - 3));
}

// Four lags of the decimated correlation per vector, 4 * vectors lags from
// t on in steps of `step`, each lane its own sum from 0 adding w[k] * w[k -
// lag] for even k in increasing order. With step 1 a vector holds w[k - t -
// 3 .. k - t], that is lags t + 3, t + 2, t + 1, t; with step 2 the odd
// elements of two such loads, lags t + 6, t + 2, t + 4, t.
template <int step, int vectors>
G729A_AVX2 void decimated_block(const double* w, int n, int t, double* r) {
    __m256d s0 = _mm256_setzero_pd(), s1 = s0, s2 = s0, s3 = s0;
    constexpr int kSpan = 4 * step; // lags covered by one vector
    for (int k = 0; k < n; k += 2) {
        const __m256d wk = _mm256_broadcast_sd(w + k);
        const double* q = w + k - t;
        if (step == 1) {
            s0 = _mm256_add_pd(s0, _mm256_mul_pd(wk, _mm256_loadu_pd(q - 3)));
            if (vectors > 1) s1 = _mm256_add_pd(s1, _mm256_mul_pd(wk, _mm256_loadu_pd(q - kSpan - 3)));
            if (vectors > 2) s2 = _mm256_add_pd(s2, _mm256_mul_pd(wk, _mm256_loadu_pd(q - 2 * kSpan - 3)));
            if (vectors > 3) s3 = _mm256_add_pd(s3, _mm256_mul_pd(wk, _mm256_loadu_pd(q - 3 * kSpan - 3)));
        } else {
            s0 = _mm256_add_pd(s0, _mm256_mul_pd(wk, odd_samples(q)));
            if (vectors > 1) s1 = _mm256_add_pd(s1, _mm256_mul_pd(wk, odd_samples(q - kSpan)));
            if (vectors > 2) s2 = _mm256_add_pd(s2, _mm256_mul_pd(wk, odd_samples(q - 2 * kSpan)));
            if (vectors > 3) s3 = _mm256_add_pd(s3, _mm256_mul_pd(wk, odd_samples(q - 3 * kSpan)));
        }
    }
    alignas(32) double lanes[16];
    _mm256_store_pd(lanes, s0);
    _mm256_store_pd(lanes + 4, s1);
    _mm256_store_pd(lanes + 8, s2);
    _mm256_store_pd(lanes + 12, s3);
    // Lane j of each vector holds the lag at position slot[j] of its four.
    constexpr int kSlot[2][4] = {{3, 2, 1, 0}, {3, 1, 2, 0}};
    for (int v = 0; v < vectors; ++v) {
        for (int j = 0; j < 4; ++j) r[4 * v + kSlot[step - 1][j]] = lanes[4 * v + j];
    }
}

} // namespace

G729A_AVX2 void decimated_correlations(const double* w, int n, int first, int step, int count, double* r) {
    // Sixteen lags a pass, then four at a time for what is left (count is a
    // multiple of 4); no load reaches further back than the lags do.
    int j = 0;
    if (step == 1) {
        for (; j + 16 <= count; j += 16) decimated_block<1, 4>(w, n, first + j, r + j);
        for (; j < count; j += 4) decimated_block<1, 1>(w, n, first + j, r + j);
    } else {
        for (; j + 16 <= count; j += 16) decimated_block<2, 4>(w, n, first + 2 * j, r + j);
        for (; j < count; j += 4) decimated_block<2, 1>(w, n, first + 2 * j, r + j);
    }
}

} // namespace avx2
} // namespace g729

#endif
