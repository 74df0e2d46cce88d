#include "codec/encoder/correlation.h"

#include "codec/dsp/cpu.h"
#include "codec/encoder/x86/avx2.h"

namespace g729 {

void portable::shifted_correlations(const double* a, const double* b, int n, int count, double* out) {
    // Eight lags share each pass over a, each in its own accumulator, so
    // the additions of different lags overlap and pair up in vector
    // registers while every lag keeps its own order. Past `shared` the
    // higher lags of the block have run out of products and the lower ones
    // finish alone. The accumulators are named one by one: kept in an
    // array, GCC leaves them in memory. A last block may compute lags
    // beyond count; their reads stay inside b and they are not stored.
    constexpr int kLanes = 8;
    for (int k0 = 0; k0 < count; k0 += kLanes) {
        double a0 = 0.0, a1 = 0.0, a2 = 0.0, a3 = 0.0, a4 = 0.0, a5 = 0.0, a6 = 0.0, a7 = 0.0;
        const int shared = n - k0 - (kLanes - 1);
        for (int i = 0; i < shared; ++i) {
            const double ai = a[i];
            const double* q = b + i + k0;
            a0 += ai * q[0];
            a1 += ai * q[1];
            a2 += ai * q[2];
            a3 += ai * q[3];
            a4 += ai * q[4];
            a5 += ai * q[5];
            a6 += ai * q[6];
            a7 += ai * q[7];
        }
        double sum[kLanes] = {a0, a1, a2, a3, a4, a5, a6, a7};
        const int start = shared > 0 ? shared : 0;
        for (int j = 0; j < kLanes && k0 + j < count; ++j) {
            for (int i = start; i < n - k0 - j; ++i) sum[j] += a[i] * b[i + k0 + j];
            out[k0 + j] = sum[j];
        }
    }
}

void shifted_correlations(const double* a, const double* b, int n, int count, double* out) {
#if defined(__x86_64__)
    if (active_instruction_set() == instruction_set::avx2) {
        avx2::shifted_correlations(a, b, n, count, out);
        return;
    }
#endif
    portable::shifted_correlations(a, b, n, count, out);
}

} // namespace g729
