// Every optimised kernel variant this processor can run must give the bits
// of the portable kernel, on random input of every shape the codec uses and
// of shapes it does not, and on real speech. (The reference vectors run once
// with the variants chosen at start-up and once more with
// G729A_INSTRUCTION_SET=portable; see tests/CMakeLists.txt.)
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "codec/dsp/cpu.h"
#include "codec/dsp/filters.h"
#include "codec/dsp/interpolation.h"
#include "codec/dsp/x86/avx2.h"
#include "codec/encoder/correlation.h"
#include "codec/encoder/fixed_codebook.h"
#include "codec/encoder/pitch.h"
#include "codec/encoder/x86/avx2.h"

namespace g729 {
namespace {

// Bit patterns, so that -0 against +0 or one NaN against another counts.
bool same_bits(double x, double y) { return std::memcmp(&x, &y, sizeof x) == 0; }

std::vector<double> speech_samples() {
    std::ifstream in(std::string(G729A_TEST_DATA) + "/vectors/speech_male_librivox.raw", std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<double> s(bytes.size() / 2);
    for (size_t i = 0; i < s.size(); ++i) {
        s[i] = double(int16_t(uint16_t(uint8_t(bytes[2 * i]) | uint8_t(bytes[2 * i + 1]) << 8)));
    }
    return s;
}

using correlation_kernel = void (*)(const double*, const double*, int, int, double*);
using decimated_kernel = void (*)(const double*, int, int, int, int, double*);
using interpolation_kernel = void (*)(double*, int, int, int);
using pulse_matrix_kernel = void (*)(const double*, pulse_correlations&);
using side_by_side_kernel = void (*)(const synthesis_lane&, const double*, pulse_correlations&);

struct variant {
    const char* name;
    correlation_kernel correlations;
    decimated_kernel decimated;
    interpolation_kernel interpolation;
    pulse_matrix_kernel pulse_matrix;
    side_by_side_kernel synthesis_with_pulse_matrix;
};

std::vector<variant> variants_of_this_processor() {
    std::vector<variant> v;
#if defined(__x86_64__)
    if (__builtin_cpu_supports("avx2")) v.push_back({"avx2", &avx2::shifted_correlations, &avx2::decimated_correlations, &avx2::interpolate_excitation,
                      &avx2::pulse_correlation_matrix, &avx2::synthesis_with_pulse_correlations});
#endif
    return v;
}

void expect_correlations_match(const variant& v, const double* a, const double* b, int n, int count) {
    std::vector<double> want(size_t(count) + 1, 777.0), got(size_t(count) + 1, 777.0);
    portable::shifted_correlations(a, b, n, count, want.data());
    v.correlations(a, b, n, count, got.data());
    for (int k = 0; k <= count; ++k) {
        ASSERT_TRUE(same_bits(got[size_t(k)], want[size_t(k)]))
            << v.name << " n " << n << " count " << count << " lag " << k << ": " << got[size_t(k)] << " vs "
            << want[size_t(k)];
    }
}

TEST(KernelVariants, ShiftedCorrelationsMatchPortableOnRandomInput) {
    const std::vector<variant> variants = variants_of_this_processor();
    if (variants.empty()) GTEST_SKIP() << "no kernel variants for this processor";
    std::mt19937_64 rng(20261210);
    std::uniform_real_distribution<double> value(-3e4, 3e4);
    std::vector<double> a(300), b(300);
    for (const variant& v : variants) {
        for (int n = 1; n <= 64; ++n) {
            for (int count = 1; count <= n; ++count) {
                for (int i = 0; i < n; ++i) {
                    a[size_t(i)] = value(rng);
                    b[size_t(i)] = value(rng);
                }
                expect_correlations_match(v, a.data(), b.data(), n, count);
            }
        }
        // The autocorrelation's shape, and a sum that turns infinite: a lag
        // that has run out of products must not pick up the infinity.
        for (int i = 0; i < 240; ++i) a[size_t(i)] = b[size_t(i)] = value(rng);
        expect_correlations_match(v, a.data(), a.data(), 240, 11);
        a[239] = std::numeric_limits<double>::infinity();
        a[0] = -0.0;
        expect_correlations_match(v, a.data(), b.data(), 240, 40);
        expect_correlations_match(v, a.data(), b.data(), 40, 40);
    }
}

TEST(KernelVariants, ShiftedCorrelationsMatchPortableOnSpeech) {
    const std::vector<variant> variants = variants_of_this_processor();
    if (variants.empty()) GTEST_SKIP() << "no kernel variants for this processor";
    const std::vector<double> s = speech_samples();
    ASSERT_GT(s.size(), 4000u);
    for (const variant& v : variants) {
        for (size_t start = 0; start + 280 < s.size(); start += 80) {
            expect_correlations_match(v, &s[start], &s[start], 240, 11);
            expect_correlations_match(v, &s[start], &s[start + 200], 40, 40);
        }
    }
}

void expect_decimated_match(const variant& v, const double* w, int n, int first, int step, int count) {
    double want[48], got[48];
    for (int j = 0; j < 48; ++j) want[j] = got[j] = 777.0;
    portable::decimated_correlations(w, n, first, step, count, want);
    v.decimated(w, n, first, step, count, got);
    for (int j = 0; j < 48; ++j) {
        ASSERT_TRUE(same_bits(got[j], want[j]))
            << v.name << " first " << first << " step " << step << " count " << count << " lag index " << j;
    }
}

// The open-loop pitch search's three ranges (and every other block count)
// on random weighted speech and on the real weighted-speech-like signal.
TEST(KernelVariants, DecimatedCorrelationsMatchPortable) {
    const std::vector<variant> variants = variants_of_this_processor();
    if (variants.empty()) GTEST_SKIP() << "no kernel variants for this processor";
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> value(-2e4, 2e4);
    std::vector<double> buffer(kPitchMax + kFrame);
    const double* w = buffer.data() + kPitchMax;
    const std::vector<double> s = speech_samples();
    for (const variant& v : variants) {
        for (int trial = 0; trial < 50; ++trial) {
            for (double& x : buffer) x = value(rng);
            expect_decimated_match(v, w, kFrame, 20, 1, 20);
            expect_decimated_match(v, w, kFrame, 40, 1, 40);
            expect_decimated_match(v, w, kFrame, 80, 2, 32);
            for (int count = 4; count <= 32; count += 4) expect_decimated_match(v, w, kFrame, 30, 1, count);
            for (int count = 4; count <= 28; count += 4) expect_decimated_match(v, w, kFrame, 80, 2, count);
        }
        for (size_t start = 0; start + buffer.size() < s.size(); start += 400) {
            const double* x = &s[start] + kPitchMax;
            expect_decimated_match(v, x, kFrame, 20, 1, 20);
            expect_decimated_match(v, x, kFrame, 40, 1, 40);
            expect_decimated_match(v, x, kFrame, 80, 2, 32);
        }
    }
}

// Every lag and fraction the codec uses, in place on an excitation buffer
// (short lags read the outputs of the same call), on random values and on
// speech.
TEST(KernelVariants, InterpolationMatchesPortable) {
    const std::vector<variant> variants = variants_of_this_processor();
    if (variants.empty()) GTEST_SKIP() << "no kernel variants for this processor";
    std::mt19937_64 rng(5);
    std::uniform_real_distribution<double> value(-3e4, 3e4);
    const std::vector<double> s = speech_samples();
    constexpr int kBuffer = kExcitationHistory + kSubframe;
    for (const variant& v : variants) {
        for (int trial = 0; trial < 4; ++trial) {
            double start[kBuffer];
            for (int i = 0; i < kBuffer; ++i) start[i] = trial < 2 ? value(rng) : s[size_t(1000 * trial + i)];
            for (int t0 = kPitchMin - 1; t0 <= kPitchMax; ++t0) {
                for (int frac = -1; frac <= 1; ++frac) {
                    double want[kBuffer], got[kBuffer];
                    std::memcpy(want, start, sizeof want);
                    std::memcpy(got, start, sizeof got);
                    portable::interpolate_excitation(want + kExcitationHistory, t0, frac, kSubframe);
                    v.interpolation(got + kExcitationHistory, t0, frac, kSubframe);
                    for (int i = 0; i < kBuffer; ++i) {
                        ASSERT_TRUE(same_bits(got[i], want[i])) << v.name << " t0 " << t0 << " frac " << frac << " i " << i;
                    }
                }
            }
        }
    }
}

// The whole record, entries the search never reads included: a variant
// writes exactly the entries the portable code writes, alone and side by
// side with a recursion, whose outputs and memory must be those of the
// recursion alone. Impulse responses of speech's shape (decaying, sharpened
// or not) and sums that overflow.
TEST(KernelVariants, PulseCorrelationMatrixMatchesPortable) {
    const std::vector<variant> variants = variants_of_this_processor();
    if (variants.empty()) GTEST_SKIP() << "no kernel variants for this processor";
    std::mt19937_64 rng(11);
    std::normal_distribution<double> value(0.0, 1.0);
    std::bernoulli_distribution coin(0.5);
    for (const variant& v : variants) {
        for (int trial = 0; trial < 300; ++trial) {
            double h[kSubframe];
            double gain = trial % 3 == 0 ? 1.0 : 1e3;
            for (int n = 0; n < kSubframe; ++n, gain *= 0.85) h[n] = value(rng) * gain;
            if (trial == 2) h[39] = std::numeric_limits<double>::infinity();
            if (trial == 3) h[0] = 1e300;

            // A stable filter, an input and a memory for the recursion.
            lp_coefficients a{};
            double x[kSubframe], memory_in[kOrder];
            for (int i = 1; i <= kOrder; ++i) a[i] = value(rng) * 0.3 / i;
            for (int n = 0; n < kSubframe; ++n) x[n] = value(rng) * 1e3;
            for (int j = 0; j < kOrder; ++j) memory_in[j] = coin(rng) ? value(rng) : 1e-6;
            double want_y[kSubframe], got_y[kSubframe], want_memory[kOrder], got_memory[kOrder];
            const synthesis_lane want_lane = {&a, x, want_y, memory_in, want_memory};
            const synthesis_lane got_lane = {&a, x, got_y, memory_in, got_memory};
            synthesis_filter_lanes(&want_lane, 1, kSubframe);

            pulse_correlations want, alone, side_by_side;
            std::memset(&want, 0x5a, sizeof want);
            std::memset(&alone, 0x5a, sizeof alone);
            std::memset(&side_by_side, 0x5a, sizeof side_by_side);
            portable::pulse_correlation_matrix(h, want);
            v.pulse_matrix(h, alone);
            v.synthesis_with_pulse_matrix(got_lane, h, side_by_side);
            for (const pulse_correlations* got : {&alone, &side_by_side}) {
                const char* how = got == &alone ? "alone" : "side by side";
                for (int p = 0; p < kSubframe; ++p) {
                    ASSERT_TRUE(same_bits(got->half_diagonal[p], want.half_diagonal[p]))
                        << v.name << " " << how << " trial " << trial << " p " << p;
                    for (int q = 0; q < kSubframe; ++q) {
                        ASSERT_TRUE(same_bits(got->phi[p][q], want.phi[p][q]))
                            << v.name << " " << how << " trial " << trial << " p " << p << " q " << q;
                    }
                }
            }
            for (int n = 0; n < kSubframe; ++n) ASSERT_TRUE(same_bits(got_y[n], want_y[n])) << v.name << " n " << n;
            for (int j = 0; j < kOrder; ++j) ASSERT_TRUE(same_bits(got_memory[j], want_memory[j])) << v.name;
        }
    }
}

// The search stages on the shapes that make choices hard: random targets,
// targets of a few repeated values (ties everywhere), an all-zero target, a
// target with a NaN, and real impulse-response-like matrices. Every output
// must have the portable bits: the positions, and the sums and energies
// that the next stage and the final choice compare.
TEST(KernelVariants, PulseSearchStagesMatchPortable) {
#if defined(__x86_64__)
    if (!__builtin_cpu_supports("avx2")) GTEST_SKIP() << "no kernel variants for this processor";
    std::mt19937_64 rng(12);
    std::normal_distribution<double> value(0.0, 1.0);
    std::uniform_int_distribution<int> position(0, kSubframe - 1);
    for (int trial = 0; trial < 3000; ++trial) {
        const int shape = trial % 5;
        double h[kSubframe], sign[kSubframe], d[kSubframe];
        double gain = 1.0;
        for (int n = 0; n < kSubframe; ++n, gain *= 0.8) {
            h[n] = shape == 3 ? (n == 0 ? 1.0 : 0.0) : value(rng) * gain;
            sign[n] = value(rng) < 0.0 ? -1.0 : 1.0;
            const double x = std::fabs(value(rng)) * 1e3;
            d[n] = shape == 1 ? std::floor(x / 700.0) : shape == 2 ? 0.0 : x;
        }
        if (shape == 4) d[position(rng)] = std::numeric_limits<double>::quiet_NaN();
        pulse_correlations c;
        portable::pulse_correlation_matrix(h, c);
        SCOPED_TRACE("trial " + std::to_string(trial));

        const int pairs[4][2] = {{2, 3}, {2, 4}, {3, 0}, {4, 0}};
        for (const auto& tracks : pairs) {
            int want_pre, want_all, got_pre, got_all;
            double want_r, want_e, got_r, got_e;
            portable::search_pair(d, sign, c, tracks[0], tracks[1], want_pre, want_all, want_r, want_e);
            avx2::search_pair(d, sign, c, tracks[0], tracks[1], got_pre, got_all, got_r, got_e);
            ASSERT_EQ(got_pre, want_pre);
            ASSERT_EQ(got_all, want_all);
            ASSERT_TRUE(same_bits(got_r, want_r) && same_bits(got_e, want_e));

            // The last stage after this pair, as the search runs it.
            const bool pair_on_two = tracks[0] == 2;
            const int outer = pair_on_two ? 0 : 1, inner = pair_on_two ? 1 : 2;
            int want_outer, want_inner, got_outer, got_inner;
            const held_score want = portable::search_remaining(d, sign, c, outer, inner, want_pre, want_all, want_r,
                                                               want_e, want_outer, want_inner);
            const held_score got = avx2::search_remaining(d, sign, c, outer, inner, want_pre, want_all, want_r, want_e,
                                                          got_outer, got_inner);
            ASSERT_EQ(got_outer, want_outer);
            ASSERT_EQ(got_inner, want_inner);
            ASSERT_TRUE(same_bits(got.numerator, want.numerator) && same_bits(got.energy, want.energy));
        }
    }
#else
    GTEST_SKIP() << "no kernel variants for this processor";
#endif
}

TEST(KernelVariants, TheChoiceIsOneThisProcessorRuns) {
    const instruction_set chosen = active_instruction_set();
#if defined(__x86_64__)
    if (chosen == instruction_set::avx2) {
        EXPECT_TRUE(__builtin_cpu_supports("avx2"));
    }
#else
    EXPECT_EQ(chosen, instruction_set::portable);
#endif
}

} // namespace
} // namespace g729
