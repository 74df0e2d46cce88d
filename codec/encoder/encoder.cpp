#include "codec/encoder/encoder.h"

#include <algorithm>

#include "codec/dsp/filters.h"
#include "codec/dsp/gain.h"
#include "codec/dsp/lsp.h"
#include "codec/dsp/lsp_codebook.h"
#include "codec/encoder/fixed_codebook.h"
#include "codec/encoder/gain_quantizer.h"
#include "codec/encoder/lp_analysis.h"
#include "codec/encoder/lsp_quantizer.h"
#include "codec/encoder/pitch.h"

namespace g729 {
namespace {

// The pre-processing high-pass filter. The numerator is twice the classic
// one, so the pass band keeps the input level rather than halving it.
constexpr double kPreprocessB0 = 0.92727435;
constexpr double kPreprocessB1 = -1.8544941;
constexpr double kPreprocessB2 = 0.92727435;
constexpr double kPreprocessA1 = 1.9059465;
constexpr double kPreprocessA2 = -0.9114024;

// Recursive states below this magnitude are cleared so that a decaying tail
// never lingers as ever smaller values.
constexpr double kFlushThreshold = 2e-5;

constexpr double kWeightingGamma = 0.75;
constexpr double kWeightingTilt = 0.7;
constexpr double kTamedPitchGain = 0.95;
constexpr double kSharpeningMax = 0.7945;
constexpr double kSharpeningMin = 0.2;
constexpr double kInitialTamingError = 1.0;

double flushed(double v) { return (v < kFlushThreshold && v > -kFlushThreshold) ? 0.0 : v; }

// An empty instruction on v that the compiler cannot move: the branch
// around it stays a branch instead of becoming a select.
inline void keep_as_branch(double& v) {
#if defined(__x86_64__)
    asm volatile("" : "+x"(v));
#elif defined(__aarch64__)
    asm volatile("" : "+w"(v));
#else
    asm volatile("" : "+m"(v));
#endif
}

} // namespace

void encoder_init(encoder_state& encoder) {
    preprocess_reset(encoder.preprocess_memory);
    encoder_reset(encoder);
}

int encode_frame(encoder_state& encoder, const int16_t* samples, uint8_t* out, int& out_length) {
    double* input = encoder.speech_buffer + kSpeechNewInput;
    for (int i = 0; i < kFrame; ++i) input[i] = double(samples[i]);
    preprocess_filter(encoder.preprocess_memory, input, kFrame);
    speech_parameters params;
    analyse_frame(encoder, params);
    pack_frame(params, out, out_length);
    return 0;
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

void preprocess_reset(pole_zero_memory& memory) { memory = pole_zero_memory{0.0, 0.0, 0.0, 0.0}; }

void preprocess_filter(pole_zero_memory& memory, double* samples, int n) {
    // The memory lives in registers for the whole block: written back through
    // the reference on every sample, the next output would wait for the store
    // to be read again on the filter's critical path. The stored outputs are
    // already flushed, so only the new output needs the test.
    double x1 = memory.x1, x2 = memory.x2, y1 = flushed(memory.y1), y2 = flushed(memory.y2);
    for (int i = 0; i < n; ++i) {
        const double x0 = samples[i];
        double y0 =
            (((y2 * kPreprocessA2 + y1 * kPreprocessA1) + x0 * kPreprocessB0) + x1 * kPreprocessB1) + x2 * kPreprocessB2;
        // A branch, not a select: on speech the flush almost never happens,
        // and a predicted branch keeps the comparison off the recursion's
        // chain of dependent operations, which a select would lengthen.
        if (__builtin_expect(y0 < kFlushThreshold && y0 > -kFlushThreshold, 0)) {
            y0 = 0.0;
            keep_as_branch(y0);
        }
        x2 = x1;
        x1 = x0;
        y2 = y1;
        y1 = y0;
        samples[i] = y0;
    }
    memory = pole_zero_memory{x1, x2, y1, y2};
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

void analyse_frame(encoder_state& state, speech_parameters& params) {
    double* speech = state.speech_buffer + kSpeechFrameStart;
    double* wsp = state.weighted_speech_buffer + kPitchMax;
    double* exc = state.excitation_buffer + kExcitationHistory;

    // Only r[0..10] feed the recursion; lags 11 and 12 would be computed for
    // nothing, and leaving them out changes no other lag.
    autocorrelation_vector r;
    windowed_autocorrelation(state.speech_buffer, kOrder, r);
    apply_lag_window(kOrder, r);
    lp_coefficients a;
    levinson_durbin(r, a);

    lsp_vector lsp_new;
    lp_to_lsp(a, state.previous_lsp, lsp_new);
    lsp_vector lsp_new_q;
    quantize_lsp(state.lsf_predictor_memory, lsp_new, lsp_new_q, params.lsp_first, params.lsp_second);

    lp_filter_pair aq;
    interpolate_lp_filters(state.previous_quantized_lsp, lsp_new_q, aq);
    lp_filter_pair ap;
    for (int s = 0; s < kSubframes; ++s) bandwidth_expand(aq[s], ap[s], kWeightingGamma);

    state.previous_lsp = lsp_new;
    state.previous_quantized_lsp = lsp_new_q;

    for (int s = 0; s < kSubframes; ++s) {
        residual_filter(aq[s], speech + kSubframe * s, exc + kSubframe * s, kSubframe);
    }

    // Weighted speech through A(z/0.75) * (1 - 0.7 z^-1), truncated to order
    // 10, applied as an all-pole filter on the residual.
    lp_filter_pair weighting;
    for (int s = 0; s < kSubframes; ++s) {
        weighting[s][0] = 1.0;
        for (int i = 1; i <= kOrder; ++i) weighting[s][i] = ap[s][i] - kWeightingTilt * ap[s][i - 1];
    }
    // The impulse responses h of both subframes' weighted synthesis filters
    // and the first subframe's target xn depend on nothing the pitch search
    // produces: they run side by side with the first half of the weighted
    // speech, four independent recursions in one pass. The second target
    // waits for the first subframe's excitation.
    double h[kSubframes][kSubframe];
    for (int s = 0; s < kSubframes; ++s) {
        h[s][0] = 1.0;
        set_zero(h[s] + 1, kSubframe - 1);
    }
    double xn[kSubframe];
    double* weighting_memory = state.weighting_filter_memory.data();
    const synthesis_lane first_half[4] = {
        {&weighting[0], exc, wsp, weighting_memory, weighting_memory},
        {&ap[0], h[0], h[0], h[0] + 1, nullptr},
        {&ap[1], h[1], h[1], h[1] + 1, nullptr},
        {&ap[0], exc, xn, state.target_filter_memory.data(), nullptr},
    };
    synthesis_filter_lanes(first_half, 4, kSubframe);
    synthesis_filter(weighting[1], exc + kSubframe, wsp + kSubframe, kSubframe, weighting_memory, true);

    const int t_op = open_loop_pitch_search(wsp, kFrame);
    int t0_min, t0_max;
    first_subframe_pitch_range(t_op, t0_min, t0_max);

    for (int s = 0; s < kSubframes; ++s) {
        const int i = kSubframe * s;
        double* p = exc + i;
        if (s > 0) synthesis_filter(ap[s], p, xn, kSubframe, state.target_filter_memory.data(), false);

        int frac;
        const int t0 = closed_loop_pitch_search(p, xn, h[s], kSubframe, t0_min, t0_max, i, frac);
        const int lag_index = encode_pitch_lag(t0, frac, t0_min, t0_max, kPitchMin, kPitchMax, i);
        subframe_parameters& coded = params.subframes[s];
        coded.pitch_index = lag_index;
        if (s == 0) params.pitch_parity = pitch_parity(lag_index);

        double y1[kSubframe];
        synthesis_filter(ap[s], p, y1, kSubframe, state.zero_memory.data(), false);

        gain_correlations correlations;
        double g_p = pitch_gain(xn, y1, correlations, kSubframe);
        const bool taming = taming_test(state.taming_errors, t0, frac);
        if (taming && g_p > kTamedPitchGain) g_p = kTamedPitchGain;

        double xn2[kSubframe];
        for (int k = 0; k < kSubframe; ++k) xn2[k] = xn[k] - y1[k] * g_p;

        double code[kSubframe];
        double y2[kSubframe];
        coded.code_positions =
            fixed_codebook_search(xn2, h[s], t0, code, y2, &coded.code_signs, state.pitch_sharpening_factor);

        code_vector_correlations(xn, y1, y2, correlations);

        double g_c;
        coded.gain_indices =
            quantize_gains(state.energy_history, code, correlations, kSubframe, taming, g_p, g_c);

        if (g_p > kSharpeningMax) {
            state.pitch_sharpening_factor = kSharpeningMax;
        } else {
            state.pitch_sharpening_factor = g_p > kSharpeningMin ? g_p : kSharpeningMin;
        }

        for (int k = 0; k < kSubframe; ++k) p[k] = g_p * p[k] + g_c * code[k];

        taming_update(state.taming_errors, t0, g_p);

        // The target filter continues from where the coded excitation left
        // it: the weighted error of the last ten samples.
        for (int j = 0; j < kOrder; ++j) {
            state.target_filter_memory[j] =
                (xn[kSubframe - kOrder + j] - g_p * y1[kSubframe - kOrder + j]) - g_c * y2[kSubframe - kOrder + j];
        }
    }

    // The histories slide down by a frame. std::copy moves the overlapping
    // ranges front to back as a block move, which the element loop (whose
    // source and destination the compiler cannot tell apart) is not.
    std::copy(state.speech_buffer + kFrame, state.speech_buffer + kSpeechBuffer, state.speech_buffer);
    std::copy(state.weighted_speech_buffer + kFrame, state.weighted_speech_buffer + kFrame + kPitchMax,
              state.weighted_speech_buffer);
    std::copy(state.excitation_buffer + kFrame, state.excitation_buffer + kFrame + kExcitationHistory,
              state.excitation_buffer);
}

} // namespace g729
