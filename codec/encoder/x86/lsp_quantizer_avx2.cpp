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

} // namespace avx2
} // namespace g729

#endif
