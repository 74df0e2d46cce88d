#include "codec/encoder/preprocess.h"

#include "codec/dsp/filters.h"

namespace g729 {
namespace {

// The pre-processing high-pass filter. The numerator is twice the classic
// one, so the pass band keeps the input level rather than halving it.
constexpr double kPreprocessB0 = 0.92727435;
constexpr double kPreprocessB1 = -1.8544941;
constexpr double kPreprocessB2 = 0.92727435;
constexpr double kPreprocessA1 = 1.9059465;
constexpr double kPreprocessA2 = -0.9114024;

// Its outputs flush to 0 below kMemoryFlush, as every filter state of the
// codec does, so that a decaying tail never lingers as ever smaller values.
const pole_zero_constants preprocess_constants = {kPreprocessA1, kPreprocessA2, kPreprocessB0,
                                                  kPreprocessB1, kPreprocessB2, kMemoryFlush};

double flushed(double v) { return (v < kMemoryFlush && v > -kMemoryFlush) ? 0.0 : v; }

// An empty instruction on v that the compiler cannot move: the branch
// around it stays a branch instead of becoming a select.
inline void keep_as_branch(double& v) {
#if defined(__x86_64__)
    asm volatile("" : "+x"(v));
#elif defined(__aarch64__)
    asm volatile("" : "+w"(v));
#else
    asm volatile("" : "+m"(v));
#endif
}

} // namespace

void preprocess_reset(pole_zero_memory& memory) { memory = pole_zero_memory{0.0, 0.0, 0.0, 0.0}; }

void preprocess_filter(pole_zero_memory& memory, double* samples, int n) {
    // The memory lives in registers for the whole block: written back through
    // the reference on every sample, the next output would wait for the store
    // to be read again on the filter's critical path. The stored outputs are
    // already flushed, so only the new output needs the test.
    double x1 = memory.x1, x2 = memory.x2, y1 = flushed(memory.y1), y2 = flushed(memory.y2);
    for (int i = 0; i < n; ++i) {
        const double x0 = samples[i];
        double y0 = (((y2 * kPreprocessA2 + y1 * kPreprocessA1) + x0 * kPreprocessB0) + x1 * kPreprocessB1) +
                    x2 * kPreprocessB2;
        // A branch, not a select: on speech the flush almost never happens,
        // and a predicted branch keeps the comparison off the recursion's
        // chain of dependent operations, which a select would lengthen.
        if (__builtin_expect(y0 < kMemoryFlush && y0 > -kMemoryFlush, 0)) {
            y0 = 0.0;
            keep_as_branch(y0);
        }
        x2 = x1;
        x1 = x0;
        y2 = y1;
        y1 = y0;
        samples[i] = y0;
    }
    memory = pole_zero_memory{x1, x2, y1, y2};
}

void preprocess_encoders(const pole_zero_lane* lanes, int count, int n) {
    preprocess_channels(lanes, count, preprocess_constants, n);
}

} // namespace g729
