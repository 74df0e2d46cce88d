#include "codec/decoder/decoder.h"

#include "codec/decoder/concealment.h"
#include "codec/dsp/filters.h"
#include "codec/dsp/gain.h"
#include "codec/dsp/interpolation.h"
#include "codec/dsp/lsp.h"
#include "codec/dsp/lsp_codebook.h"

namespace g729 {

namespace {

constexpr int kInitialLag = 60;
constexpr int kPulses = 4;

void synthesize_speech(decoder_state& state, const speech_parameters& params, double* speech, lp_filter_pair& filters,
                       pitch_lags& lags) {
    lsp_vector q;
    decode_lsp(state.lsf_predictor_memory, params.lsp_first, params.lsp_second, q);
    state.last_lsp_predictor = (params.lsp_first >> 7) & 1;
    interpolate_lp_filters(state.previous_quantized_lsp, q, filters);
    state.previous_quantized_lsp = q;

    int t0 = 0;
    int frac = 0;
    for (int s = 0; s < kSubframes; ++s) {
        double* excitation = state.excitation_buffer + kExcitationHistory + s * kSubframe;
        const subframe_parameters& coded = params.subframes[s];
        if (s == 0) {
            if (!params.parity_error) {
                decode_pitch_lag(coded.pitch_index, 0, 0, t0, frac);
                state.previous_integer_lag = t0;
            } else {
                // A damaged first pitch index is replaced by the last lag.
                t0 = state.previous_integer_lag;
                frac = 0;
            }
        } else {
            decode_pitch_lag(coded.pitch_index, 1, t0, t0, frac);
            state.previous_integer_lag = t0;
        }
        lags[s] = t0;

        interpolate_excitation(excitation, t0, frac, kSubframe);

        double code[kSubframe];
        decode_fixed_code(coded.code_signs, coded.code_positions, code);
        // Sharpening for lags shorter than the subframe uses the factor of
        // the previous subframe; samples already sharpened feed later ones.
        for (int i = t0; i < kSubframe; ++i) code[i] = code[i] + state.pitch_sharpening_factor * code[i - t0];

        double pitch_gain = 0.0;
        double code_gain = 0.0;
        decode_gains(state.energy_history, coded.gain_indices, code, kSubframe, pitch_gain, code_gain);
        state.pitch_sharpening_factor = pitch_gain > kSharpeningMax   ? kSharpeningMax
                                        : pitch_gain < kSharpeningMin ? kSharpeningMin
                                                                      : pitch_gain;
        state.last_pitch_gain = pitch_gain;
        state.last_code_gain = code_gain;

        for (int i = 0; i < kSubframe; ++i) excitation[i] = pitch_gain * excitation[i] + code_gain * code[i];
        synthesis_filter(filters[s], excitation, speech + s * kSubframe, kSubframe,
                         state.synthesis_filter_memory.data(), true);
    }
}

void synthesize_noise(decoder_state& state, comfort_noise_state& noise, const sid_parameters& params, double* speech,
                      lp_filter_pair& filters, pitch_lags& lags) {
    double* excitation = state.excitation_buffer + kExcitationHistory;
    comfort_noise_frame(noise, state.previous_frame_type, params, excitation, state.previous_quantized_lsp,
                        state.lsf_predictor_memory, state.noise_seed, filters);
    synthesize_comfort_noise(state, filters, speech, lags);
}

} // namespace

void synthesize_comfort_noise(decoder_state& state, const lp_filter_pair& filters, double* speech, pitch_lags& lags) {
    const double* excitation = state.excitation_buffer + kExcitationHistory;
    for (int s = 0; s < kSubframes; ++s) {
        double* out = speech + s * kSubframe;
        synthesis_filter(filters[s], excitation + s * kSubframe, out, kSubframe, state.synthesis_filter_memory.data(),
                         false);
        // A plain copy: unlike the filter's own update, small values are kept.
        copy_vector(out + kSubframe - kOrder, state.synthesis_filter_memory.data(), kOrder);
        lags[s] = state.previous_integer_lag;
    }
    state.pitch_sharpening_factor = kSharpeningMin;
}

void shift_excitation_buffer(decoder_state& state) {
    copy_vector(state.excitation_buffer + kFrame, state.excitation_buffer, kExcitationHistory);
}

void decoder_reset(decoder_state& state, comfort_noise_state& noise) {
    set_zero(state.excitation_buffer, kDecoderExcitationBuffer);
    state.previous_quantized_lsp = initial_lsp_vector;
    state.synthesis_filter_memory.fill(0.0);
    state.pitch_sharpening_factor = kSharpeningMin;
    state.previous_integer_lag = kInitialLag;
    state.previous_frame_type = frame_type::speech;
    state.noise_seed = kInitialNoiseSeed;
    reset_lsf_memory(state.lsf_predictor_memory);
    reset_energy_history(state.energy_history);
    build_comfort_noise_predictors(noise.comfort_noise_predictors);
    concealment_reset(state);
}

void decode_pitch_lag(int index, int subframe, int reference_lag, int& t0, int& frac) {
    if (subframe == 0) {
        if (index < 197) {
            t0 = (index + 2) / 3 + 19;
            frac = index - 3 * t0 + 58;
        } else {
            t0 = index - 112;
            frac = 0;
        }
        return;
    }
    int lo = reference_lag - 5;
    if (lo < kPitchMin) lo = kPitchMin;
    if (lo + 9 > kPitchMax) lo = kPitchMax - 9;
    t0 = lo + (index + 2) / 3 - 1;
    frac = (index + 2) % 3 - 1;
}

void decode_fixed_code(int signs, int positions, double* code) {
    set_zero(code, kSubframe);
    const int pos[kPulses] = {
        5 * (positions & 7),
        5 * ((positions >> 3) & 7) + 1,
        5 * ((positions >> 6) & 7) + 2,
        5 * ((positions >> 10) & 7) + 3 + ((positions >> 9) & 1),
    };
    for (int k = 0; k < kPulses; ++k) code[pos[k]] = ((signs >> k) & 1) != 0 ? 1.0 : -1.0;
}

void synthesize_frame(decoder_state& state, comfort_noise_state& noise, const frame_parameters& params,
                      double* speech, lp_filter_pair& filters, pitch_lags& lags) {
    if (params.type == frame_type::sid) {
        synthesize_noise(state, noise, params.sid, speech, filters, lags);
    } else {
        // Comfort noise after every speech burst starts from the same seed.
        state.noise_seed = kInitialNoiseSeed;
        synthesize_speech(state, params.speech, speech, filters, lags);
    }
    state.previous_frame_type = params.type;
    state.lost_frames = 0;
    shift_excitation_buffer(state);
}

} // namespace g729
