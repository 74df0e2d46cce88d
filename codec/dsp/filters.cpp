#include "codec/dsp/filters.h"

#include <algorithm>
#include <cmath>

#include "codec/dsp/simd.h"

namespace g729 {

void synthesis_filter(const lp_coefficients& a, const double* x, double* y, int n, double* memory, bool update) {
    synthesis_recursion r(a, memory);
    for (int k = 0; k < n; ++k) y[k] = r.step(x[k]);
    if (update) r.store(memory);
}

void synthesis_filter_pair(const lp_coefficients& a, int n, const double* x1, double* y1, const double* memory1,
                           const double* x2, double* y2, const double* memory2) {
    synthesis_filter_pair(a, a, n, x1, y1, memory1, x2, y2, memory2);
}

void synthesis_filter_pair(const lp_coefficients& a1, const lp_coefficients& a2, int n, const double* x1, double* y1,
                           const double* memory1, const double* x2, double* y2, const double* memory2) {
    const synthesis_lane lanes[2] = {{&a1, x1, y1, memory1, nullptr}, {&a2, x2, y2, memory2, nullptr}};
    synthesis_filter_lanes(lanes, 2, n);
}

namespace {

// Four lanes as two register pairs: the compiler's own four-lane vectors
// are split clumsily where the target has only two-lane registers.
struct quad {
    simd::lanes2 lo, hi;
};
inline quad operator*(const quad& a, const quad& b) { return quad{a.lo * b.lo, a.hi * b.hi}; }
inline quad& operator-=(quad& a, const quad& b) {
    a.lo -= b.lo;
    a.hi -= b.hi;
    return a;
}
#if defined(__clang__)
// Clang binds no reference to a vector element: a stand-in that reads and
// writes through the vector.
struct lane_reference {
    simd::lanes2& v;
    int l;
    lane_reference& operator=(double x) {
        v[l] = x;
        return *this;
    }
    operator double() const { return v[l]; }
};
inline lane_reference lane_of(simd::lanes2& v, int l) { return lane_reference{v, l}; }
inline lane_reference lane_of(quad& v, int l) { return l < 2 ? lane_of(v.lo, l) : lane_of(v.hi, l - 2); }
#else
// GCC's reference to a vector element keeps the vectors in registers.
inline double& lane_of(simd::lanes2& v, int l) { return v[l]; }
inline double& lane_of(quad& v, int l) { return l < 2 ? lane_of(v.lo, l) : lane_of(v.hi, l - 2); }
#endif

// Lanes beyond count run on zeros and are never stored. Lanes never mix:
// each carries the same operations in the same order as synthesis_filter.
// As there, the last ten outputs stay in locals, newest in z1, instead of
// being read back from memory.
template <class V, int count>
void synthesis_lanes(const synthesis_lane* lane, int n) {
    V c[kLpSize] = {};
    V z[kOrder] = {};
    const double* x[count];
    double* y[count];
    for (int l = 0; l < count; ++l) {
        for (int i = 1; i <= kOrder; ++i) lane_of(c[i], l) = (*lane[l].a)[i];
        for (int j = 0; j < kOrder; ++j) lane_of(z[j], l) = lane[l].memory_in[j];
        x[l] = lane[l].x;
        y[l] = lane[l].y;
    }
    V z10 = z[0], z9 = z[1], z8 = z[2], z7 = z[3], z6 = z[4], z5 = z[5], z4 = z[6], z3 = z[7], z2 = z[8], z1 = z[9];
    if (n > kSubframe) n = kSubframe;
    for (int k = 0; k < n; ++k) {
        V s = {};
#pragma GCC unroll 4
        for (int l = 0; l < count; ++l) lane_of(s, l) = x[l][k];
        s -= c[1] * z1;
        s -= c[2] * z2;
        s -= c[3] * z3;
        s -= c[4] * z4;
        s -= c[5] * z5;
        s -= c[6] * z6;
        s -= c[7] * z7;
        s -= c[8] * z8;
        s -= c[9] * z9;
        s -= c[10] * z10;
#pragma GCC unroll 4
        for (int l = 0; l < count; ++l) y[l][k] = lane_of(s, l);
        z10 = z9;
        z9 = z8;
        z8 = z7;
        z7 = z6;
        z6 = z5;
        z5 = z4;
        z4 = z3;
        z3 = z2;
        z2 = z1;
        z1 = s;
    }
    V last[kOrder] = {z10, z9, z8, z7, z6, z5, z4, z3, z2, z1};
    for (int l = 0; l < count; ++l) {
        double* out = lane[l].memory_out;
        if (out == nullptr) continue;
        for (int j = 0; j < kOrder; ++j) {
            const double v = lane_of(last[j], l);
            out[j] = std::fabs(v) < kMemoryFlush ? 0.0 : v;
        }
    }
}

} // namespace

void synthesis_filter_lanes(const synthesis_lane* lanes, int count, int n) {
    switch (count) {
    case 1:
        synthesis_lanes<simd::lanes2, 1>(lanes, n);
        break;
    case 2:
        synthesis_lanes<simd::lanes2, 2>(lanes, n);
        break;
    case 3: {
        // A fourth lane repeating the first into scratch: three lanes of a
        // quad compile to slower code than four.
        double scratch[kSubframe];
        const synthesis_lane four[4] = {lanes[0], lanes[1], lanes[2],
                                        {lanes[0].a, lanes[0].x, scratch, lanes[0].memory_in, nullptr}};
        synthesis_lanes<quad, 4>(four, n);
        break;
    }
    case 4:
        synthesis_lanes<quad, 4>(lanes, n);
        break;
    default:
        break;
    }
}

void residual_filter(const lp_coefficients& a, const double* x, double* y, int n) {
    // Every output is its own sum over the input alone, so eight of them
    // are accumulated side by side, one per vector lane; each lane starts
    // from x[k] and adds a[i] x[k - i] in increasing i like the loop below,
    // which finishes the tail.
    using simd::lanes2;
    constexpr int kGroup = 8;
    lanes2 coefficient[kLpSize];
    for (int i = 1; i <= kOrder; ++i) coefficient[i] = simd::splat2(a[i]);
    int k = 0;
    for (; k + kGroup <= n; k += kGroup) {
        const double* q = x + k;
        lanes2 s0 = simd::load<lanes2>(q), s1 = simd::load<lanes2>(q + 2);
        lanes2 s2 = simd::load<lanes2>(q + 4), s3 = simd::load<lanes2>(q + 6);
        for (int i = 1; i <= kOrder; ++i) {
            s0 += coefficient[i] * simd::load<lanes2>(q - i);
            s1 += coefficient[i] * simd::load<lanes2>(q - i + 2);
            s2 += coefficient[i] * simd::load<lanes2>(q - i + 4);
            s3 += coefficient[i] * simd::load<lanes2>(q - i + 6);
        }
        simd::store(y + k, s0);
        simd::store(y + k + 2, s1);
        simd::store(y + k + 4, s2);
        simd::store(y + k + 6, s3);
    }
    for (; k < n; ++k) {
        double s = x[k];
        for (int i = 1; i <= kOrder; ++i) s += a[i] * x[k - i];
        y[k] = s;
    }
}

void bandwidth_expand(const double* a, int m, double* ap, double gamma) {
    ap[0] = a[0];
    double f = gamma;
    for (int i = 1; i < m; ++i) {
        ap[i] = a[i] * f;
        f *= gamma;
    }
    ap[m] = a[m] * f;
}

void bandwidth_expand(const lp_coefficients& a, lp_coefficients& ap, double gamma) {
    bandwidth_expand(a.data(), kOrder, ap.data(), gamma);
}

void set_zero(double* v, int n) {
    for (int i = 0; i < n; ++i) v[i] = 0.0;
}

void copy_vector(const double* src, double* dst, int n) {
    // Callers slide histories left with overlapping ranges, so the compiler
    // cannot vectorise an element loop; std::copy is a forward block move,
    // which is exactly what such a shift needs.
    if (n > 0) std::copy(src, src + n, dst);
}

} // namespace g729
