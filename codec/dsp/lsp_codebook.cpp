#include "codec/dsp/lsp_codebook.h"

#include "codec/dsp/lsp.h"
#include "codec/dsp/tables.h"

namespace g729 {

const lsf_vector initial_lsf_vector = {
    0.285599, 0.571199, 0.856798, 1.142397, 1.427997, 1.713596, 1.999195, 2.284795, 2.570394, 2.855993,
};

namespace {
// Reconstruction spaces the codebook vector twice: coarsely, then finely.
constexpr double kCoarseGap = 0.0012;
constexpr double kFineGap = 0.0006;
// Limits that keep a decoded filter stable.
constexpr double kLowestLsf = 0.005;
constexpr double kMinimumSpacing = 0.0392;
constexpr double kHighestLsf = 3.135;
} // namespace

void reset_lsf_memory(lsf_memory& memory) {
    for (lsf_vector& row : memory) row = initial_lsf_vector;
}

void rearrange_lsf(lsf_vector& v, double gap, lsf_pairs pairs) {
    int first = 1;
    int last = kOrder - 1;
    if (pairs == lsf_pairs::lower) last = 4;
    if (pairs == lsf_pairs::upper) first = 5;
    for (int j = first; j <= last; ++j) {
        const double t = (v[j - 1] - v[j] + gap) * 0.5;
        if (t > 0.0) {
            v[j - 1] = v[j - 1] - t;
            v[j] = v[j] + t;
        }
    }
}

void compose_lsf(const lsf_vector& residual, const lsf_predictor_set& predictor, const lsf_vector& sum,
                 const lsf_memory& memory, lsf_vector& w) {
    for (int i = 0; i < kOrder; ++i) {
        double s = residual[i] * sum[i];
        for (int k = 0; k < kPredictorOrder; ++k) s += predictor[k][i] * memory[k][i];
        w[i] = s;
    }
}

void lsf_prediction_residual(const lsf_memory& memory, const lsf_vector& w, int mode, lsf_vector& residual) {
    const lsf_predictor_set& predictor = ma_predictor[mode];
    for (int i = 0; i < kOrder; ++i) {
        const double predicted = (((w[i] - predictor[0][i] * memory[0][i]) - predictor[1][i] * memory[1][i]) -
                                  predictor[2][i] * memory[2][i]) -
                                 predictor[3][i] * memory[3][i];
        residual[i] = predicted * ma_predictor_sum_inverse[mode][i];
    }
}

void push_lsf_memory(const lsf_vector& residual, lsf_memory& memory) {
    for (int k = kPredictorOrder - 1; k > 0; --k) memory[k] = memory[k - 1];
    memory[0] = residual;
}

void stabilize_lsf(lsf_vector& w) {
    // A single ordering pass: enough for one inversion; the spacing pass
    // below forces increasing values whatever is left.
    for (int j = 0; j < kOrder - 1; ++j) {
        if (w[j + 1] - w[j] < 0.0) {
            const double t = w[j];
            w[j] = w[j + 1];
            w[j + 1] = t;
        }
    }
    if (w[0] < kLowestLsf) w[0] = kLowestLsf;
    for (int j = 0; j < kOrder - 1; ++j) {
        if (w[j + 1] - w[j] < kMinimumSpacing) w[j + 1] = w[j] + kMinimumSpacing;
    }
    // Clamped last, so the top gap may end up below the minimum spacing.
    if (w[kOrder - 1] > kHighestLsf) w[kOrder - 1] = kHighestLsf;
}

void reconstruct_lsf(lsf_memory& memory, int l1, int l2, int l3, int mode, lsf_vector& w) {
    lsf_vector residual;
    for (int i = 0; i < kLsfLowerSplit; ++i) residual[i] = lsf_codebook_l1[l1][i] + lsf_codebook_l2l3[l2][i];
    for (int i = kLsfLowerSplit; i < kOrder; ++i) residual[i] = lsf_codebook_l1[l1][i] + lsf_codebook_l2l3[l3][i];
    rearrange_lsf(residual, kCoarseGap, lsf_pairs::all);
    rearrange_lsf(residual, kFineGap, lsf_pairs::all);
    compose_lsf(residual, ma_predictor[mode], ma_predictor_sum[mode], memory, w);
    push_lsf_memory(residual, memory);
    stabilize_lsf(w);
}

void decode_lsp(lsf_memory& memory, int first, int second, lsp_vector& q) {
    const int mode = (first >> 7) & 1;
    const int l1 = first & 0x7F;
    const int l2 = (second >> 5) & 0x1F;
    const int l3 = second & 0x1F;
    lsf_vector w;
    reconstruct_lsf(memory, l1, l2, l3, mode, w);
    lsf_to_lsp(w, q);
}

} // namespace g729
