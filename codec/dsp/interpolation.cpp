#include "codec/dsp/interpolation.h"

#include "codec/dsp/cpu.h"
#include "codec/dsp/simd.h"
#include "codec/dsp/types.h"
#include "codec/dsp/x86/avx2.h"

namespace g729 {

const std::array<double, kInterpolationFilterTaps> interpolation_filter_b30 = {
    0.898517,  0.769271,  0.448635,  0.095915,  -0.134333, -0.178528, -0.084919, 0.036952,
    0.095533,  0.068936,  0,         -0.050404, -0.050835, -0.014169, 0.023083,  0.033543,
    0.016774,  -0.007466, -0.019340, -0.013755, 0,         0.009400,  0.009029,  0.002381,
    -0.003658, -0.005027, -0.002405, 0.001050,  0.002780,  0.002145,  0,
};

namespace {

constexpr int kGroup = 8;

// Outputs j = 0, 8, ... in groups of eight while a whole group fits in n;
// returns the first output not computed. Only called when every group
// reads samples that are final before it starts (see below). Each lane is
// its own sum from 0 over the (right + left) pairs in increasing i, as in
// the one-by-one loop.
int portable_groups(double* p, int base, const double* left_taps, const double* right_taps, int n) {
    using simd::lanes2;
    using simd::load;
    lanes2 left_lanes[kInterpolationTaps];
    lanes2 right_lanes[kInterpolationTaps];
    for (int i = 0; i < kInterpolationTaps; ++i) {
        left_lanes[i] = simd::splat2(left_taps[i]);
        right_lanes[i] = simd::splat2(right_taps[i]);
    }
    int j = 0;
    for (; j + kGroup <= n; j += kGroup) {
        const double* left = p + base + j;
        const double* right = left + 1;
        lanes2 s0 = simd::splat2(0.0), s1 = s0, s2 = s0, s3 = s0;
        for (int i = 0; i < kInterpolationTaps; ++i) {
            s0 += load<lanes2>(right + i) * right_lanes[i] + load<lanes2>(left - i) * left_lanes[i];
            s1 += load<lanes2>(right + i + 2) * right_lanes[i] + load<lanes2>(left - i + 2) * left_lanes[i];
            s2 += load<lanes2>(right + i + 4) * right_lanes[i] + load<lanes2>(left - i + 4) * left_lanes[i];
            s3 += load<lanes2>(right + i + 6) * right_lanes[i] + load<lanes2>(left - i + 6) * left_lanes[i];
        }
        simd::store(p + j, s0);
        simd::store(p + j + 2, s1);
        simd::store(p + j + 4, s2);
        simd::store(p + j + 6, s3);
    }
    return j;
}

using group_kernel = int (*)(double*, int, const double*, const double*, int);

void interpolate(double* p, int t0, int frac, int n, group_kernel groups) {
    // A fraction of +1/3 is taken as the -1/3 branch one sample further back.
    int f = -frac;
    int base = -t0;
    if (f < 0) {
        f += 3;
        base -= 1;
    }
    double left_taps[kInterpolationTaps];
    double right_taps[kInterpolationTaps];
    for (int i = 0; i < kInterpolationTaps; ++i) {
        left_taps[i] = interpolation_filter_b30[f + 3 * i];
        right_taps[i] = interpolation_filter_b30[3 - f + 3 * i];
    }
    // In place, in increasing j: for lags below n the later outputs read the
    // earlier outputs of this same call. Output j reads up to index
    // base + j + 10, so while base + kGroup + 9 < 0 (every lag from 18 up)
    // a group of kGroup consecutive outputs reads only samples that are
    // final before the group starts. Such a group is computed side by side,
    // one output per lane.
    int j = 0;
    if (base + kGroup + kInterpolationTaps - 1 < 0) j = groups(p, base, left_taps, right_taps, n);
    for (; j < n; ++j) {
        const double* left = p + base + j;
        const double* right = left + 1;
        double s = 0.0;
        for (int i = 0; i < kInterpolationTaps; ++i) s += right[i] * right_taps[i] + left[-i] * left_taps[i];
        p[j] = s;
    }
}

} // namespace

void portable::interpolate_excitation(double* p, int t0, int frac, int n) { interpolate(p, t0, frac, n, portable_groups); }

#if defined(__x86_64__)
void avx2::interpolate_excitation(double* p, int t0, int frac, int n) {
    interpolate(p, t0, frac, n, avx2::interpolation_groups);
}
#endif

void interpolate_excitation(double* p, int t0, int frac, int n) {
#if defined(__x86_64__)
    if (active_instruction_set() == instruction_set::avx2) {
        avx2::interpolate_excitation(p, t0, frac, n);
        return;
    }
#endif
    portable::interpolate_excitation(p, t0, frac, n);
}

} // namespace g729
