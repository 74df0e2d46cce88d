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


// The lanes' inputs, coefficients and memories are gathered into
// interleaved arrays first (every input and memory read before any output is
// written, as synthesis_lane promises), and the outputs scattered from them
// at the end. The outputs follow the memory in one history, oldest first, so
// that a step reads its older outputs back from memory; only the newest,
// which every step's first product waits for, stays in a register. Kept all
// in registers, the histories of several vectors would not fit and the
// compiler's spills would land on the chain.
template <int S>
struct synthesis_block {
    alignas(32) double c[S][kOrder][4];
    alignas(32) double history[kOrder + kSubframe][S][4];
    alignas(32) double x[kSubframe][S][4];
};

template <int S>
G729A_LANES_KERNEL void gather_synthesis(synthesis_block<S>& b, const synthesis_lane* lanes, int count, int n) {
    for (int g = 0; g < S; ++g) {
        for (int l = 0; l < 4; ++l) {
            const int lane = 4 * g + l;
            if (lane < count) {
                const synthesis_lane& in = lanes[lane];
                for (int i = 0; i < kOrder; ++i) {
                    b.c[g][i][l] = (*in.a)[size_t(i + 1)];
                    b.history[i][g][l] = in.memory_in[i];
                }
                for (int k = 0; k < n; ++k) b.x[k][g][l] = in.x[k];
            } else {
                for (int i = 0; i < kOrder; ++i) b.c[g][i][l] = b.history[i][g][l] = 0.0;
                for (int k = 0; k < n; ++k) b.x[k][g][l] = 0.0;
            }
        }
    }
}

// Every synthesis vector through n samples of b.x into the history.
template <int S>
G729A_LANES_KERNEL void step_synthesis(synthesis_block<S>& b, int n) {
    lanes4 newest[S];
#pragma GCC unroll 8
    for (int g = 0; g < S; ++g) newest[g] = load4(b.history[kOrder - 1][g]);
    for (int k = 0; k < n; ++k) {
        // The outputs of steps k - 2 back to k - 10 (or the memory), read
        // from memory: the empty asm hides where the pointer points, or the
        // compiler would carry them from step to step itself, as spills
        // and copies that cost more than the loads.
        const double(*older)[S][4] = b.history + k;
        asm("" : "+r"(older));
        // The vectors' chains advance together, one subtraction of each in
        // turn: written one chain after the other, the later chains' work
        // would wait behind the first's in the processor's queues.
        lanes4 s[S];
#pragma GCC unroll 8
        for (int g = 0; g < S; ++g) s[g] = load4(b.x[k][g]) - load4(b.c[g][0]) * newest[g];
#pragma GCC unroll 9
        for (int m = 1; m < kOrder; ++m) {
#pragma GCC unroll 8
            for (int g = 0; g < S; ++g) s[g] -= load4(b.c[g][m]) * load4(older[kOrder - 1 - m][g]);
        }
#pragma GCC unroll 8
        for (int g = 0; g < S; ++g) {
            store4(b.history[kOrder + k][g], s[g]);
            newest[g] = s[g];
        }
    }
}

template <int S>
G729A_LANES_KERNEL void scatter_synthesis(const synthesis_block<S>& b, const synthesis_lane* lanes, int count, int n) {
    for (int lane = 0; lane < count; ++lane) {
        const int g = lane / 4, l = lane % 4;
        const synthesis_lane& out = lanes[lane];
        for (int k = 0; k < n; ++k) out.y[k] = b.history[kOrder + k][g][l];
        if (out.memory_out == nullptr) continue;
        for (int j = 0; j < kOrder; ++j) {
            const double v = b.history[n + j][g][l];
            out.memory_out[j] = std::fabs(v) < kMemoryFlush ? 0.0 : v;
        }
    }
}

template <int S>
G729A_LANES_KERNEL void synthesis_vectors(const synthesis_lane* lanes, int count, int n) {
    synthesis_block<S> b;
    gather_synthesis(b, lanes, count, n);
    step_synthesis(b, n);
    scatter_synthesis(b, lanes, count, n);
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

// Up to four gain/high-pass lanes in one vector: what the lanes start from
// and, once stepped, end with. The samples are an array of their own: stores
// into it at a varying index would otherwise keep the compiler from holding
// the recursions' state in registers.
struct output_block {
    alignas(32) double gain[4], keep[4], g1[4], x1[4], x2[4], y1[4], y2[4];
    alignas(32) long long scale[4];
};
struct output_samples {
    alignas(32) double y[kSubframe][4];
};

G729A_LANES_KERNEL void gather_outputs(output_block& b, output_samples& samples, const gain_high_pass_lane* lanes,
                                       int count, double keep, int n) {
    for (int l = 0; l < 4; ++l) {
        const bool real = l < count;
        const gain_high_pass_lane* o = real ? &lanes[l] : nullptr;
        b.gain[l] = real ? *o->gain : 0.0;
        // A lane that does not scale keeps its gain: times 1 plus 0 leaves
        // it as it is (bar the sign of a zero, which the end restores).
        b.keep[l] = real && o->scale ? keep : 1.0;
        b.g1[l] = real && o->scale ? o->g1 : 0.0;
        b.scale[l] = real && o->scale ? -1 : 0;
        b.x1[l] = real ? o->high_pass->x1 : 0.0;
        b.x2[l] = real ? o->high_pass->x2 : 0.0;
        b.y1[l] = real ? o->high_pass->y1 : 0.0;
        b.y2[l] = real ? o->high_pass->y2 : 0.0;
        for (int k = 0; k < n; ++k) samples.y[k][l] = real ? o->y[k] : 0.0;
    }
}

G729A_LANES_KERNEL void scatter_outputs(const output_block& b, const output_samples& samples,
                                        const gain_high_pass_lane* lanes, int count, int n) {
    for (int l = 0; l < count; ++l) {
        const gain_high_pass_lane& o = lanes[l];
        for (int k = 0; k < n; ++k) o.y[k] = samples.y[k][l];
        *o.gain = b.gain[l];
        *o.high_pass = pole_zero_memory{b.x1[l], b.x2[l], b.y1[l], b.y2[l]};
    }
}

template <bool with_synthesis>
G729A_LANES_KERNEL void synthesis_and_outputs(const synthesis_lane* lanes, int synthesis_count,
                                              const gain_high_pass_lane* outputs, int output_count,
                                              const gain_high_pass_constants& constants, int n) {
    synthesis_block<1> s;
    // Without synthesis lanes only the coefficients and memories are set
    // (to zeros), which the loop then never uses.
    gather_synthesis(s, lanes, with_synthesis ? synthesis_count : 0, with_synthesis ? n : 0);
    output_block o;
    output_samples samples;
    gather_outputs(o, samples, outputs, output_count, constants.keep, n);
    const lanes4 keep = load4(o.keep), one = {1.0, 1.0, 1.0, 1.0};
    const lanes4 a1 = {constants.a1, constants.a1, constants.a1, constants.a1};
    const lanes4 a2 = {constants.a2, constants.a2, constants.a2, constants.a2};
    const lanes4 b0 = {constants.b0, constants.b0, constants.b0, constants.b0};
    const lanes4 b1 = {constants.b1, constants.b1, constants.b1, constants.b1};
    const lanes4 b2 = {constants.b2, constants.b2, constants.b2, constants.b2};
    lanes4 gain = load4(o.gain), x1 = load4(o.x1), x2 = load4(o.x2), y1 = load4(o.y1), y2 = load4(o.y2);
    const lanes4 g1 = load4(o.g1);
    masks4 scale;
    __builtin_memcpy(&scale, o.scale, sizeof scale);
    // The synthesis lanes step in the same loop, so that the chains of
    // both overlap; their history as in step_synthesis.
    lanes4 newest = load4(s.history[kOrder - 1][0]);
    for (int k = 0; k < n; ++k) {
        if (with_synthesis) {
            const double(&c)[kOrder][4] = s.c[0];
            const double(*older)[1][4] = s.history + k;
            asm("" : "+r"(older));
            lanes4 t = load4(s.x[k][0]);
            t -= load4(c[0]) * newest;
            t -= load4(c[1]) * load4(older[8][0]);
            t -= load4(c[2]) * load4(older[7][0]);
            t -= load4(c[3]) * load4(older[6][0]);
            t -= load4(c[4]) * load4(older[5][0]);
            t -= load4(c[5]) * load4(older[4][0]);
            t -= load4(c[6]) * load4(older[3][0]);
            t -= load4(c[7]) * load4(older[2][0]);
            t -= load4(c[8]) * load4(older[1][0]);
            t -= load4(c[9]) * load4(older[0][0]);
            store4(s.history[kOrder + k][0], t);
            newest = t;
        }
        // The gain's chain is its multiply and add alone; the choice of
        // factor stays off it.
        gain = gain * keep + g1;
        const lanes4 v = load4(samples.y[k]) * (scale ? gain : one);
        const lanes4 y0 = a1 * y1 + a2 * y2 + b0 * v + b1 * x1 + b2 * x2;
        x2 = x1;
        x1 = v;
        y2 = y1;
        y1 = y0;
        store4(samples.y[k], y0);
    }
    if (with_synthesis) {
        scatter_synthesis(s, lanes, synthesis_count, n);
    }
    // Into a record of its own: stored back into the one they were loaded
    // from, the states would live in it through the loop.
    output_block end;
    const lanes4 start_gain = load4(o.gain);
    store4(end.gain, scale ? gain : start_gain);
    store4(end.x1, x1);
    store4(end.x2, x2);
    store4(end.y1, y1);
    store4(end.y2, y2);
    scatter_outputs(end, samples, outputs, output_count, n);
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
