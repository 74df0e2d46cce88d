#include "codec/dsp/sid_lsf.h"

#include "codec/dsp/lsp.h"
#include "codec/dsp/lsp_codebook.h"
#include "codec/dsp/tables.h"

namespace g729 {

const std::array<double, kSidGainLevels> sid_gain_table = {
    0.502,    1.262,    2.0,      3.17,     5.024,    7.962,    12.619,   15.887,
    20.0,     25.179,   31.698,   39.905,   50.238,   63.246,   79.621,   100.237,
    126.191,  158.866,  200.0,    251.785,  316.979,  399.052,  502.377,  632.456,
    796.214,  1002.374, 1261.915, 1588.656, 2000.0,   2517.851, 3169.786, 3990.525,
};

namespace {

// SID codebook indices -> vectors of the speech LSF codebooks.
constexpr int kSidFirstStageRows[kSidFirstStageSize] = {
    96, 52, 20, 54, 86, 114, 82, 68, 36, 121, 48, 92, 18, 120, 94, 124,
    50, 125, 4, 100, 28, 76, 12, 117, 81, 22, 90, 116, 127, 21, 108, 66,
};
constexpr int kSidLowerRows[kSidSecondStageSize] = {31, 21, 9, 3, 10, 2, 19, 26, 4, 3, 11, 29, 15, 27, 21, 12};
constexpr int kSidUpperRows[kSidSecondStageSize] = {16, 1, 0, 0, 8, 25, 22, 20, 19, 23, 20, 31, 4, 31, 20, 31};

// 1 minus the row sums of each comfort-noise predictor set, kept as these
// constants (they differ slightly from the sums of the sets themselves).
const std::array<lsf_vector, 2> kSidPredictorSums = {{
    {0.2379833013, 0.2577897906, 0.2504043877, 0.2530899942, 0.2479933947, 0.2587054074, 0.2577897906,
     0.2656025887, 0.2759788930, 0.2625812888},
    {0.3208838105, 0.3785026968, 0.3916501403, 0.3636097908, 0.3493576348, 0.3561571240, 0.3397381604,
     0.3452009559, 0.3614612222, 0.3493637145},
}};

constexpr double kSidGap = 0.0012;
constexpr double kGainKeep = 0.875;
constexpr double kGainTake = 0.125;

} // namespace

double next_noise_gain(double current, double sid_gain) { return kGainKeep * current + kGainTake * sid_gain; }

void sid_codebook_vector(int first_stage, int second_stage, lsf_vector& v) {
    v = lsf_codebook_l1[kSidFirstStageRows[first_stage & 31]];
    const lsf_vector& lower = lsf_codebook_l2l3[kSidLowerRows[second_stage & 15]];
    const lsf_vector& upper = lsf_codebook_l2l3[kSidUpperRows[second_stage & 15]];
    for (int i = 0; i < kLsfLowerSplit; ++i) v[i] += lower[i];
    for (int i = kLsfLowerSplit; i < kOrder; ++i) v[i] += upper[i];
    rearrange_lsf(v, kSidGap, lsf_pairs::all);
}

void compose_sid_lsf(const lsf_vector& v, int predictor_switch, const lsf_memory& memory, lsf_vector& w) {
    const int mode = predictor_switch & 1;
    compose_lsf(v, comfort_noise_predictors[mode], kSidPredictorSums[mode], memory, w);
    stabilize_lsf(w);
}

void decode_sid_lsf(int predictor_switch, int first_stage, int second_stage, lsf_memory& memory, lsp_vector& lsp) {
    lsf_vector v;
    sid_codebook_vector(first_stage, second_stage, v);
    lsf_vector w;
    compose_sid_lsf(v, predictor_switch, memory, w);
    // The codebook vector, not the composed LSFs, joins the history that
    // speech frames predict from.
    push_lsf_memory(v, memory);
    lsf_to_lsp(w, lsp);
}

} // namespace g729
