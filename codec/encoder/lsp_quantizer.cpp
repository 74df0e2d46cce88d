#include "codec/encoder/lsp_quantizer.h"

#include "codec/dsp/cpu.h"
#include "codec/dsp/lsp.h"
#include "codec/dsp/lsp_codebook.h"
#include "codec/dsp/simd.h"
#include "codec/dsp/tables.h"
#include "codec/encoder/x86/avx2.h"

namespace g729 {
namespace {

// 0.04*pi and 0.92*pi with pi taken as 3.141592654: the virtual neighbours
// of the first and last LSF in the weighting.
constexpr double kLowEdge = 0.12566370616;
constexpr double kHighEdge = 2.89026524168;

// Rows of a codebook are measured eight at a time, one row per vector
// lane, from the codebooks stored component by component: each row's
// distance keeps its own accumulator from 0 and adds its components in
// increasing order, so it is the same number as when the rows are taken one
// by one. The choice is then a separate scan in increasing row order with a
// strict "<".
constexpr int kRowsPerPass = 8;
static_assert(kLsfCodebookL1Size % kRowsPerPass == 0 && kLsfCodebookL2L3Size % kRowsPerPass == 0,
              "codebooks come in whole passes");

// Two independent choices over lists of the same length, made in one loop so
// that their compare-and-keep chains run side by side. Each list on its own
// is taken in increasing row order with a strict "<": ties keep the lower
// row, and a list is never compared with the other.
template <int rows>
void first_smallest_of_each(const double (&a)[rows], const double (&b)[rows], int& index_a, int& index_b) {
    double best_a = 1e38, best_b = 1e38;
    index_a = 0;
    index_b = 0;
    for (int r = 0; r < rows; ++r) {
        if (a[r] < best_a) {
            best_a = a[r];
            index_a = r;
        }
        if (b[r] < best_b) {
            best_b = b[r];
            index_b = r;
        }
    }
}

} // namespace

// Close LSFs mark a formant peak; errors there are weighted up.
void lsf_weights(const lsf_vector& w, lsf_vector& weight) {
    for (int i = 0; i < kOrder; ++i) {
        double d;
        if (i == 0) {
            d = (w[1] - kLowEdge) - 1.0;
        } else if (i == kOrder - 1) {
            d = (kHighEdge - w[kOrder - 2]) - 1.0;
        } else {
            d = (w[i + 1] - w[i - 1]) - 1.0;
        }
        weight[i] = d > 0.0 ? 1.0 : 10.0 * (d * d) + 1.0;
    }
    weight[4] *= 1.2;
    weight[5] *= 1.2;
}

// Unweighted distance of every first-stage vector to target: the first stage
// keeps a single candidate, chosen without weights.
void portable::first_stage_distances(const lsf_vector& target, double* distance) {
    using simd::lanes2;
    using simd::load;
    for (int r = 0; r < kLsfCodebookL1Size; r += kRowsPerPass) {
        lanes2 s0 = simd::splat2(0.0), s1 = s0, s2 = s0, s3 = s0;
        for (int i = 0; i < kOrder; ++i) {
            const lanes2 t = simd::splat2(target[i]);
            const double* c = lsf_codebook_l1_by_component[i].data() + r;
            const lanes2 e0 = t - load<lanes2>(c), e1 = t - load<lanes2>(c + 2);
            const lanes2 e2 = t - load<lanes2>(c + 4), e3 = t - load<lanes2>(c + 6);
            s0 += e0 * e0;
            s1 += e1 * e1;
            s2 += e2 * e2;
            s3 += e3 * e3;
        }
        simd::store(distance + r, s0);
        simd::store(distance + r + 2, s1);
        simd::store(distance + r + 4, s2);
        simd::store(distance + r + 6, s3);
    }
}

void portable::second_stage_distances(const lsf_vector& target, const lsf_vector& first_stage,
                                      const lsf_vector& weight, double* lower, double* upper) {
    using simd::lanes2;
    using simd::load;
    for (int r = 0; r < kLsfCodebookL2L3Size; r += kRowsPerPass) {
        for (int half = 0; half < 2; ++half) {
            const int from = half == 0 ? 0 : kLsfLowerSplit;
            const int to = half == 0 ? kLsfLowerSplit : kOrder;
            double* distance = half == 0 ? lower : upper;
            lanes2 s0 = simd::splat2(0.0), s1 = s0, s2 = s0, s3 = s0;
            for (int i = from; i < to; ++i) {
                const lanes2 t = simd::splat2(target[i] - first_stage[i]);
                const lanes2 w = simd::splat2(weight[i]);
                const double* c = lsf_codebook_l2l3_by_component[i].data() + r;
                const lanes2 e0 = t - load<lanes2>(c), e1 = t - load<lanes2>(c + 2);
                const lanes2 e2 = t - load<lanes2>(c + 4), e3 = t - load<lanes2>(c + 6);
                s0 += w * (e0 * e0);
                s1 += w * (e1 * e1);
                s2 += w * (e2 * e2);
                s3 += w * (e3 * e3);
            }
            simd::store(distance + r, s0);
            simd::store(distance + r + 2, s1);
            simd::store(distance + r + 4, s2);
            simd::store(distance + r + 6, s3);
        }
    }
}

void second_stage_distances(const lsf_vector& target, const lsf_vector& first_stage, const lsf_vector& weight,
                            double* lower, double* upper) {
#if defined(__x86_64__)
    if (active_instruction_set() == instruction_set::avx2) {
        avx2::second_stage_distances(target, first_stage, weight, lower, upper);
        return;
    }
#endif
    portable::second_stage_distances(target, first_stage, weight, lower, upper);
}

void first_stage_distances(const lsf_vector& target, double* distance) {
#if defined(__x86_64__)
    if (active_instruction_set() == instruction_set::avx2) {
        avx2::first_stage_distances(target, distance);
        return;
    }
#endif
    portable::first_stage_distances(target, distance);
}

namespace {

struct mode_choice {
    int l1, l2, l3;
    double distortion;
};

// The second stage of one mode around its first-stage vector l1, and the
// weighted distortion of the result.
mode_choice finish_mode(const lsf_vector& target, const lsf_vector& weight, int mode, int l1) {
    mode_choice choice{l1, 0, 0, 0.0};
    const lsf_vector& first_stage = lsf_codebook_l1[l1];

    double lower[kLsfCodebookL2L3Size], upper[kLsfCodebookL2L3Size];
    second_stage_distances(target, first_stage, weight, lower, upper);
    first_smallest_of_each(lower, upper, choice.l2, choice.l3);

    lsf_vector residual;
    for (int i = 0; i < kLsfLowerSplit; ++i) residual[i] = first_stage[i] + lsf_codebook_l2l3[choice.l2][i];
    rearrange_lsf(residual, 0.0012, lsf_pairs::lower);
    for (int i = kLsfLowerSplit; i < kOrder; ++i) residual[i] = first_stage[i] + lsf_codebook_l2l3[choice.l3][i];
    rearrange_lsf(residual, 0.0012, lsf_pairs::upper);
    rearrange_lsf(residual, 0.0006, lsf_pairs::all);

    double distortion = 0.0;
    for (int i = 0; i < kOrder; ++i) {
        const double e = (residual[i] - target[i]) * ma_predictor_sum[mode][i];
        distortion += weight[i] * (e * e);
    }
    choice.distortion = distortion;
    return choice;
}

} // namespace

void quantize_lsp(lsf_memory& memory, const lsp_vector& lsp, lsp_vector& quantized, int& first, int& second) {
    lsf_vector w;
    lsp_to_lsf(lsp, w);
    lsf_vector weight;
    lsf_weights(w, weight);

    // The two modes are searched independently; their first stages are
    // chosen in one loop only so that the two choices overlap.
    static_assert(kPredictorModes == 2, "one first-stage choice per mode");
    lsf_vector target[kPredictorModes];
    double distance[kPredictorModes][kLsfCodebookL1Size];
    for (int m = 0; m < kPredictorModes; ++m) {
        lsf_prediction_residual(memory, w, m, target[m]);
        first_stage_distances(target[m], distance[m]);
    }
    int l1[kPredictorModes];
    first_smallest_of_each(distance[0], distance[1], l1[0], l1[1]);

    const mode_choice mode0 = finish_mode(target[0], weight, 0, l1[0]);
    const mode_choice mode1 = finish_mode(target[1], weight, 1, l1[1]);
    const int mode = mode1.distortion < mode0.distortion ? 1 : 0;
    const mode_choice& chosen = mode == 1 ? mode1 : mode0;

    first = mode * 128 + chosen.l1;
    second = chosen.l2 * 32 + chosen.l3;

    lsf_vector reconstructed;
    reconstruct_lsf(memory, chosen.l1, chosen.l2, chosen.l3, mode, reconstructed);
    lsf_to_lsp(reconstructed, quantized);
}

} // namespace g729
