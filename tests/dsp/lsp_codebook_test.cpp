#include "codec/dsp/lsp_codebook.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "codec/dsp/tables.h"

namespace g729 {
namespace {

TEST(DecodeLsp, IndicesZeroAfterResetComposeTheKnownVector) {
    lsf_memory memory;
    reset_lsf_memory(memory);
    lsp_vector q;
    decode_lsp(memory, 0, 0, q);
    const double want[kOrder] = {0.248138, 0.466532, 0.734253, 1.165531, 1.425518,
                                 1.729042, 2.011932, 2.326469, 2.577820, 2.817813};
    for (int i = 0; i < kOrder; ++i) EXPECT_NEAR(std::acos(q[i]), want[i], 5e-7) << i;

    // The memory received the codebook vector L1[0] + L2[0] | L3[0], which
    // needed no rearranging, not the composed LSFs.
    for (int i = 0; i < kOrder; ++i) EXPECT_EQ(memory[0][i], lsf_codebook_l1[0][i] + lsf_codebook_l2l3[0][i]) << i;
    for (int k = 1; k < kPredictorOrder; ++k) EXPECT_EQ(memory[k], initial_lsf_vector) << k;
}

TEST(DecodeLsp, SplitsTheIndicesIntoModeAndThreeCodebooks) {
    struct Case {
        int first, second;
        int mode, l1, l2, l3;
    };
    const Case cases[] = {
        {128, 0, 1, 0, 0, 0},
        {127, 1023, 0, 127, 31, 31},
        {200, 330, 1, 72, 10, 10},
    };
    for (const Case& c : cases) {
        lsf_memory decoded, rebuilt;
        reset_lsf_memory(decoded);
        reset_lsf_memory(rebuilt);
        lsp_vector q;
        decode_lsp(decoded, c.first, c.second, q);
        lsf_vector w;
        reconstruct_lsf(rebuilt, c.l1, c.l2, c.l3, c.mode, w);
        for (int i = 0; i < kOrder; ++i) EXPECT_EQ(q[i], std::cos(w[i])) << c.first << "/" << c.second;
        EXPECT_EQ(decoded, rebuilt);
    }
}

TEST(RearrangeLsf, PushesPairsApartInIncreasingOrder) {
    lsf_vector v = {1.0, 1.0, 1.0, 2.0, 2.0, 2.0, 2.0, 2.5, 2.6, 3.0};
    lsf_vector lower = v;
    rearrange_lsf(lower, 0.0012, lsf_pairs::lower);
    EXPECT_DOUBLE_EQ(lower[0], 1.0 - 0.0006);
    EXPECT_DOUBLE_EQ(lower[1], 1.0 + 0.0006 - 0.0009);
    EXPECT_DOUBLE_EQ(lower[4], 2.0 + 0.0006);
    EXPECT_EQ(lower[5], 2.0) << "the lower range stops at pair (3,4)";

    lsf_vector upper = v;
    rearrange_lsf(upper, 0.0012, lsf_pairs::upper);
    EXPECT_EQ(upper[0], 1.0);
    EXPECT_DOUBLE_EQ(upper[4], 2.0 - 0.0006) << "the upper range starts at pair (4,5)";

    lsf_vector all = v;
    rearrange_lsf(all, 0.0012, lsf_pairs::all);
    for (int j = 1; j < kOrder; ++j) EXPECT_GT(all[j], all[j - 1]) << j;
}

TEST(StabilizeLsf, EnforcesFloorSpacingAndCeiling) {
    struct Case {
        const char* what;
        lsf_vector in;
        lsf_vector want;
    };
    const Case cases[] = {
        {"well spaced: unchanged",
         {0.3, 0.6, 0.9, 1.2, 1.5, 1.8, 2.1, 2.4, 2.7, 3.0},
         {0.3, 0.6, 0.9, 1.2, 1.5, 1.8, 2.1, 2.4, 2.7, 3.0}},
        {"first value raised to 0.005, spacing carried upward",
         {0.001, 0.02, 0.9, 1.2, 1.5, 1.8, 2.1, 2.4, 2.7, 3.0},
         {0.005, 0.005 + 0.0392, 0.9, 1.2, 1.5, 1.8, 2.1, 2.4, 2.7, 3.0}},
        {"one inverted pair is put in order",
         {0.3, 0.9, 0.6, 1.2, 1.5, 1.8, 2.1, 2.4, 2.7, 3.0},
         {0.3, 0.6, 0.9, 1.2, 1.5, 1.8, 2.1, 2.4, 2.7, 3.0}},
        {"top clamped last, leaving a short final gap",
         {0.3, 0.6, 0.9, 1.2, 1.5, 1.8, 2.1, 2.4, 3.12, 3.13},
         {0.3, 0.6, 0.9, 1.2, 1.5, 1.8, 2.1, 2.4, 3.12, 3.135}},
    };
    for (const Case& c : cases) {
        lsf_vector w = c.in;
        stabilize_lsf(w);
        for (int i = 0; i < kOrder; ++i) EXPECT_DOUBLE_EQ(w[i], c.want[i]) << c.what << " [" << i << "]";
    }
}

TEST(StabilizeLsf, SeveralInversionsStillEndIncreasing) {
    lsf_vector w = {2.0, 1.5, 1.0, 0.5, 0.4, 0.3, 0.2, 0.1, 0.05, 0.01};
    stabilize_lsf(w);
    EXPECT_GE(w[0], 0.005);
    for (int j = 1; j < kOrder - 1; ++j) EXPECT_GE(w[j] - w[j - 1], 0.0392 - 1e-12) << j;
}

TEST(ComposeLsf, AddsThePredictionToTheScaledResidual) {
    lsf_memory memory;
    reset_lsf_memory(memory);
    memory[3][0] = 2.0;
    lsf_vector residual{};
    residual[0] = 1.0;
    lsf_vector w;
    compose_lsf(residual, ma_predictor[0], ma_predictor_sum[0], memory, w);
    const double want = ((1.0 * ma_predictor_sum[0][0] + ma_predictor[0][0][0] * initial_lsf_vector[0]) +
                         ma_predictor[0][1][0] * initial_lsf_vector[0]) +
                        ma_predictor[0][2][0] * initial_lsf_vector[0] + ma_predictor[0][3][0] * 2.0;
    EXPECT_EQ(w[0], want);
}

// The residual composes back to the LSFs it came from under either
// predictor (up to the single-precision reciprocal of the predictor sums).
TEST(LsfPredictionResidual, ComposesBackToTheLsfs) {
    lsf_memory memory;
    for (int k = 0; k < kPredictorOrder; ++k) {
        for (int i = 0; i < kOrder; ++i) memory[k][i] = initial_lsf_vector[i] + 0.01 * (k + 1) * std::sin(i + k);
    }
    lsf_vector w;
    for (int i = 0; i < kOrder; ++i) w[i] = initial_lsf_vector[i] + 0.05 * std::cos(3.0 * i);
    for (int mode = 0; mode < kPredictorModes; ++mode) {
        lsf_vector residual, back;
        lsf_prediction_residual(memory, w, mode, residual);
        compose_lsf(residual, ma_predictor[mode], ma_predictor_sum[mode], memory, back);
        for (int i = 0; i < kOrder; ++i) EXPECT_NEAR(back[i], w[i], 1e-6) << "mode " << mode << " lsf " << i;
    }
}

TEST(PushLsfMemory, NewestRowFirstOldestDropsOut) {
    lsf_memory memory;
    for (int k = 0; k < kPredictorOrder; ++k) memory[k].fill(double(k));
    lsf_vector residual;
    residual.fill(9.0);
    push_lsf_memory(residual, memory);
    EXPECT_EQ(memory[0][4], 9.0);
    EXPECT_EQ(memory[1][4], 0.0);
    EXPECT_EQ(memory[2][4], 1.0);
    EXPECT_EQ(memory[3][4], 2.0);
}

// The generated table must hold the very doubles the mixture computes here,
// in this library's arithmetic: a literal that reads back one bit off would
// change comfort noise everywhere.
TEST(ComfortNoisePredictors, SetZeroIsModeZeroAndSetOneMixesTheTwoModesToTheBit) {
    EXPECT_EQ(comfort_noise_predictors[0], ma_predictor[0]);
    EXPECT_EQ(comfort_noise_predictors[1][0][0], 0.6 * 0.2570 + 0.4 * 0.2360);
    for (int k = 0; k < kPredictorOrder; ++k) {
        for (int i = 0; i < kOrder; ++i) {
            const double mixed = 0.6 * ma_predictor[0][k][i] + 0.4 * ma_predictor[1][k][i];
            EXPECT_EQ(std::memcmp(&comfort_noise_predictors[1][k][i], &mixed, sizeof mixed), 0)
                << "row " << k << " component " << i;
        }
    }
}

TEST(LsfTables, TranscriptionPassesItsChecks) {
    for (int r = 0; r < kLsfCodebookL1Size; ++r) {
        for (int i = 0; i < kOrder; ++i) {
            EXPECT_GE(lsf_codebook_l1[r][i], 0.0829) << r;
            EXPECT_LE(lsf_codebook_l1[r][i], 2.8728) << r;
            if (i > 0) {
                EXPECT_GT(lsf_codebook_l1[r][i], lsf_codebook_l1[r][i - 1]) << r << " " << i;
            }
        }
    }
    EXPECT_EQ(lsf_codebook_l2l3[0][5], 0.0711);
    EXPECT_EQ(ma_predictor[1][0][2], 0.2499);
    EXPECT_EQ(ma_predictor_sum_inverse[0][0], 4.2016806602478);
    EXPECT_EQ(lp_analysis_window[135], 0.78242958);
    EXPECT_EQ(lp_analysis_window[199], 0.99998569);
    EXPECT_EQ(lp_analysis_window[200], 1.0);
    EXPECT_EQ(lp_analysis_window[239], 0.02963307);
}

} // namespace
} // namespace g729
