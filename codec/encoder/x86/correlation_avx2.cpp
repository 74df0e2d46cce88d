#include "codec/encoder/x86/avx2.h"

#if defined(__x86_64__)

#include <immintrin.h>

// Only intrinsics and functions local to this file run with AVX2 enabled,
// so no shared inline function can be emitted here with instructions the
// portable build must not contain. FMA stays off: every product is rounded
// before its addition, as in the portable code.
#define G729A_AVX2 __attribute__((target("avx2")))

namespace g729 {
namespace avx2 {
namespace {

// Adds the products of a[i] with b[i + k] for the lags of one vector of four,
// lanes whose lag has run out of products masked to an exact +0 (a sum from
// +0 is never -0, so adding +0 leaves it unchanged, even when a[i] is
// infinite and the masked product would be NaN). The masked load touches
// nothing past b[n - 1].
G729A_AVX2 inline __m256d add_tail_products(__m256d sum, __m256d ai, const double* q, int live_lanes) {
    const __m256i lane = _mm256_set_epi64x(3, 2, 1, 0);
    const __m256i live = _mm256_cmpgt_epi64(_mm256_set1_epi64x(live_lanes), lane);
    const __m256d product = _mm256_mul_pd(ai, _mm256_maskload_pd(q, live));
    return _mm256_add_pd(sum, _mm256_and_pd(product, _mm256_castsi256_pd(live)));
}

// 4 * vectors lags k0 .. k0 + 4*vectors - 1 in one pass over a, one lag per
// lane, each lane its own sum from 0 adding a[i] * b[i + k] in increasing i.
// In the shared part every lane has a product; past it the higher lags run
// out one by one. The accumulators are named: in an array GCC keeps them in
// memory, and every addition would wait for a store.
template <int vectors>
G729A_AVX2 void correlation_block(const double* a, const double* b, int n, int k0, int count, double* out) {
    constexpr int kLanes = 4 * vectors;
    __m256d s0 = _mm256_setzero_pd(), s1 = s0, s2 = s0, s3 = s0;
    const int shared = n - k0 - (kLanes - 1);
    int i = 0;
    for (; i < shared; ++i) {
        const __m256d ai = _mm256_broadcast_sd(a + i);
        const double* q = b + i + k0;
        s0 = _mm256_add_pd(s0, _mm256_mul_pd(ai, _mm256_loadu_pd(q)));
        if (vectors > 1) s1 = _mm256_add_pd(s1, _mm256_mul_pd(ai, _mm256_loadu_pd(q + 4)));
        if (vectors > 2) s2 = _mm256_add_pd(s2, _mm256_mul_pd(ai, _mm256_loadu_pd(q + 8)));
        if (vectors > 3) s3 = _mm256_add_pd(s3, _mm256_mul_pd(ai, _mm256_loadu_pd(q + 12)));
    }
    for (; i < n - k0; ++i) {
        // Lag k0 + l still has a product while l < n - i - k0.
        const __m256d ai = _mm256_broadcast_sd(a + i);
        const double* q = b + i + k0;
        const int live = n - i - k0;
        s0 = add_tail_products(s0, ai, q, live);
        if (vectors > 1 && live > 4) s1 = add_tail_products(s1, ai, q + 4, live - 4);
        if (vectors > 2 && live > 8) s2 = add_tail_products(s2, ai, q + 8, live - 8);
        if (vectors > 3 && live > 12) s3 = add_tail_products(s3, ai, q + 12, live - 12);
    }
    alignas(32) double lags[16];
    _mm256_store_pd(lags, s0);
    _mm256_store_pd(lags + 4, s1);
    _mm256_store_pd(lags + 8, s2);
    _mm256_store_pd(lags + 12, s3);
    const int stored = count - k0 < kLanes ? count - k0 : kLanes;
    for (int j = 0; j < stored; ++j) out[k0 + j] = lags[j];
}

} // namespace

G729A_AVX2 void shifted_correlations(const double* a, const double* b, int n, int count, double* out) {
    // Sixteen lags a pass keep four independent sums in flight per product
    // of a; the last pass takes only as many vectors as lags remain.
    int k0 = 0;
    for (; count - k0 > 12; k0 += 16) correlation_block<4>(a, b, n, k0, count, out);
    const int left = count - k0;
    if (left > 8) {
        correlation_block<3>(a, b, n, k0, count, out);
    } else if (left > 4) {
        correlation_block<2>(a, b, n, k0, count, out);
    } else if (left > 0) {
        correlation_block<1>(a, b, n, k0, count, out);
    }
}

} // namespace avx2
} // namespace g729

#endif
