#include "codec/dsp/x86/avx2.h"

#if defined(__x86_64__)

#include <immintrin.h>

// Only intrinsics and functions local to this file run with AVX2 enabled
// (see correlation_avx2.cpp). No FMA: every product is rounded before the
// sum it joins, as in the portable code.
#define G729A_AVX2 __attribute__((target("avx2")))

namespace g729 {
namespace avx2 {

G729A_AVX2 void evaluate_on_lsp_grid(const lsp_half_polynomial& f, lsp_grid_values& g) {
    static_assert(kLspPaddedGridPoints % 8 == 4, "six passes of eight and one of four");
    // Four points a vector, two vectors a pass, each lane the Chebyshev
    // recurrence of its own point in the one-point order:
    // b0 = ((2x) b1 - b2) + f[i], and at the end (x b1 - b2) + f[5]/2.
    constexpr int kHalfOrder = kOrder / 2;
    const __m256d one = _mm256_set1_pd(1.0), two = _mm256_set1_pd(2.0);
    const __m256d last = _mm256_set1_pd(0.5 * f[kHalfOrder]);
    const __m256d f1 = _mm256_set1_pd(f[1]);
    int j = 0;
    for (; j + 8 <= kLspPaddedGridPoints; j += 8) {
        const __m256d x0 = _mm256_loadu_pd(lsp_padded_grid.data() + j);
        const __m256d x1 = _mm256_loadu_pd(lsp_padded_grid.data() + j + 4);
        const __m256d twice0 = _mm256_mul_pd(two, x0), twice1 = _mm256_mul_pd(two, x1);
        __m256d b2_0 = one, b2_1 = one;
        __m256d b1_0 = _mm256_add_pd(twice0, f1), b1_1 = _mm256_add_pd(twice1, f1);
        for (int i = 2; i < kHalfOrder; ++i) {
            const __m256d fi = _mm256_set1_pd(f[size_t(i)]);
            const __m256d b0_0 = _mm256_add_pd(_mm256_sub_pd(_mm256_mul_pd(twice0, b1_0), b2_0), fi);
            const __m256d b0_1 = _mm256_add_pd(_mm256_sub_pd(_mm256_mul_pd(twice1, b1_1), b2_1), fi);
            b2_0 = b1_0;
            b2_1 = b1_1;
            b1_0 = b0_0;
            b1_1 = b0_1;
        }
        _mm256_storeu_pd(g.y + j, _mm256_add_pd(_mm256_sub_pd(_mm256_mul_pd(x0, b1_0), b2_0), last));
        _mm256_storeu_pd(g.y + j + 4, _mm256_add_pd(_mm256_sub_pd(_mm256_mul_pd(x1, b1_1), b2_1), last));
    }
    const __m256d x = _mm256_loadu_pd(lsp_padded_grid.data() + j);
    const __m256d twice = _mm256_mul_pd(two, x);
    __m256d b2 = one, b1 = _mm256_add_pd(twice, f1);
    for (int i = 2; i < kHalfOrder; ++i) {
        const __m256d b0 = _mm256_add_pd(_mm256_sub_pd(_mm256_mul_pd(twice, b1), b2), _mm256_set1_pd(f[size_t(i)]));
        b2 = b1;
        b1 = b0;
    }
    _mm256_storeu_pd(g.y + j, _mm256_add_pd(_mm256_sub_pd(_mm256_mul_pd(x, b1), b2), last));

    // The sign changes four points a vector: the product of each value with
    // the one before, compared with 0 (ordered: a NaN product is no sign
    // change, as with <=).
    uint64_t changes = 0;
    int k = 1;
    for (; k + 4 <= kLspGridPoints; k += 4) {
        const __m256d product = _mm256_mul_pd(_mm256_loadu_pd(g.y + k - 1), _mm256_loadu_pd(g.y + k));
        const uint64_t bits = uint64_t(_mm256_movemask_pd(_mm256_cmp_pd(product, _mm256_setzero_pd(), _CMP_LE_OQ)));
        changes |= bits << k;
    }
    for (; k < kLspGridPoints; ++k) changes |= uint64_t(g.y[k - 1] * g.y[k] <= 0.0) << k;
    g.sign_changes = changes;
}

} // namespace avx2
} // namespace g729

#endif
