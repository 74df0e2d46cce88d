// Order-10 LP filters and vector utilities shared by encoder and decoder.
#pragma once

#include <cmath>

#include "codec/dsp/types.h"

namespace g729 {

// y = x filtered by 1/A(z); n outputs. memory holds the 10 past outputs,
// oldest first; it is read before anything is written, so it may overlap x
// or y, and x and y may be the same array. With update the memory receives the
// last 10 outputs, with magnitudes below 2e-5 stored as 0.
void synthesis_filter(const lp_coefficients& a, const double* x, double* y, int n, double* memory, bool update);

// Filter states below this magnitude are stored as zero, so that a decaying
// filter settles to exact silence instead of running on in denormals.
constexpr double kMemoryFlush = 2e-5;

// The recursion of 1/A(z), one output per step, with the coefficients and the
// last ten outputs in locals (newest in y1): read back from memory, each
// sample would wait for the store of the one before. The subtractions start
// with the newest output. The memory is read in before anything is written,
// since callers pass part of the output array itself as memory (impulse
// responses).
struct synthesis_recursion {
    double a1, a2, a3, a4, a5, a6, a7, a8, a9, a10;
    double y1, y2, y3, y4, y5, y6, y7, y8, y9, y10;

    synthesis_recursion(const lp_coefficients& a, const double* memory)
        : a1(a[1]), a2(a[2]), a3(a[3]), a4(a[4]), a5(a[5]), a6(a[6]), a7(a[7]), a8(a[8]), a9(a[9]), a10(a[10]),
          y1(memory[9]), y2(memory[8]), y3(memory[7]), y4(memory[6]), y5(memory[5]), y6(memory[4]), y7(memory[3]),
          y8(memory[2]), y9(memory[1]), y10(memory[0]) {}

    double step(double x) {
        double s = x;
        s -= a1 * y1;
        s -= a2 * y2;
        s -= a3 * y3;
        s -= a4 * y4;
        s -= a5 * y5;
        s -= a6 * y6;
        s -= a7 * y7;
        s -= a8 * y8;
        s -= a9 * y9;
        s -= a10 * y10;
        y10 = y9;
        y9 = y8;
        y8 = y7;
        y7 = y6;
        y6 = y5;
        y5 = y4;
        y4 = y3;
        y3 = y2;
        y2 = y1;
        y1 = s;
        return s;
    }

    // The last ten outputs (with the old memory still among them after fewer
    // than ten steps) into memory, oldest first, small values flushed.
    void store(double* memory) const {
        const double last[kOrder] = {y10, y9, y8, y7, y6, y5, y4, y3, y2, y1};
        for (int j = 0; j < kOrder; ++j) memory[j] = std::fabs(last[j]) < kMemoryFlush ? 0.0 : last[j];
    }
};

// Two signals through the same 1/A(z) at once, each with its own memory,
// which is read only (as synthesis_filter without update); n <= 40. Every
// output is bit for bit what two separate calls give: the two chains of
// subtractions run side by side, each in its own order.
void synthesis_filter_pair(const lp_coefficients& a, int n, const double* x1, double* y1, const double* memory1,
                           const double* x2, double* y2, const double* memory2);
// The same with a filter of its own for each signal: x1 through 1/A1(z),
// x2 through 1/A2(z), again bit for bit two separate calls.
void synthesis_filter_pair(const lp_coefficients& a1, const lp_coefficients& a2, int n, const double* x1, double* y1,
                           const double* memory1, const double* x2, double* y2, const double* memory2);

// One signal of synthesis_filter_lanes: x through 1/a(z) into y, starting
// from the 10 past outputs in memory_in (oldest first). memory_in is read
// before anything is written, so it may overlap x or y, and x and y may be
// the same array. When memory_out is not null it receives the last 10
// outputs as synthesis_filter with update stores them.
struct synthesis_lane {
    const lp_coefficients* a;
    const double* x;
    double* y;
    const double* memory_in;
    double* memory_out;
};
// Up to four independent signals through their filters at once, n <= 40
// samples each; every output and memory is bit for bit what separate
// synthesis_filter calls give. The recursions are bound by the latency of
// their ordered subtractions, so signals in the other lanes of the vector
// registers come almost for free. The lanes' arrays must not overlap one
// another.
constexpr int kMaxSynthesisLanes = 4;
void synthesis_filter_lanes(const synthesis_lane* lanes, int count, int n);

// y = x filtered by A(z). x must have 10 samples of history in front of it;
// x and y must be distinct.
void residual_filter(const lp_coefficients& a, const double* x, double* y, int n);

// ap[i] = a[i] * gamma^i, the powers built by repeated multiplication.
void bandwidth_expand(const double* a, int m, double* ap, double gamma);
void bandwidth_expand(const lp_coefficients& a, lp_coefficients& ap, double gamma);

void set_zero(double* v, int n);
// Copies upward from index 0, so dst may overlap src when it lies before it.
void copy_vector(const double* src, double* dst, int n);

} // namespace g729
