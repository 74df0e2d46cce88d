#include "codec/encoder/x86/avx2.h"

#if defined(__x86_64__)

#include <immintrin.h>

#include "codec/dsp/tables.h"

// Only intrinsics and functions local to this file run with AVX2 enabled
// (see correlation_avx2.cpp). No FMA: every square is rounded before its
// addition, as in the portable code.
#define G729A_AVX2 __attribute__((target("avx2")))

namespace g729 {
namespace avx2 {

G729A_AVX2 void first_stage_distances(const std::array<double, 10>& target, double* distance) {
    // Sixteen rows a pass, one per lane, each its own sum from 0 over the
    // components in increasing order.
    static_assert(kLsfCodebookL1Size % 16 == 0, "whole passes");
    for (int r = 0; r < kLsfCodebookL1Size; r += 16) {
        __m256d s0 = _mm256_setzero_pd(), s1 = s0, s2 = s0, s3 = s0;
        for (int i = 0; i < kOrder; ++i) {
            const __m256d t = _mm256_broadcast_sd(&target[size_t(i)]);
            const double* c = lsf_codebook_l1_by_component[size_t(i)].data() + r;
            const __m256d e0 = _mm256_sub_pd(t, _mm256_loadu_pd(c));
            const __m256d e1 = _mm256_sub_pd(t, _mm256_loadu_pd(c + 4));
            const __m256d e2 = _mm256_sub_pd(t, _mm256_loadu_pd(c + 8));
            const __m256d e3 = _mm256_sub_pd(t, _mm256_loadu_pd(c + 12));
            s0 = _mm256_add_pd(s0, _mm256_mul_pd(e0, e0));
            s1 = _mm256_add_pd(s1, _mm256_mul_pd(e1, e1));
            s2 = _mm256_add_pd(s2, _mm256_mul_pd(e2, e2));
            s3 = _mm256_add_pd(s3, _mm256_mul_pd(e3, e3));
        }
        _mm256_storeu_pd(distance + r, s0);
        _mm256_storeu_pd(distance + r + 4, s1);
        _mm256_storeu_pd(distance + r + 8, s2);
        _mm256_storeu_pd(distance + r + 12, s3);
    }
}

G729A_AVX2 void second_stage_distances(const std::array<double, 10>& target, const std::array<double, 10>& first_stage,
                                       const std::array<double, 10>& weight, double* lower, double* upper) {
    // All 32 rows in one pass, eight lanes of four, each its own sum from 0
    // over its half's components in increasing order: the lower half's
    // sums first, then the upper half's.
    static_assert(kLsfCodebookL2L3Size == 32, "one pass of eight vectors");
    for (int half = 0; half < 2; ++half) {
        const int from = half == 0 ? 0 : kLsfLowerSplit;
        const int to = half == 0 ? kLsfLowerSplit : kOrder;
        double* distance = half == 0 ? lower : upper;
        __m256d s[8];
        for (int v = 0; v < 8; ++v) s[v] = _mm256_setzero_pd();
        for (int i = from; i < to; ++i) {
            const __m256d t = _mm256_set1_pd(target[size_t(i)] - first_stage[size_t(i)]);
            const __m256d w = _mm256_broadcast_sd(&weight[size_t(i)]);
            const double* c = lsf_codebook_l2l3_by_component[size_t(i)].data();
            for (int v = 0; v < 8; ++v) {
                const __m256d e = _mm256_sub_pd(t, _mm256_loadu_pd(c + 4 * v));
                s[v] = _mm256_add_pd(s[v], _mm256_mul_pd(w, _mm256_mul_pd(e, e)));
            }
        }
        for (int v = 0; v < 8; ++v) _mm256_storeu_pd(distance + 4 * v, s[v]);
    }
}

} // namespace avx2
} // namespace g729

#endif
