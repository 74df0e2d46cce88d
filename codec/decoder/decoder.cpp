#include "codec/decoder/decoder.h"

#include "codec/decoder/postfilter.h"
#include "codec/dsp/channel_lanes.h"
#include "codec/dsp/filters.h"
#include "codec/dsp/gain.h"
#include "codec/dsp/interpolation.h"
#include "codec/dsp/lsp.h"
#include "codec/dsp/lsp_codebook.h"

namespace g729 {

namespace {

constexpr int kInitialLag = 60;
constexpr int kPulses = 4;

} // namespace

void decode_lsp_filters(decoder_state& state, const speech_parameters& params, lp_filter_pair& filters) {
    lsp_vector q;
    decode_lsp(state.lsf_predictor_memory, params.lsp_first, params.lsp_second, q);
    state.last_lsp_predictor = (params.lsp_first >> 7) & 1;
    interpolate_lp_filters(state.previous_quantized_lsp, q, filters);
    state.previous_quantized_lsp = q;
}

double* decode_excitation(decoder_state& state, const speech_parameters& params, int s, int& t0) {
    double* excitation = state.excitation_buffer + kExcitationHistory + s * kSubframe;
    const subframe_parameters& coded = params.subframes[s];
    int frac = 0;
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

    for (int i = 0; i < kSubframe; ++i) excitation[i] = pitch_gain * excitation[i] + code_gain * code[i];
    return excitation;
}

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

void finish_frame(decoder_state& state, frame_type type) {
    state.previous_frame_type = type;
    state.lost_frames = 0;
    shift_excitation_buffer(state);
}

void decoder_reset(decoder_state& state) {
    set_zero(state.excitation_buffer, kDecoderExcitationBuffer);
    state.previous_quantized_lsp = initial_lsp_vector;
    state.synthesis_filter_memory.fill(0.0);
    state.pitch_sharpening_factor = kSharpeningMin;
    state.previous_integer_lag = kInitialLag;
    state.previous_frame_type = frame_type::speech;
    state.noise_seed = kInitialNoiseSeed;
    reset_lsf_memory(state.lsf_predictor_memory);
    reset_energy_history(state.energy_history);
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

void synthesize_sid_frame(decoder_state& state, comfort_noise_state& noise, const sid_parameters& params,
                          double* speech, lp_filter_pair& filters, pitch_lags& lags) {
    double* excitation = state.excitation_buffer + kExcitationHistory;
    comfort_noise_frame(noise, state.previous_frame_type, params, excitation, state.previous_quantized_lsp,
                        state.lsf_predictor_memory, state.noise_seed, filters);
    synthesize_comfort_noise(state, filters, speech, lags);
    finish_frame(state, frame_type::sid);
}

void decode_speech_to_output(decoder_state& state, postfilter_state& post, pole_zero_memory& high_pass,
                             const speech_parameters& params, double* synthesis_buffer) {
    const speech_channel channel = {&state, &post, &high_pass, &params, synthesis_buffer};
    decode_speech_channels(&channel, 1);
}

namespace {

// What one channel's frame carries from one stage of decode_speech_channels
// to the next.
struct speech_work {
    double* speech;
    lp_filter_pair filters, ap3, ap4;
    pitch_lags lags;
    int t0;
    const double* excitation;
    double h[kSubframes][kSubframe];
    double tilt[kSubframes];
    double p[kSubframe];
    double out[kFrame];
    double g1;
    bool scale;
};

// The recursions of one pass: one channel's few fit the vectors of
// synthesis_filter_lanes, which keeps them in registers throughout; several
// channels' take the gathering lane kernels.
void run_synthesis_lanes(const synthesis_lane* lanes, int lane_count, int channels) {
    if (channels == 1) {
        synthesis_filter_lanes(lanes, lane_count, kSubframe);
    } else {
        synthesis_filter_channels(lanes, lane_count, kSubframe);
    }
}

} // namespace

void decode_speech_channels(const speech_channel* channels, int count) {
    // The same stages as the synthesis of the frame, postfilter_frame and
    // postprocess_filter one after the other, each on the same data in the
    // same order, but with independent recursions sharing passes: subframe
    // 0's synthesis with both tilt impulse responses, subframe 1's synthesis
    // with the post-filter's synthesis of subframe 0, and the post-filter's
    // synthesis of subframe 1 with the gain and high-pass of subframe 0.
    // Each pass takes those recursions of every channel, one per vector
    // lane; between the passes each channel goes on alone.
    if (count > kSpeechChannels) count = kSpeechChannels;
    speech_work work[kSpeechChannels];
    synthesis_lane lanes[3 * kSpeechChannels] = {};
    gain_high_pass_lane outputs[kSpeechChannels] = {};

    for (int c = 0; c < count; ++c) {
        const speech_channel& ch = channels[c];
        speech_work& w = work[c];
        decoder_state& state = *ch.state;
        w.speech = ch.synthesis_buffer + kSynthesisHistory;
        // Comfort noise after every speech burst starts from the same seed.
        state.noise_seed = kInitialNoiseSeed;
        decode_lsp_filters(state, *ch.params, w.filters);
        postfilter_filters(w.filters, w.ap3, w.ap4);
        w.t0 = 0;
        w.excitation = decode_excitation(state, *ch.params, 0, w.t0);
        w.lags[0] = w.t0;
        double* synthesis_memory = state.synthesis_filter_memory.data();
        lanes[3 * c] = synthesis_lane{&w.filters[0], w.excitation, w.speech, synthesis_memory, synthesis_memory};
        tilt_impulse_response_lane(w.ap3[0], w.ap4[0], w.h[0], lanes[3 * c + 1]);
        tilt_impulse_response_lane(w.ap3[1], w.ap4[1], w.h[1], lanes[3 * c + 2]);
    }
    run_synthesis_lanes(lanes, 3 * count, count);

    for (int c = 0; c < count; ++c) {
        const speech_channel& ch = channels[c];
        speech_work& w = work[c];
        tilt_factors_of_responses(w.h, w.tilt);
        w.excitation = decode_excitation(*ch.state, *ch.params, 1, w.t0);
        w.lags[1] = w.t0;
        postfilter_pitch_stage(*ch.post, w.speech, w.ap3[0], w.lags[0], frame_type::speech, w.tilt[0], w.p);
        double* synthesis_memory = ch.state->synthesis_filter_memory.data();
        double* post_memory = ch.post->postfilter_synthesis_memory.data();
        lanes[2 * c] =
            synthesis_lane{&w.filters[1], w.excitation, w.speech + kSubframe, synthesis_memory, synthesis_memory};
        lanes[2 * c + 1] = synthesis_lane{&w.ap4[0], w.p, w.out, post_memory, post_memory};
    }
    run_synthesis_lanes(lanes, 2 * count, count);

    for (int c = 0; c < count; ++c) {
        const speech_channel& ch = channels[c];
        speech_work& w = work[c];
        w.g1 = 0.0;
        w.scale = gain_control_increment(*ch.post, w.speech, w.out, w.g1);
        postfilter_pitch_stage(*ch.post, w.speech + kSubframe, w.ap3[1], w.lags[1], frame_type::speech, w.tilt[1],
                               w.p);
        double* post_memory = ch.post->postfilter_synthesis_memory.data();
        lanes[c] = synthesis_lane{&w.ap4[1], w.p, w.out + kSubframe, post_memory, post_memory};
        outputs[c] = gain_high_pass_lane{w.out, &ch.post->agc_gain, w.scale, w.g1, ch.high_pass};
    }
    if (count == 1) {
        speech_work& w = work[0];
        postfilter_state& post = *channels[0].post;
        synthesis_with_gain_and_high_pass(w.ap4[1], w.p, w.out + kSubframe, post.postfilter_synthesis_memory.data(),
                                          post, w.scale, w.g1, *channels[0].high_pass, w.out);
    } else {
        synthesis_and_gain_high_pass_channels(lanes, count, outputs, count, output_gain_high_pass, kSubframe);
    }

    for (int c = 0; c < count; ++c) {
        const speech_channel& ch = channels[c];
        speech_work& w = work[c];
        w.g1 = 0.0;
        w.scale = gain_control_increment(*ch.post, w.speech + kSubframe, w.out + kSubframe, w.g1);
        outputs[c] = gain_high_pass_lane{w.out + kSubframe, &ch.post->agc_gain, w.scale, w.g1, ch.high_pass};
    }
    if (count == 1) {
        gain_control_with_high_pass(*channels[0].post, work[0].scale, work[0].g1, *channels[0].high_pass,
                                    work[0].out + kSubframe);
    } else {
        synthesis_and_gain_high_pass_channels(nullptr, 0, outputs, count, output_gain_high_pass, kSubframe);
    }

    for (int c = 0; c < count; ++c) {
        const speech_channel& ch = channels[c];
        speech_work& w = work[c];
        finish_frame(*ch.state, frame_type::speech);
        copy_vector(w.speech + kFrame - kSynthesisHistory, ch.synthesis_buffer, kSynthesisHistory);
        copy_vector(w.out, w.speech, kFrame);
    }
}

} // namespace g729
