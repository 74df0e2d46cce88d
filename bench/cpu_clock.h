// The clock of the core the benchmark runs on, measured in the same run, so
// that per-frame times can be given in cycles on a machine whose frequency
// nobody states (virtual machines, turbo, power states).
#pragma once

#include <time.h>

#include <cstdint>

namespace g729_bench {

inline double thread_cpu_seconds() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + 1e-9 * double(t.tv_nsec);
}

// A chain of dependent integer additions takes one cycle per addition on
// every x86-64 and 64-bit ARM core in use; the empty asm keeps the compiler
// from folding them. The fastest of a few short runs is taken, as other
// work on the machine can only slow a run down.
inline double measured_clock_hz() {
    constexpr int64_t kIterations = 2000000;
    constexpr int kAddsPerIteration = 8;
    double best = 1e30;
    for (int run = 0; run < 7; ++run) {
        uint64_t x = 0;
        const double start = thread_cpu_seconds();
        for (int64_t i = 0; i < kIterations; ++i) {
            x += 1;
            asm volatile("" : "+r"(x));
            x += 1;
            asm volatile("" : "+r"(x));
            x += 1;
            asm volatile("" : "+r"(x));
            x += 1;
            asm volatile("" : "+r"(x));
            x += 1;
            asm volatile("" : "+r"(x));
            x += 1;
            asm volatile("" : "+r"(x));
            x += 1;
            asm volatile("" : "+r"(x));
            x += 1;
            asm volatile("" : "+r"(x));
        }
        const double elapsed = thread_cpu_seconds() - start;
        if (elapsed > 0.0 && elapsed < best) best = elapsed;
    }
    return double(kIterations * kAddsPerIteration) / best;
}

} // namespace g729_bench
