#include "codec/encoder/encoder.h"

#include <algorithm>

#include "codec/dsp/channel_lanes.h"
#include "codec/dsp/filters.h"
#include "codec/dsp/random_excitation.h"
#include "codec/dsp/gain.h"
#include "codec/dsp/lsp.h"
#include "codec/dsp/lsp_codebook.h"
#include "codec/encoder/fixed_codebook.h"
#include "codec/encoder/gain_quantizer.h"
#include "codec/encoder/lp_analysis.h"
#include "codec/encoder/lsp_quantizer.h"
#include "codec/encoder/pitch.h"
#include "codec/encoder/preprocess.h"

namespace g729 {
namespace {

constexpr double kTamedPitchGain = 0.95;
constexpr double kInitialTamingError = 1.0;

// After every speech frame sent: a decoder restarts its comfort noise, and
// so does the encoder's picture of it, should suppression be turned on.
void note_speech_frame_sent(encoder_state& encoder) {
    encoder.dtx.after_speech = true;
    encoder.dtx.noise_seed = kInitialNoiseSeed;
}

} // namespace

void encoder_init(encoder_state& encoder) {
    preprocess_reset(encoder.preprocess_memory);
    encoder_reset(encoder);
    encoder.dtx_enabled = false;
    dtx_reset(encoder.dtx);
}

void encode_frame(encoder_state& encoder, const int16_t* samples, uint8_t* out, int& out_length) {
    double* input = encoder.speech_buffer + kSpeechNewInput;
    for (int i = 0; i < kFrame; ++i) input[i] = double(samples[i]);
    preprocess_filter(encoder.preprocess_memory, input, kFrame);
    if (encoder.dtx_enabled) {
        frame_parameters params;
        switch (encode_frame_dtx(encoder, encoder.dtx, params)) {
        case dtx_frame::speech: pack_frame(params.speech, out, out_length); break;
        case dtx_frame::sid: pack_sid_frame(params.sid, out, out_length); break;
        case dtx_frame::untransmitted: out_length = 0; break;
        }
        return;
    }
    speech_parameters params;
    analyse_frame(encoder, params);
    pack_frame(params, out, out_length);
    note_speech_frame_sent(encoder);
}

void first_subframe_pitch_range(int t_op, int& t0_min, int& t0_max) {
    t0_min = t_op - 3;
    t0_max = t_op + 3;
    if (t0_min < kPitchMin) {
        t0_min = kPitchMin;
        t0_max = kPitchMin + 6;
    } else if (t0_max > kPitchMax) {
        t0_max = kPitchMax;
        t0_min = kPitchMax - 6;
    }
}

void encoder_reset(encoder_state& state) {
    set_zero(state.speech_buffer, kSpeechBuffer);
    set_zero(state.weighted_speech_buffer, kPitchMax);
    set_zero(state.excitation_buffer, kExcitationHistory);
    state.target_filter_memory.fill(0.0);
    state.weighting_filter_memory.fill(0.0);
    state.zero_memory.fill(0.0);
    state.pitch_sharpening_factor = kSharpeningMin;
    state.previous_lsp = initial_lsp_vector;
    state.previous_quantized_lsp = initial_lsp_vector;
    reset_lsf_memory(state.lsf_predictor_memory);
    state.taming_errors.fill(kInitialTamingError);
    reset_energy_history(state.energy_history);
}

void code_vector_correlations(const double* xn, const double* y1, const double* y2, gain_correlations& correlations) {
    double yy = 0.01, xy = 0.01, py = 0.01;
    for (int k = 0; k < kSubframe; ++k) {
        yy += y2[k] * y2[k];
        xy += xn[k] * y2[k];
        py += y1[k] * y2[k];
    }
    correlations[2] = yy;
    correlations[3] = -2.0 * xy;
    correlations[4] = 2.0 * py;
}

void frame_lsp(const encoder_state& state, lsp_vector& lsp_new) {
    // Only r[0..10] feed the recursion; lags 11 and 12 would be computed for
    // nothing, and leaving them out changes no other lag.
    autocorrelation_vector r;
    windowed_autocorrelation(state.speech_buffer, kOrder, r);
    apply_lag_window(kOrder, r);
    lp_coefficients a;
    levinson_durbin(r, a);
    lp_to_lsp(a, state.previous_lsp, lsp_new);
}

void analyse_frame(encoder_state& state, speech_parameters& params) {
    lsp_vector lsp_new;
    frame_lsp(state, lsp_new);
    analyse_frame(state, lsp_new, params);
}

void analyse_frame(encoder_state& state, const lsp_vector& lsp_new, speech_parameters& params) {
    encoder_state* const states[1] = {&state};
    analyse_frames(states, &lsp_new, &params, 1);
}

namespace {

// What one channel's frame carries from one stage of analyse_frames to the
// next.
struct frame_work {
    double* speech;
    double* wsp;
    double* exc;
    lp_filter_pair aq, ap, weighting;
    double h[kSubframes][kSubframe];
    double xn[kSubframe];
    double y1[kSubframe];
    int t0_min, t0_max;
    int t0, frac;
};

// One pass of recursions: one channel's few in the kernels that keep them in
// registers, several channels' in the gathering lane kernels.
void run_lanes(const synthesis_lane* lanes, int lane_count, int channels) {
    if (channels == 1) {
        synthesis_filter_lanes(lanes, lane_count, kSubframe);
    } else {
        synthesis_filter_channels(lanes, lane_count, kSubframe);
    }
}

// Everything of a frame before its recursions, once frame_lsp has given
// lsp_new: the LSPs' quantization, the subframes' filters and the residual.
// Sets the pass that follows: the first half of the weighted speech, both
// impulse responses and the first target, four lanes from lanes.
void analyse_spectrum(encoder_state& state, const lsp_vector& lsp_new, speech_parameters& params, frame_work& w,
                      synthesis_lane* lanes) {
    w.speech = state.speech_buffer + kSpeechFrameStart;
    w.wsp = state.weighted_speech_buffer + kPitchMax;
    w.exc = state.excitation_buffer + kExcitationHistory;

    lsp_vector lsp_new_q;
    quantize_lsp(state.lsf_predictor_memory, lsp_new, lsp_new_q, params.lsp_first, params.lsp_second);

    interpolate_lp_filters(state.previous_quantized_lsp, lsp_new_q, w.aq);
    for (int s = 0; s < kSubframes; ++s) bandwidth_expand(w.aq[s], w.ap[s], kWeightingGamma);

    state.previous_lsp = lsp_new;
    state.previous_quantized_lsp = lsp_new_q;

    for (int s = 0; s < kSubframes; ++s) {
        residual_filter(w.aq[s], w.speech + kSubframe * s, w.exc + kSubframe * s, kSubframe);
    }

    // Weighted speech through A(z/0.75) * (1 - 0.7 z^-1), truncated to order
    // 10, applied as an all-pole filter on the residual.
    for (int s = 0; s < kSubframes; ++s) {
        w.weighting[s][0] = 1.0;
        for (int i = 1; i <= kOrder; ++i) w.weighting[s][i] = w.ap[s][i] - kWeightingTilt * w.ap[s][i - 1];
    }
    // The impulse responses h of both subframes' weighted synthesis filters
    // and the first subframe's target xn depend on nothing the pitch search
    // produces: they run side by side with the first half of the weighted
    // speech, four independent recursions in one pass. The second target
    // waits for the first subframe's excitation.
    for (int s = 0; s < kSubframes; ++s) {
        w.h[s][0] = 1.0;
        set_zero(w.h[s] + 1, kSubframe - 1);
    }
    double* weighting_memory = state.weighting_filter_memory.data();
    lanes[0] = {&w.weighting[0], w.exc, w.wsp, weighting_memory, weighting_memory};
    lanes[1] = {&w.ap[0], w.h[0], w.h[0], w.h[0] + 1, nullptr};
    lanes[2] = {&w.ap[1], w.h[1], w.h[1], w.h[1] + 1, nullptr};
    lanes[3] = {&w.ap[0], w.exc, w.xn, state.target_filter_memory.data(), nullptr};
}

// The closed-loop pitch search of subframe s, whose target is in w.xn; sets
// the lane that filters the chosen adaptive vector into w.y1.
void search_pitch(encoder_state& state, speech_parameters& params, frame_work& w, int s, synthesis_lane& lane) {
    const int i = kSubframe * s;
    double* p = w.exc + i;
    w.t0 = closed_loop_pitch_search(p, w.xn, w.h[s], kSubframe, w.t0_min, w.t0_max, i, w.frac);
    const int lag_index = encode_pitch_lag(w.t0, w.frac, w.t0_min, w.t0_max, kPitchMin, kPitchMax, i);
    subframe_parameters& coded = params.subframes[s];
    coded.pitch_index = lag_index;
    if (s == 0) params.pitch_parity = pitch_parity(lag_index);
    lane = {&w.ap[s], p, w.y1, state.zero_memory.data(), nullptr};
}

// The filtered adaptive vectors of subframe s into each channel's w.y1, from
// the lanes search_pitch set. One channel alone leaves its recursion many
// idle cycles: the fixed-codebook search's correlations, which need only
// the sharpened impulse response, run side by side with it into c.
// Returns c then, or null when each channel's search makes its own.
const pulse_correlations* filter_adaptive_vectors(encoder_state* const* states, frame_work* work,
                                                  const synthesis_lane* lanes, int count, int s, pulse_correlations& c) {
    if (count > 1) {
        run_lanes(lanes, count, count);
        return nullptr;
    }
    frame_work& w = work[0];
    sharpen_impulse_response(w.h[s], w.t0, states[0]->pitch_sharpening_factor);
    synthesis_with_pulse_correlations(lanes[0], w.h[s], c);
    return &c;
}

// The rest of subframe s once w.y1 holds the filtered adaptive vector: the
// gains, the fixed codebook, the excitation and the target filter's memory.
// correlations, when given, are those of the already sharpened w.h[s].
void code_subframe(encoder_state& state, speech_parameters& params, frame_work& w, int s,
                   const pulse_correlations* correlations) {
    double* p = w.exc + kSubframe * s;
    const double* xn = w.xn;
    const double* y1 = w.y1;
    subframe_parameters& coded = params.subframes[s];

    gain_correlations gains;
    double g_p = pitch_gain(xn, y1, gains, kSubframe);
    const bool taming = taming_test(state.taming_errors, w.t0, w.frac);
    if (taming && g_p > kTamedPitchGain) g_p = kTamedPitchGain;

    double xn2[kSubframe];
    for (int k = 0; k < kSubframe; ++k) xn2[k] = xn[k] - y1[k] * g_p;

    double code[kSubframe];
    double y2[kSubframe];
    const double beta = state.pitch_sharpening_factor;
    coded.code_positions =
        correlations != nullptr
            ? fixed_codebook_search(xn2, w.h[s], *correlations, w.t0, code, y2, &coded.code_signs, beta)
            : fixed_codebook_search(xn2, w.h[s], w.t0, code, y2, &coded.code_signs, beta);

    code_vector_correlations(xn, y1, y2, gains);

    double g_c;
    coded.gain_indices = quantize_gains(state.energy_history, code, gains, kSubframe, taming, g_p, g_c);

    if (g_p > kSharpeningMax) {
        state.pitch_sharpening_factor = kSharpeningMax;
    } else {
        state.pitch_sharpening_factor = g_p > kSharpeningMin ? g_p : kSharpeningMin;
    }

    for (int k = 0; k < kSubframe; ++k) p[k] = g_p * p[k] + g_c * code[k];

    taming_update(state.taming_errors, w.t0, g_p);

    // The target filter continues from where the coded excitation left
    // it: the weighted error of the last ten samples.
    for (int j = 0; j < kOrder; ++j) {
        state.target_filter_memory[j] =
            (xn[kSubframe - kOrder + j] - g_p * y1[kSubframe - kOrder + j]) - g_c * y2[kSubframe - kOrder + j];
    }
}

} // namespace

void analyse_frames(encoder_state* const* states, const lsp_vector* lsp_new, speech_parameters* params, int count) {
    // The stages of one frame in turn, each for every channel, and between
    // them the passes of recursions that wait for nothing else: every
    // channel's recursions of a pass side by side in vector lanes.
    if (count > kEncoderChannels) count = kEncoderChannels;
    frame_work work[kEncoderChannels];
    synthesis_lane lanes[4 * kEncoderChannels] = {};

    for (int c = 0; c < count; ++c) analyse_spectrum(*states[c], lsp_new[c], params[c], work[c], lanes + 4 * c);
    run_lanes(lanes, 4 * count, count);

    // The second half of the weighted speech.
    for (int c = 0; c < count; ++c) {
        frame_work& w = work[c];
        double* weighting_memory = states[c]->weighting_filter_memory.data();
        lanes[c] = {&w.weighting[1], w.exc + kSubframe, w.wsp + kSubframe, weighting_memory, weighting_memory};
    }
    run_lanes(lanes, count, count);

    for (int c = 0; c < count; ++c) {
        frame_work& w = work[c];
        const int t_op = open_loop_pitch_search(w.wsp, kFrame);
        first_subframe_pitch_range(t_op, w.t0_min, w.t0_max);
        search_pitch(*states[c], params[c], w, 0, lanes[c]);
    }
    pulse_correlations pulses;
    const pulse_correlations* shared = filter_adaptive_vectors(states, work, lanes, count, 0, pulses);

    for (int c = 0; c < count; ++c) {
        frame_work& w = work[c];
        code_subframe(*states[c], params[c], w, 0, shared);
        // The second target, from the first subframe's coded excitation.
        lanes[c] = {&w.ap[1], w.exc + kSubframe, w.xn, states[c]->target_filter_memory.data(), nullptr};
    }
    run_lanes(lanes, count, count);

    for (int c = 0; c < count; ++c) search_pitch(*states[c], params[c], work[c], 1, lanes[c]);
    shared = filter_adaptive_vectors(states, work, lanes, count, 1, pulses);

    for (int c = 0; c < count; ++c) {
        encoder_state& state = *states[c];
        code_subframe(state, params[c], work[c], 1, shared);
        shift_encoder_buffers(state);
    }
}

void encode_frames(encoder_state* const* encoders, const int16_t* const* samples, uint8_t* const* out, int* lengths,
                   int count) {
    // Groups of distinct encoders, in array order: an encoder named twice
    // starts a new group, so that it codes its frames one after the other.
    // An encoder with silence suppression on codes its frame alone.
    int start = 0;
    while (start < count) {
        if (encoders[start]->dtx_enabled) {
            encode_frame(*encoders[start], samples[start], out[start], lengths[start]);
            ++start;
            continue;
        }
        int end = start + 1;
        while (end < count && end - start < kEncoderChannels && !encoders[end]->dtx_enabled) {
            bool repeated = false;
            for (int i = start; i < end; ++i) repeated = repeated || encoders[i] == encoders[end];
            if (repeated) break;
            ++end;
        }
        const int n = end - start;
        pole_zero_lane lanes[kEncoderChannels];
        for (int c = 0; c < n; ++c) {
            encoder_state& state = *encoders[start + c];
            double* input = state.speech_buffer + kSpeechNewInput;
            for (int i = 0; i < kFrame; ++i) input[i] = double(samples[start + c][i]);
            lanes[c] = {input, &state.preprocess_memory};
        }
        if (n == 1) {
            preprocess_filter(encoders[start]->preprocess_memory, lanes[0].samples, kFrame);
        } else {
            preprocess_encoders(lanes, n, kFrame);
        }
        lsp_vector lsp_new[kEncoderChannels];
        for (int c = 0; c < n; ++c) frame_lsp(*encoders[start + c], lsp_new[c]);
        speech_parameters params[kEncoderChannels];
        analyse_frames(encoders + start, lsp_new, params, n);
        for (int c = 0; c < n; ++c) {
            pack_frame(params[c], out[start + c], lengths[start + c]);
            note_speech_frame_sent(*encoders[start + c]);
        }
        start = end;
    }
}


void shift_encoder_buffers(encoder_state& state) {
    // std::copy moves the overlapping ranges front to back as a block move,
    // which the element loop (whose source and destination the compiler
    // cannot tell apart) is not.
    std::copy(state.speech_buffer + kFrame, state.speech_buffer + kSpeechBuffer, state.speech_buffer);
    std::copy(state.weighted_speech_buffer + kFrame, state.weighted_speech_buffer + kFrame + kPitchMax,
              state.weighted_speech_buffer);
    std::copy(state.excitation_buffer + kFrame, state.excitation_buffer + kFrame + kExcitationHistory,
              state.excitation_buffer);
}

} // namespace g729
