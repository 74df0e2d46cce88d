#include "codec/decoder/concealment.h"

#include <cstdint>

#include "codec/dsp/filters.h"
#include "codec/dsp/gain.h"
#include "codec/dsp/interpolation.h"
#include "codec/dsp/lsp.h"
#include "codec/dsp/lsp_codebook.h"

namespace g729 {

namespace {

// The random pulses have a generator of their own, so that concealment
// leaves the comfort-noise sequence alone.
constexpr int16_t kInitialConcealmentSeed = 21845;

// Concealment of a lost speech frame:
// - the adaptive gain starts at 0.9 times the last decoded one, at most 0.9,
//   and falls by 0.9 a frame; the fixed gain falls by 0.98 a frame;
constexpr double kConcealedPitchGainMax = 0.9;
constexpr double kConcealedPitchGainDecay = 0.9;
constexpr double kConcealedCodeGainDecay = 0.98;
// - the random fixed-codebook part keeps that level for the first two lost
//   frames and then fades 3.5 dB a frame, so that twenty lost frames end
//   more than 60 dB down; the periodic part dies out faster by itself;
constexpr int kUnfadedLostFrames = 2;
constexpr double kFadePerLostFrame = 0.6683439175686147; // -3.5 dB
// - the pitch lag of the last good frame grows by a sample per lost frame.

// The count only steers the fade, which is complete long before this.
constexpr int kLostFramesLimit = 1000;
constexpr int kPositionBits = 0x1FFF; // the 13 position bits of a fixed-codebook index
constexpr int kSignBits = 0xF;

// The LSF predictor memory moves on as if the lost frame had carried the
// LSFs of the last good one under that frame's predictor, so that the first
// frame after the loss predicts from a memory in step with what was heard.
void repeat_lsf(decoder_state& state, lp_filter_pair& filters) {
    lsp_to_lp(state.previous_quantized_lsp, filters[0]);
    filters[1] = filters[0];
    lsf_vector w;
    lsp_to_lsf(state.previous_quantized_lsp, w);
    lsf_vector residual;
    lsf_prediction_residual(state.lsf_predictor_memory, w, state.last_lsp_predictor, residual);
    push_lsf_memory(residual, state.lsf_predictor_memory);
}

// Fades the random part of long losses: level 1 for the first lost frames,
// then kFadePerLostFrame less for each one after them.
double random_part_fade(int lost_frames) {
    double fade = 1.0;
    for (int n = kUnfadedLostFrames; n < lost_frames; ++n) fade *= kFadePerLostFrame;
    return fade;
}

void conceal_speech(decoder_state& state, double* speech, lp_filter_pair& filters, pitch_lags& lags) {
    if (state.lost_frames < kLostFramesLimit) ++state.lost_frames;
    repeat_lsf(state, filters);

    double pitch_gain = kConcealedPitchGainDecay * state.last_pitch_gain;
    if (pitch_gain > kConcealedPitchGainMax) pitch_gain = kConcealedPitchGainMax;
    const double code_gain = kConcealedCodeGainDecay * state.last_code_gain;
    state.last_pitch_gain = pitch_gain;
    state.last_code_gain = code_gain;
    const double random_gain = code_gain * random_part_fade(state.lost_frames);
    const double sharpening = pitch_gain > kSharpeningMax   ? kSharpeningMax
                              : pitch_gain < kSharpeningMin ? kSharpeningMin
                                                            : pitch_gain;

    const int t0 = state.previous_integer_lag;
    for (int s = 0; s < kSubframes; ++s) {
        double* excitation = state.excitation_buffer + kExcitationHistory + s * kSubframe;
        lags[s] = t0;
        interpolate_excitation(excitation, t0, 0, kSubframe);

        const int positions = random_word(state.concealment_seed) & kPositionBits;
        const int signs = random_word(state.concealment_seed) & kSignBits;
        double code[kSubframe];
        decode_fixed_code(signs, positions, code);
        for (int i = t0; i < kSubframe; ++i) code[i] = code[i] + state.pitch_sharpening_factor * code[i - t0];
        state.pitch_sharpening_factor = sharpening;

        push_concealed_energy(state.energy_history);

        for (int i = 0; i < kSubframe; ++i) excitation[i] = pitch_gain * excitation[i] + random_gain * code[i];
        synthesis_filter(filters[s], excitation, speech + s * kSubframe, kSubframe,
                         state.synthesis_filter_memory.data(), true);
    }
    state.previous_integer_lag = t0 < kPitchMax ? t0 + 1 : kPitchMax;
}

} // namespace

void concealment_reset(decoder_state& state) {
    state.last_pitch_gain = 0.0;
    state.last_code_gain = 0.0;
    state.last_lsp_predictor = 0;
    state.lost_frames = 0;
    state.concealment_seed = kInitialConcealmentSeed;
}

frame_type conceal_frame(decoder_state& state, comfort_noise_state& noise, double* speech, lp_filter_pair& filters,
                         pitch_lags& lags) {
    const frame_type type = state.previous_frame_type;
    if (type == frame_type::sid) {
        continue_comfort_noise(noise, state.excitation_buffer + kExcitationHistory, state.previous_quantized_lsp,
                               state.noise_seed, filters);
        synthesize_comfort_noise(state, filters, speech, lags);
    } else {
        conceal_speech(state, speech, filters, lags);
    }
    shift_excitation_buffer(state);
    return type;
}

} // namespace g729
