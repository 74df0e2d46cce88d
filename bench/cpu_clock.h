// The clock of the core the benchmark runs on, measured in the same run, so
// that per-frame times can be given in cycles on a machine whose frequency
// nobody states (virtual machines, turbo, power states).
//
// Two chains of dependent instructions are timed: register-to-register adds
// (one cycle each) and integer multiplies (three cycles each). Adds of an
// immediate are no good: newer cores fold them in the renamer and run
// several per cycle, which once made a 3.6 GHz core look like 19 GHz. A
// core that ever learns to fold the register chain as well will not do it
// for the multiplies, so the two are compared on every run and the cycles
// are given only when they agree.
#pragma once

#include <time.h>

#include <cmath>
#include <cstdint>
#include <cstdio>

namespace g729_bench {

inline double thread_cpu_seconds() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + 1e-9 * double(t.tv_nsec);
}

// The relative difference between the two probes beyond which no cycles
// are printed.
constexpr double kClockAgreement = 0.03;

// Latency of the multiply chain, in cycles: three on every x86-64 core of
// the last fifteen years and on the 64-bit ARM cores in servers.
constexpr int kMultiplyLatency = 3;

struct clock_probe {
    double add_hz = 0.0;      // from the chain of register adds
    double multiply_hz = 0.0; // from the chain of multiplies
    bool spoiled = false;     // a probe combined into this one disagreed
    // The two within kClockAgreement of each other.
    bool agree() const {
        if (spoiled || !(add_hz > 0.0) || !(multiply_hz > 0.0)) return false;
        return std::fabs(add_hz - multiply_hz) <= kClockAgreement * multiply_hz;
    }
    // The clock cycles are counted in: the mean of the two.
    double hz() const { return 0.5 * (add_hz + multiply_hz); }
};

namespace detail {

constexpr int64_t kIterations = 500000;
constexpr int kLinksPerIteration = 8;

// Eight dependent links per pass; the loop's own counter and branch run
// beside the chain on other ports, so a pass takes eight link latencies.
#define G729A_EIGHT_TIMES(link) link "\n\t" link "\n\t" link "\n\t" link "\n\t" link "\n\t" link "\n\t" link "\n\t" link
#if defined(__x86_64__)
#define G729A_ADD_LINK "add %1, %0"
#define G729A_MULTIPLY_LINK "imul %1, %0"
#elif defined(__aarch64__)
#define G729A_ADD_LINK "add %0, %0, %1"
#define G729A_MULTIPLY_LINK "mul %0, %0, %1"
#endif

enum class link { add, multiply };

template <link kind>
uint64_t chain(uint64_t x, uint64_t y) {
    for (int64_t i = 0; i < kIterations; ++i) {
#if defined(G729A_ADD_LINK)
        if (kind == link::add) {
            asm volatile(G729A_EIGHT_TIMES(G729A_ADD_LINK) : "+r"(x) : "r"(y));
        } else {
            asm volatile(G729A_EIGHT_TIMES(G729A_MULTIPLY_LINK) : "+r"(x) : "r"(y));
        }
#else
        for (int k = 0; k < kLinksPerIteration; ++k) {
            x = kind == link::add ? x + y : x * y;
            asm volatile("" : "+r"(x));
        }
#endif
    }
    return x;
}

#undef G729A_EIGHT_TIMES
#undef G729A_ADD_LINK
#undef G729A_MULTIPLY_LINK

// Seconds of one run of chain, kept from being optimised away.
template <class Chain>
double run_seconds(Chain chain, uint64_t& sink) {
    const double start = thread_cpu_seconds();
    sink += chain(sink, 3);
    return thread_cpu_seconds() - start;
}

} // namespace detail

// Runs of the two chains alternate, so that both see the same clock, and
// the fastest run of each counts: other work on the machine (or the
// hypervisor taking the core away) can only slow a run down.
inline clock_probe measure_clock() {
    double add_best = 1e30, multiply_best = 1e30;
    uint64_t sink = 1;
    for (int run = 0; run < 15; ++run) {
        const double add = detail::run_seconds(detail::chain<detail::link::add>, sink);
        const double multiply = detail::run_seconds(detail::chain<detail::link::multiply>, sink);
        if (add > 0.0 && add < add_best) add_best = add;
        if (multiply > 0.0 && multiply < multiply_best) multiply_best = multiply;
    }
    asm volatile("" : : "r"(sink));
    const double links = double(detail::kIterations * detail::kLinksPerIteration);
    clock_probe probe;
    probe.add_hz = links / add_best;
    probe.multiply_hz = kMultiplyLatency * links / multiply_best;
    return probe;
}

// Both probes of a run taken together: the clock for the cycles and
// whether the probes agreed every time.
inline clock_probe combine(const clock_probe& a, const clock_probe& b) {
    clock_probe c;
    c.add_hz = 0.5 * (a.add_hz + b.add_hz);
    c.multiply_hz = 0.5 * (a.multiply_hz + b.multiply_hz);
    c.spoiled = !a.agree() || !b.agree();
    return c;
}

// The line that says what the clock was, and, when the probes disagree,
// that no cycles follow and why.
inline void print_clock(const clock_probe& before, const clock_probe& after) {
    std::printf("\nclock measured in this run: register adds %.3f / %.3f GHz, multiplies %.3f / %.3f GHz "
                "(before / after)\n",
                before.add_hz / 1e9, after.add_hz / 1e9, before.multiply_hz / 1e9, after.multiply_hz / 1e9);
    if (!combine(before, after).agree())
        std::printf("the two clock probes disagree by more than %.0f%%: no cycles are given in this run\n",
                    100.0 * kClockAgreement);
}

} // namespace g729_bench
