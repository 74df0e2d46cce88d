// The kernels of channel_lanes.h, written once over four-lane vectors of
// doubles and compiled twice: for the baseline target (where each vector
// operation becomes two 128-bit ones) and, in x86/channel_lanes_avx2.cpp,
// for AVX2 (one 256-bit operation). The including file defines
// G729A_LANES_NAMESPACE and G729A_LANES_TARGET (a function attribute, maybe
// empty) first. Every lane carries its own chain of operations in the order
// of the one-signal code; lanes never mix, and lanes beyond the count run on
// zeros and are never stored.
#include <cmath>

#include "codec/dsp/channel_lanes.h"
#include "codec/dsp/simd.h"

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpsabi"
#endif

namespace g729 {
namespace G729A_LANES_NAMESPACE {

using simd::lanes4;
typedef long long masks4 __attribute__((vector_size(32)));

#define G729A_LANES_KERNEL G729A_LANES_TARGET static inline __attribute__((always_inline))

// Whole-vector moves of four doubles, inlined into each build (simd::load
// would be one out-of-line copy for both).
G729A_LANES_KERNEL lanes4 load4(const double* p) {
    lanes4 v;
    __builtin_memcpy(&v, p, sizeof v);
    return v;
}
G729A_LANES_KERNEL void store4(double* p, const lanes4& v) { __builtin_memcpy(p, &v, sizeof v); }

// The synthesis lanes of up to S vectors, gathered into interleaved arrays
// (every input and memory read before any output is written, as
// synthesis_filter_lanes promises), stepped, and scattered back.
template <int S>
struct synthesis_block {
    lanes4 c[S > 0 ? S : 1][kOrder];
    lanes4 z[S > 0 ? S : 1][kOrder]; // newest first
    double x[kSubframe][S > 0 ? S : 1][4];
    const synthesis_lane* lanes;
    int count;
};

template <int S>
G729A_LANES_KERNEL void gather_synthesis(synthesis_block<S>& b, const synthesis_lane* lanes, int count, int n) {
    b.lanes = lanes;
    b.count = count;
    for (int g = 0; g < S; ++g) {
        for (int l = 0; l < 4; ++l) {
            const int lane = 4 * g + l;
            const bool real = lane < count;
            for (int i = 0; i < kOrder; ++i) {
                b.c[g][i][l] = real ? (*lanes[lane].a)[size_t(i + 1)] : 0.0;
                b.z[g][i][l] = real ? lanes[lane].memory_in[kOrder - 1 - i] : 0.0;
            }
            for (int k = 0; k < n; ++k) b.x[k][g][l] = real ? lanes[lane].x[k] : 0.0;
        }
    }
}

// One step of every synthesis vector: sample k in x becomes its output.
template <int S>
G729A_LANES_KERNEL void step_synthesis(synthesis_block<S>& b, int k) {
#pragma GCC unroll 4
    for (int g = 0; g < S; ++g) {
        lanes4 s = load4(b.x[k][g]);
        lanes4* z = b.z[g];
        const lanes4* c = b.c[g];
        s -= c[0] * z[0];
        s -= c[1] * z[1];
        s -= c[2] * z[2];
        s -= c[3] * z[3];
        s -= c[4] * z[4];
        s -= c[5] * z[5];
        s -= c[6] * z[6];
        s -= c[7] * z[7];
        s -= c[8] * z[8];
        s -= c[9] * z[9];
        store4(b.x[k][g], s);
        z[9] = z[8];
        z[8] = z[7];
        z[7] = z[6];
        z[6] = z[5];
        z[5] = z[4];
        z[4] = z[3];
        z[3] = z[2];
        z[2] = z[1];
        z[1] = z[0];
        z[0] = s;
    }
}

template <int S>
G729A_LANES_KERNEL void scatter_synthesis(const synthesis_block<S>& b, int n) {
    for (int lane = 0; lane < b.count; ++lane) {
        const int g = lane / 4, l = lane % 4;
        const synthesis_lane& out = b.lanes[lane];
        for (int k = 0; k < n; ++k) out.y[k] = b.x[k][g][l];
        if (out.memory_out == nullptr) continue;
        for (int j = 0; j < kOrder; ++j) {
            const double v = b.z[g][kOrder - 1 - j][l];
            out.memory_out[j] = std::fabs(v) < kMemoryFlush ? 0.0 : v;
        }
    }
}

template <int S>
G729A_LANES_KERNEL void synthesis_vectors(const synthesis_lane* lanes, int count, int n) {
    synthesis_block<S> b;
    gather_synthesis(b, lanes, count, n);
    for (int k = 0; k < n; ++k) step_synthesis(b, k);
    scatter_synthesis(b, n);
}

G729A_LANES_TARGET void synthesis_channels(const synthesis_lane* lanes, int count, int n) {
    if (n > kSubframe) n = kSubframe;
    if (count <= 4) {
        synthesis_vectors<1>(lanes, count, n);
    } else if (count <= 8) {
        synthesis_vectors<2>(lanes, count, n);
    } else if (count <= 12) {
        synthesis_vectors<3>(lanes, count, n);
    } else {
        synthesis_vectors<4>(lanes, count > kMaxChannelLanes ? kMaxChannelLanes : count, n);
    }
}

// Up to four gain/high-pass lanes in one vector.
struct output_block {
    lanes4 gain, g1, x1, x2, y1, y2;
    masks4 scale;
    double y[kSubframe][4];
};

G729A_LANES_KERNEL void gather_outputs(output_block& b, const gain_high_pass_lane* lanes, int count, int n) {
    for (int l = 0; l < 4; ++l) {
        const bool real = l < count;
        const gain_high_pass_lane* o = real ? &lanes[l] : nullptr;
        b.gain[l] = real ? *o->gain : 0.0;
        b.g1[l] = real && o->scale ? o->g1 : 0.0;
        b.scale[l] = real && o->scale ? -1 : 0;
        b.x1[l] = real ? o->high_pass->x1 : 0.0;
        b.x2[l] = real ? o->high_pass->x2 : 0.0;
        b.y1[l] = real ? o->high_pass->y1 : 0.0;
        b.y2[l] = real ? o->high_pass->y2 : 0.0;
        for (int k = 0; k < n; ++k) b.y[k][l] = real ? o->y[k] : 0.0;
    }
}

G729A_LANES_KERNEL void step_outputs(output_block& b, const gain_high_pass_constants& c, int k) {
    lanes4 v = load4(b.y[k]);
    const lanes4 next_gain = b.gain * c.keep + b.g1;
    b.gain = b.scale ? next_gain : b.gain;
    v = b.scale ? v * b.gain : v;
    const lanes4 y0 = c.a1 * b.y1 + c.a2 * b.y2 + c.b0 * v + c.b1 * b.x1 + c.b2 * b.x2;
    b.x2 = b.x1;
    b.x1 = v;
    b.y2 = b.y1;
    b.y1 = y0;
    store4(b.y[k], y0);
}

G729A_LANES_KERNEL void scatter_outputs(const output_block& b, const gain_high_pass_lane* lanes, int count, int n) {
    for (int l = 0; l < count; ++l) {
        const gain_high_pass_lane& o = lanes[l];
        for (int k = 0; k < n; ++k) o.y[k] = b.y[k][l];
        *o.gain = b.gain[l];
        *o.high_pass = pole_zero_memory{b.x1[l], b.x2[l], b.y1[l], b.y2[l]};
    }
}

template <bool with_synthesis>
G729A_LANES_KERNEL void synthesis_and_outputs(const synthesis_lane* lanes, int synthesis_count,
                                              const gain_high_pass_lane* outputs, int output_count,
                                              const gain_high_pass_constants& constants, int n) {
    synthesis_block<1> s;
    if (with_synthesis) gather_synthesis(s, lanes, synthesis_count, n);
    output_block o;
    gather_outputs(o, outputs, output_count, n);
    for (int k = 0; k < n; ++k) {
        if (with_synthesis) step_synthesis(s, k);
        step_outputs(o, constants, k);
    }
    if (with_synthesis) scatter_synthesis(s, n);
    scatter_outputs(o, outputs, output_count, n);
}

G729A_LANES_TARGET void synthesis_and_gain_high_pass(const synthesis_lane* lanes, int synthesis_count,
                                                     const gain_high_pass_lane* outputs, int output_count,
                                                     const gain_high_pass_constants& constants, int n) {
    if (n > kSubframe) n = kSubframe;
    if (synthesis_count > 4) synthesis_count = 4;
    if (output_count > 4) output_count = 4;
    if (synthesis_count > 0) {
        synthesis_and_outputs<true>(lanes, synthesis_count, outputs, output_count, constants, n);
    } else {
        synthesis_and_outputs<false>(lanes, 0, outputs, output_count, constants, n);
    }
}

G729A_LANES_TARGET void preprocess(const pole_zero_lane* lanes, int count, const pole_zero_constants& c, int n) {
    if (count > 4) count = 4;
    const lanes4 flush = lanes4{c.flush, c.flush, c.flush, c.flush}, zero = lanes4{0.0, 0.0, 0.0, 0.0};
    lanes4 x1 = zero, x2 = zero, y1 = zero, y2 = zero;
    for (int l = 0; l < count; ++l) {
        x1[l] = lanes[l].memory->x1;
        x2[l] = lanes[l].memory->x2;
        y1[l] = lanes[l].memory->y1;
        y2[l] = lanes[l].memory->y2;
    }
    // The stored outputs are flushed already; the test keeps that true of
    // memories set some other way.
    y1 = (y1 < flush) & (y1 > -flush) ? zero : y1;
    y2 = (y2 < flush) & (y2 > -flush) ? zero : y2;
    for (int k = 0; k < n; ++k) {
        lanes4 x0 = zero;
        for (int l = 0; l < count; ++l) x0[l] = lanes[l].samples[k];
        lanes4 y0 = (((y2 * c.a2 + y1 * c.a1) + x0 * c.b0) + x1 * c.b1) + x2 * c.b2;
        y0 = (y0 < flush) & (y0 > -flush) ? zero : y0;
        x2 = x1;
        x1 = x0;
        y2 = y1;
        y1 = y0;
        for (int l = 0; l < count; ++l) lanes[l].samples[k] = y0[l];
    }
    for (int l = 0; l < count; ++l) *lanes[l].memory = pole_zero_memory{x1[l], x2[l], y1[l], y2[l]};
}

#undef G729A_LANES_KERNEL

} // namespace G729A_LANES_NAMESPACE
} // namespace g729

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
