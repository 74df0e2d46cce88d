#include "codec/encoder/lsp_quantizer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "codec/dsp/lsp.h"
#include "codec/dsp/lsp_codebook.h"
#include "codec/dsp/tables.h"

namespace g729 {
namespace {

TEST(LspQuantizer, InitialVectorAfterResetQuantizesToTheKnownCode) {
    lsf_memory memory;
    reset_lsf_memory(memory);
    lsp_vector quantized;
    int first = -1, second = -1;
    quantize_lsp(memory, initial_lsp_vector, quantized, first, second);
    EXPECT_EQ(first, 120); // mode 0, L1 120
    EXPECT_EQ(second, 330); // L2 10, L3 10
    const double expected_lsf[kOrder] = {0.294738, 0.581743, 0.839170, 1.161127, 1.429883,
                                         1.719935, 2.003450, 2.256271, 2.545031, 2.867234};
    for (int i = 0; i < kOrder; ++i) EXPECT_NEAR(std::acos(quantized[i]), expected_lsf[i], 1e-6) << "LSF " << i;
}

// LSP vectors of a moving spectrum: the flat spectrum with its LSFs squeezed
// towards a formant that wanders from frame to frame.
lsp_vector moving_spectrum(int frame) {
    lsp_vector lsp;
    const double centre = 0.6 + 0.25 * std::sin(0.7 * frame);
    const double pull = 0.35 * std::fabs(std::sin(0.45 * frame + 1.0));
    for (int i = 0; i < kOrder; ++i) {
        const double w = (i + 1) * 3.141592653589793 / 11.0;
        const double towards = w + pull * (centre * 3.14 - w) * std::exp(-std::fabs(w - centre * 3.14));
        lsp[i] = std::cos(towards);
    }
    return lsp;
}

// Whatever the quantizer chooses, decoding its indices on a second memory
// gives the same LSPs and leaves both memories equal, frame after frame.
TEST(LspQuantizer, DecoderRebuildsTheEncodersVectorAndMemory) {
    lsf_memory encoder_memory, decoder_memory;
    reset_lsf_memory(encoder_memory);
    reset_lsf_memory(decoder_memory);
    bool saw_mode[2] = {false, false};
    for (int frame = 0; frame < 60; ++frame) {
        lsp_vector quantized, decoded;
        int first, second;
        quantize_lsp(encoder_memory, moving_spectrum(frame), quantized, first, second);
        ASSERT_GE(first, 0);
        ASSERT_LT(first, 256);
        ASSERT_GE(second, 0);
        ASSERT_LT(second, 1024);
        saw_mode[first >> 7] = true;
        decode_lsp(decoder_memory, first, second, decoded);
        for (int i = 0; i < kOrder; ++i) ASSERT_EQ(quantized[i], decoded[i]) << "frame " << frame << " LSP " << i;
        ASSERT_EQ(encoder_memory, decoder_memory) << "frame " << frame;
    }
    EXPECT_TRUE(saw_mode[0] && saw_mode[1]) << "the spectra should exercise both predictor modes";
}

// The quantized vector follows the input: a spectrum held for a few frames
// is quantized closely once the predictor has caught up.
TEST(LspQuantizer, HeldSpectrumIsQuantizedClosely) {
    lsf_memory memory;
    reset_lsf_memory(memory);
    const lsp_vector target = moving_spectrum(5);
    lsp_vector quantized;
    int first, second;
    for (int frame = 0; frame < 6; ++frame) quantize_lsp(memory, target, quantized, first, second);
    for (int i = 0; i < kOrder; ++i) EXPECT_NEAR(std::acos(quantized[i]), std::acos(target[i]), 0.05) << "LSF " << i;
}

// The searches read the codebooks component by component; those copies
// must be the codebooks themselves, value for value.
TEST(LspCodebooks, ByComponentCopiesAreTheRowCodebooks) {
    for (int r = 0; r < kLsfCodebookL1Size; ++r) {
        for (int i = 0; i < kOrder; ++i) ASSERT_EQ(lsf_codebook_l1_by_component[i][r], lsf_codebook_l1[r][i]) << r;
    }
    for (int r = 0; r < kLsfCodebookL2L3Size; ++r) {
        for (int i = 0; i < kOrder; ++i) {
            ASSERT_EQ(lsf_codebook_l2l3_by_component[i][r], lsf_codebook_l2l3[r][i]) << r;
        }
    }
}

// Rows measured side by side give each row's plain sum to the last bit, on
// the portable code and on whatever variant this processor runs: a
// difference in the last bit could change which row wins.
TEST(StageDistances, EveryFirstStageRowIsThePlainSum) {
    std::mt19937_64 rng(11);
    std::uniform_real_distribution<double> value(-0.5, 3.5);
    for (int trial = 0; trial < 200; ++trial) {
        lsf_vector target;
        for (double& t : target) t = value(rng);
        double fast[kLsfCodebookL1Size], portable_fast[kLsfCodebookL1Size];
        first_stage_distances(target, fast);
        portable::first_stage_distances(target, portable_fast);
        for (int r = 0; r < kLsfCodebookL1Size; ++r) {
            double want = 0.0;
            for (int i = 0; i < kOrder; ++i) {
                const double e = target[i] - lsf_codebook_l1[r][i];
                want += e * e;
            }
            ASSERT_EQ(fast[r], want) << "row " << r;
            ASSERT_EQ(portable_fast[r], want) << "row " << r;
        }
    }
}

TEST(StageDistances, EverySecondStageHalfIsThePlainWeightedSum) {
    std::mt19937_64 rng(12);
    std::uniform_real_distribution<double> value(-0.5, 3.5), weight_value(1.0, 12.0);
    for (int trial = 0; trial < 200; ++trial) {
        lsf_vector target, first_stage, weight;
        for (double& t : target) t = value(rng);
        for (double& f : first_stage) f = value(rng);
        for (double& w : weight) w = weight_value(rng);
        double lower[kLsfCodebookL2L3Size], upper[kLsfCodebookL2L3Size];
        double portable_lower[kLsfCodebookL2L3Size], portable_upper[kLsfCodebookL2L3Size];
        second_stage_distances(target, first_stage, weight, lower, upper);
        portable::second_stage_distances(target, first_stage, weight, portable_lower, portable_upper);
        for (int r = 0; r < kLsfCodebookL2L3Size; ++r) {
            double want[2] = {0.0, 0.0};
            for (int i = 0; i < kOrder; ++i) {
                const double e = (target[i] - first_stage[i]) - lsf_codebook_l2l3[r][i];
                want[i < kLsfLowerSplit ? 0 : 1] += weight[i] * (e * e);
            }
            ASSERT_EQ(lower[r], want[0]) << "row " << r;
            ASSERT_EQ(upper[r], want[1]) << "row " << r;
            ASSERT_EQ(portable_lower[r], want[0]) << "row " << r;
            ASSERT_EQ(portable_upper[r], want[1]) << "row " << r;
        }
    }
}

} // namespace
} // namespace g729
