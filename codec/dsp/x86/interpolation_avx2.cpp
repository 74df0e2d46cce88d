#include "codec/dsp/x86/avx2.h"

#if defined(__x86_64__)

#include <immintrin.h>

#include "codec/dsp/types.h"

// Only intrinsics and functions local to this file run with AVX2 enabled
// (see correlation_avx2.cpp). No FMA: each product is rounded, the two of a
// tap are added, and that is added to the output's sum, as in the portable
// code.
#define G729A_AVX2 __attribute__((target("avx2")))

namespace g729 {
namespace avx2 {

G729A_AVX2 int interpolation_groups(double* p, int base, const double* left_taps, const double* right_taps, int n) {
    constexpr int kGroup = 8;
    int j = 0;
    for (; j + kGroup <= n; j += kGroup) {
        const double* left = p + base + j;
        const double* right = left + 1;
        __m256d s0 = _mm256_setzero_pd(), s1 = s0;
        for (int i = 0; i < kInterpolationTaps; ++i) {
            const __m256d rt = _mm256_broadcast_sd(right_taps + i);
            const __m256d lt = _mm256_broadcast_sd(left_taps + i);
            const __m256d t0 = _mm256_add_pd(_mm256_mul_pd(_mm256_loadu_pd(right + i), rt),
                                             _mm256_mul_pd(_mm256_loadu_pd(left - i), lt));
            const __m256d t1 = _mm256_add_pd(_mm256_mul_pd(_mm256_loadu_pd(right + i + 4), rt),
                                             _mm256_mul_pd(_mm256_loadu_pd(left - i + 4), lt));
            s0 = _mm256_add_pd(s0, t0);
            s1 = _mm256_add_pd(s1, t1);
        }
        _mm256_storeu_pd(p + j, s0);
        _mm256_storeu_pd(p + j + 4, s1);
    }
    return j;
}

} // namespace avx2
} // namespace g729

#endif
