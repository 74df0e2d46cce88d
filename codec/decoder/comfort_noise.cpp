#include "codec/decoder/comfort_noise.h"

#include <cmath>

#include "codec/dsp/interpolation.h"
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
constexpr int kSidFirstStageRows[32] = {
    96, 52, 20, 54, 86, 114, 82, 68, 36, 121, 48, 92, 18, 120, 94, 124,
    50, 125, 4, 100, 28, 76, 12, 117, 81, 22, 90, 116, 127, 21, 108, 66,
};
constexpr int kSidLowerRows[16] = {31, 21, 9, 3, 10, 2, 19, 26, 4, 3, 11, 29, 15, 27, 21, 12};
constexpr int kSidUpperRows[16] = {16, 1, 0, 0, 8, 25, 22, 20, 19, 23, 20, 31, 4, 31, 20, 31};

// 1 minus the row sums of each comfort-noise predictor set, kept as these
// constants (they differ slightly from the sums of the sets themselves).
const std::array<lsf_vector, 2> kSidPredictorSums = {{
    {0.2379833013, 0.2577897906, 0.2504043877, 0.2530899942, 0.2479933947, 0.2587054074, 0.2577897906,
     0.2656025887, 0.2759788930, 0.2625812888},
    {0.3208838105, 0.3785026968, 0.3916501403, 0.3636097908, 0.3493576348, 0.3561571240, 0.3397381604,
     0.3452009559, 0.3614612222, 0.3493637145},
}};

constexpr double kSidGap = 0.0012;
// Per SID frame the gain moves one eighth of the way to the new SID gain.
constexpr double kGainKeep = 0.875;
constexpr double kGainTake = 0.125;
constexpr int kGaussianDraws = 12;
constexpr double kNoiseScale = 3.16227766; // sqrt(40) / 2
constexpr double kMaxPulseAmplitude = 5000.0;

double sign_of_bit(int word, int bit) { return ((word >> bit) & 1) != 0 ? 1.0 : -1.0; }

} // namespace

void comfort_noise_reset(comfort_noise_state& state) {
    state.current_noise_gain = 0.0;
    state.sid_gain = sid_gain_table[0];
    lsf_to_lsp(initial_lsf_vector, state.sid_lsp);
}

int16_t random_word(int16_t& seed) {
    const int32_t next = int32_t(seed) * 31821 + 13849;
    seed = int16_t(uint16_t(uint32_t(next) & 0xFFFFu));
    return seed;
}

void decode_sid_lsf(int predictor_switch, int first_stage, int second_stage, lsf_memory& memory, lsp_vector& lsp) {
    const int mode = predictor_switch & 1;
    lsf_vector v = lsf_codebook_l1[kSidFirstStageRows[first_stage & 31]];
    const lsf_vector& lower = lsf_codebook_l2l3[kSidLowerRows[second_stage & 15]];
    const lsf_vector& upper = lsf_codebook_l2l3[kSidUpperRows[second_stage & 15]];
    for (int i = 0; i < kLsfLowerSplit; ++i) v[i] += lower[i];
    for (int i = kLsfLowerSplit; i < kOrder; ++i) v[i] += upper[i];
    rearrange_lsf(v, kSidGap, lsf_pairs::all);
    lsf_vector w;
    compose_lsf(v, comfort_noise_predictors[mode], kSidPredictorSums[mode], memory, w);
    // The codebook vector, not the composed LSFs, joins the history that
    // speech frames predict from.
    push_lsf_memory(v, memory);
    stabilize_lsf(w);
    lsf_to_lsp(w, lsp);
}

noise_subframe_parameters draw_noise_parameters(int16_t& seed) {
    noise_subframe_parameters q;
    const int w1 = random_word(seed);
    const int low = w1 & 3;
    q.frac = low == 3 ? 0 : low - 1;
    q.t0 = ((w1 >> 2) & 63) + 40;
    q.positions[0] = 5 * ((w1 >> 8) & 7);
    q.signs[0] = sign_of_bit(w1, 11);
    q.positions[1] = 5 * ((w1 >> 12) & 7) + 1;
    q.signs[1] = sign_of_bit(w1, 15);

    const int w2 = random_word(seed);
    q.positions[2] = 5 * (w2 & 7) + 2;
    q.signs[2] = sign_of_bit(w2, 3);
    q.positions[3] = 5 * ((w2 >> 5) & 7) + 3 + ((w2 >> 4) & 1);
    q.signs[3] = sign_of_bit(w2, 8);

    const int w3 = random_word(seed);
    q.adaptive_gain = double(w3 & 0x1FFF) / 16384.0;
    return q;
}

void random_excitation(double* excitation, int16_t& seed, double gain) {
    for (int s = 0; s < kSubframes; ++s) {
        double* x = excitation + s * kSubframe;

        const noise_subframe_parameters q = draw_noise_parameters(seed);
        const int* pos = q.positions;
        const double* sign = q.signs;

        // Roughly Gaussian samples: sums of twelve uniform words.
        double g[kSubframe];
        double noise_energy = 0.0;
        for (int i = 0; i < kSubframe; ++i) {
            int32_t sum = 0;
            for (int d = 0; d < kGaussianDraws; ++d) sum += random_word(seed);
            g[i] = double(sum >> 7) / 512.0;
            noise_energy += g[i] * g[i];
        }
        const double scale = (kNoiseScale * gain) / std::sqrt(noise_energy);
        for (int i = 0; i < kSubframe; ++i) g[i] = g[i] * scale;

        interpolate_excitation(x, q.t0, q.frac, kSubframe);
        double energy = 0.0;
        for (int i = 0; i < kSubframe; ++i) {
            x[i] = x[i] * q.adaptive_gain + g[i];
            energy += x[i] * x[i];
        }

        // The pulse amplitude A solves 4A^2 + 2BA + (E - K) = 0, which brings
        // the subframe energy to 40 G^2.
        auto pulse_correlation = [&]() {
            double b = 0.0;
            for (int k = 0; k < 4; ++k) b += sign[k] * x[pos[k]];
            return b;
        };
        double b = pulse_correlation();
        const double target = 40.0 * (gain * gain);
        double delta = b * b - 4.0 * (energy - target);
        if (delta < 0.0) {
            // No real root: drop the adaptive part.
            for (int i = 0; i < kSubframe; ++i) x[i] = g[i];
            b = pulse_correlation();
            delta = b * b + 3.0 * target;
        }
        const double root = std::sqrt(delta);
        const double x1 = (root - b) * 0.25;
        const double x2 = -(b + root) * 0.25;
        double amplitude = std::fabs(x1) < std::fabs(x2) ? x1 : x2;
        if (amplitude > kMaxPulseAmplitude) amplitude = kMaxPulseAmplitude;
        if (amplitude < -kMaxPulseAmplitude) amplitude = -kMaxPulseAmplitude;
        for (int k = 0; k < 4; ++k) x[pos[k]] = x[pos[k]] + sign[k] * amplitude;
    }
}

namespace {

// The excitation of the current gain and the filters from the previous LSPs
// to the SID LSPs, which then become the previous ones.
void noise_excitation_and_filters(const comfort_noise_state& state, double* excitation,
                                  lsp_vector& previous_quantized_lsp, int16_t& noise_seed, lp_filter_pair& filters) {
    random_excitation(excitation, noise_seed, state.current_noise_gain);
    interpolate_lp_filters(previous_quantized_lsp, state.sid_lsp, filters);
    previous_quantized_lsp = state.sid_lsp;
}

} // namespace

void comfort_noise_frame(comfort_noise_state& state, frame_type previous_frame_type, const sid_parameters& sid,
                         double* excitation, lsp_vector& previous_quantized_lsp, lsf_memory& lsf_predictor_memory,
                         int16_t& noise_seed, lp_filter_pair& filters) {
    state.sid_gain = sid_gain_table[sid.energy_index & 31];
    decode_sid_lsf(sid.predictor_switch, sid.lsf_first_stage, sid.lsf_second_stage, lsf_predictor_memory,
                   state.sid_lsp);
    if (previous_frame_type == frame_type::speech) {
        state.current_noise_gain = state.sid_gain;
        noise_excitation_and_filters(state, excitation, previous_quantized_lsp, noise_seed, filters);
    } else {
        continue_comfort_noise(state, excitation, previous_quantized_lsp, noise_seed, filters);
    }
}

void continue_comfort_noise(comfort_noise_state& state, double* excitation, lsp_vector& previous_quantized_lsp,
                            int16_t& noise_seed, lp_filter_pair& filters) {
    state.current_noise_gain = kGainKeep * state.current_noise_gain + kGainTake * state.sid_gain;
    noise_excitation_and_filters(state, excitation, previous_quantized_lsp, noise_seed, filters);
}

} // namespace g729
