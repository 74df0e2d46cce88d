#include "codec/encoder/gain_quantizer.h"

#include "codec/dsp/gain.h"

namespace g729 {
namespace {

// Pre-selection: the unquantized optimum, projected onto the structure of the
// two codebooks, picks 4 consecutive GA rows and 8 consecutive GB rows.
constexpr int kGaCandidates = 4;
constexpr int kGbCandidates = 8;
constexpr double ga_preselect_thresholds[kGaCandidates] = {0.659681, 0.755274, 1.207205, 1.98774};
constexpr double gb_preselect_thresholds[kGbCandidates] = {0.429912, 0.494045, 0.618737, 0.650676,
                                                           0.717949, 0.77005,  0.850628, 0.932089};
constexpr double kPreselectSlope = 31.134575;
constexpr double kPreselectPitchOffset = 1.612322;
constexpr double kPreselectGaWeight = 0.481389;
constexpr double kPreselectCodeOffset = 0.053056;
constexpr double kPreselectScale = -0.032623;

// Under taming the pitch gain stays away from 1 so the excitation cannot
// build up through the adaptive codebook.
constexpr double kTamedPreselectPitch = 0.94;
constexpr double kTamedPitchLimit = 0.9999;

// Counts the thresholds the coordinate lies beyond. With a positive
// prediction "beyond" means above; otherwise the comparisons turn round.
// A coordinate that is not a number stops at 0.
int start_row(double coordinate, const double* thresholds, int count, double g0) {
    int row = 0;
    if (g0 > 0.0) {
        while (row < count && coordinate > thresholds[row] * g0) ++row;
    } else {
        while (row < count && coordinate < thresholds[row] * g0) ++row;
    }
    return row;
}

} // namespace

int quantize_gains(energy_memory& history, const double* code, const gain_correlations& correlations, int length,
                   bool taming, double& pitch_gain, double& code_gain) {
    const double c0 = correlations[0], c1 = correlations[1], c2 = correlations[2], c3 = correlations[3],
                 c4 = correlations[4];
    const double g0 = predict_fixed_gain(history, code, length);

    const double det = -1.0 / (4.0 * c0 * c2 - c4 * c4);
    double gp_opt = ((c2 + c2) * c1 - c4 * c3) * det;
    const double gc_opt = ((c0 + c0) * c3 - c4 * c1) * det;
    if (taming && gp_opt > kTamedPreselectPitch) gp_opt = kTamedPreselectPitch;

    const double u = (gc_opt - (kPreselectSlope * gp_opt + kPreselectCodeOffset) * g0) * kPreselectScale;
    const double v =
        (kPreselectGaWeight * (kPreselectSlope * gp_opt - kPreselectPitchOffset) * g0 - kPreselectSlope * gc_opt) *
        kPreselectScale;
    const int sa = start_row(v, ga_preselect_thresholds, kGaCandidates, g0);
    const int sb = start_row(u, gb_preselect_thresholds, kGbCandidates, g0);

    double best = 1e38;
    int ra = 0, rb = 0;
    for (int i = 0; i < kGaCandidates; ++i) {
        const gain_codebook_row& ga = gain_codebook_ga[sa + i];
        for (int j = 0; j < kGbCandidates; ++j) {
            const gain_codebook_row& gb = gain_codebook_gb[sb + j];
            const double gp = ga.pitch + gb.pitch;
            if (taming && gp >= kTamedPitchLimit) continue;
            const double gc = (ga.correction + gb.correction) * g0;
            const double e = (((c0 * (gp * gp) + c1 * gp) + c2 * (gc * gc)) + c3 * gc) + (gc * gp) * c4;
            if (e < best) {
                best = e;
                ra = sa + i;
                rb = sb + j;
            }
        }
    }

    pitch_gain = gain_codebook_ga[ra].pitch + gain_codebook_gb[rb].pitch;
    const double correction = gain_codebook_ga[ra].correction + gain_codebook_gb[rb].correction;
    code_gain = g0 * correction;
    push_quantized_energy(history, correction);
    return ga_row_to_index[ra] * 16 + gb_row_to_index[rb];
}

} // namespace g729
