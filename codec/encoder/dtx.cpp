#include "codec/encoder/dtx.h"

#include <algorithm>
#include <cmath>

#include "codec/dsp/filters.h"
#include "codec/dsp/lsp.h"
#include "codec/dsp/lsp_codebook.h"
#include "codec/dsp/random_excitation.h"
#include "codec/dsp/sid_lsf.h"
#include "codec/encoder/encoder.h"
#include "codec/encoder/preprocess.h"

namespace g729 {
namespace {

// The noise statistics follow the frames taken as noise with this weight
// (about the last eight frames count).
constexpr double kNoiseStatisticsStep = 0.125;
// A new SID frame goes out when the noise, seen through the filter the
// decoder uses now, leaves this much more residual than through its own
// filter (the spectrum changed), or when its level moved this far from the
// level sent; never sooner than this many frames after the last one, so
// that the statistics settle.
constexpr double kSpectralChange = 1.5;
constexpr double kLevelChangeDb = 1.5;
constexpr int kMinimumSidInterval = 3;
// The hangover's coded level is taken within these bounds of the measured
// one (power ratios): a frame or two of hangover must not silence or blare
// the comfort noise.
constexpr double kLeastCodedShare = 0.1;
constexpr double kMostCodedShare = 2.0;
// The first SID frame after speech takes the level of the last few frames
// of the hangover (weight of the newest), the level the listener has just
// heard; later ones move to the background's.
constexpr double kRecentStep = 0.25;

double mean_square(const double* x, int n) {
    double s = 0.0;
    for (int i = 0; i < n; ++i) s += x[i] * x[i];
    return s / double(n);
}

// A running mean that starts at its first value.
void follow(double& mean, double value, bool known, double step = kNoiseStatisticsStep) {
    mean = known ? mean + step * (value - mean) : value;
}

// The level the comfort noise is to have: the noise as heard, as loud as
// the speech frames played it.
double comfort_noise_level(const dtx_state& dtx) {
    if (!dtx.coded_background_known || !(dtx.heard_background > 0.0)) return dtx.noise_level;
    double share = dtx.coded_background / dtx.heard_background;
    share = share < kLeastCodedShare ? kLeastCodedShare : share > kMostCodedShare ? kMostCodedShare : share;
    return share * dtx.noise_level;
}

// What the decoder plays for a frame (before its post-filter), through its
// output high-pass: the mean square.
double played_level(filter_memory& synthesis, pole_zero_memory& high_pass, const lp_filter_pair& aq,
                    const double* exc) {
    double out[kFrame];
    for (int s = 0; s < kSubframes; ++s)
        synthesis_filter(aq[s], exc + kSubframe * s, out + kSubframe * s, kSubframe, synthesis.data(), true);
    preprocess_filter(high_pass, out, kFrame);
    return mean_square(out, kFrame);
}

double played_level(dtx_state& dtx, const lp_filter_pair& aq, const double* exc) {
    return played_level(dtx.synthesis_memory, dtx.synthesis_high_pass, aq, exc);
}

// The comfort noise's first frames draw an excitation that is not white (an
// adaptive part and pulses), so a sharply resonant noise filter (a rumble)
// plays it louder or softer than white noise of the same gain. The encoder
// knows the very draws the decoder will make: it plays them for the energy
// steps next to the one chosen and keeps the step whose frames come nearest
// to the level wanted.
constexpr int kCheckedFrames = 4;

double comfort_noise_played(const encoder_state& state, const dtx_state& dtx, double sid_gain) {
    double exc[kExcitationHistory + kCheckedFrames * kFrame];
    std::copy(state.excitation_buffer, state.excitation_buffer + kExcitationHistory, exc);
    filter_memory synthesis = dtx.synthesis_memory;
    pole_zero_memory high_pass = dtx.synthesis_high_pass;
    lsp_vector previous = state.previous_quantized_lsp;
    int16_t seed = dtx.noise_seed;
    double gain = dtx.current_noise_gain, sum = 0.0;
    for (int f = 0; f < kCheckedFrames; ++f) {
        gain = dtx.after_speech && f == 0 ? sid_gain : next_noise_gain(gain, sid_gain);
        double* frame = exc + kExcitationHistory + kFrame * f;
        random_excitation(frame, seed, gain);
        lp_filter_pair aq;
        interpolate_lp_filters(previous, dtx.sid_lsp, aq);
        previous = dtx.sid_lsp;
        sum += played_level(synthesis, high_pass, aq, frame);
    }
    return sum / kCheckedFrames;
}

int closest_energy_index(const encoder_state& state, const dtx_state& dtx, int first_guess, double level) {
    int best = first_guess;
    double best_distance = 1e9;
    for (int index = first_guess - 1; index <= first_guess + 1; ++index) {
        if (index < 0 || index >= kSidGainLevels) continue;
        const double played = comfort_noise_played(state, dtx, sid_gain_table[index]);
        const double distance = std::fabs(std::log10((played + 1.0) / (level + 1.0)));
        if (distance < best_distance) {
            best_distance = distance;
            best = index;
        }
    }
    return best;
}

void update_noise_statistics(dtx_state& dtx, const noise_autocorrelation& r) {
    if (!dtx.noise_statistics_known) {
        dtx.noise_statistics = r;
        dtx.noise_statistics_known = true;
        return;
    }
    for (int k = 0; k <= kOrder; ++k) dtx.noise_statistics[k] += kNoiseStatisticsStep * (r[k] - dtx.noise_statistics[k]);
}

bool noise_changed(const dtx_state& dtx) {
    if (dtx.frames_since_sid < kMinimumSidInterval) return false;
    lp_coefficients own, sent;
    noise_filter(dtx.noise_statistics, own);
    lsp_to_lp(dtx.sid_lsp, sent);
    const double own_energy = residual_energy(own, dtx.noise_statistics);
    const double sent_energy = residual_energy(sent, dtx.noise_statistics);
    // Levels compared through the same white-noise model: the step sent was
    // chosen by playing the draws, the model only tells a change.
    const double gain = excitation_gain(dtx.sid_power_gain, comfort_noise_level(dtx));
    const double sent_gain = excitation_gain(dtx.sid_power_gain, dtx.sid_level);
    // Within the lowest level a change is no change: digital silence fading
    // out, or an offset the high-passes remove, would otherwise send a SID
    // frame every few frames.
    if (quantize_sid_gain(gain) == 0 && quantize_sid_gain(sent_gain) == 0) return false;
    if (sent_energy > kSpectralChange * own_energy) return true;
    if (quantize_sid_gain(gain) == quantize_sid_gain(sent_gain)) return false;
    return std::fabs(20.0 * std::log10((gain + 1e-9) / (sent_gain + 1e-9))) > kLevelChangeDb;
}

// Quantizes the noise into params.sid and moves the LSF predictor memory
// and the SID LSPs exactly as a decoder receiving the frame does.
void describe_noise(encoder_state& state, dtx_state& dtx, sid_parameters& sid) {
    lp_coefficients a;
    noise_filter(dtx.noise_statistics, a);
    lsp_vector lsp;
    lp_to_lsp(a, dtx.sid_lsp, lsp);
    lsf_vector target;
    lsp_to_lsf(lsp, target);
    quantize_sid_lsf(state.lsf_predictor_memory, target, sid);
    decode_sid_lsf(sid.predictor_switch, sid.lsf_first_stage, sid.lsf_second_stage, state.lsf_predictor_memory,
                   dtx.sid_lsp);
    lp_coefficients quantized;
    lsp_to_lp(dtx.sid_lsp, quantized);
    const double level = dtx.after_speech && dtx.coded_background_known ? dtx.recent_background : comfort_noise_level(dtx);
    dtx.sid_power_gain = noise_power_gain(quantized);
    sid.energy_index =
        closest_energy_index(state, dtx, quantize_sid_gain(excitation_gain(dtx.sid_power_gain, level)), level);
    dtx.sid_level = level;
    dtx.sid_gain = sid_gain_table[sid.energy_index];
}

// A frame the decoder fills with comfort noise: the encoder makes the same
// excitation and takes the same filters, and keeps its weighting and target
// memories on the real input, so the next speech frame codes from where the
// decoder is.
void follow_comfort_noise(encoder_state& state, dtx_state& dtx) {
    double* speech = state.speech_buffer + kSpeechFrameStart;
    double* wsp = state.weighted_speech_buffer + kPitchMax;
    double* exc = state.excitation_buffer + kExcitationHistory;
    random_excitation(exc, dtx.noise_seed, dtx.current_noise_gain);
    lp_filter_pair aq;
    interpolate_lp_filters(state.previous_quantized_lsp, dtx.sid_lsp, aq);
    state.previous_quantized_lsp = dtx.sid_lsp;
    played_level(dtx, aq, exc);
    for (int s = 0; s < kSubframes; ++s) {
        const int i = kSubframe * s;
        lp_coefficients ap;
        bandwidth_expand(aq[s], ap, kWeightingGamma);
        lp_coefficients weighting;
        weighting[0] = 1.0;
        for (int k = 1; k <= kOrder; ++k) weighting[k] = ap[k] - kWeightingTilt * ap[k - 1];
        double residual[kSubframe];
        residual_filter(aq[s], speech + i, residual, kSubframe);
        synthesis_filter(weighting, residual, wsp + i, kSubframe, state.weighting_filter_memory.data(), true);
        // The weighted error between the input and what the decoder plays.
        double error[kSubframe], weighted_error[kSubframe];
        for (int k = 0; k < kSubframe; ++k) error[k] = residual[k] - exc[i + k];
        synthesis_filter(ap, error, weighted_error, kSubframe, state.target_filter_memory.data(), true);
    }
    state.pitch_sharpening_factor = kSharpeningMin;
    shift_encoder_buffers(state);
}

} // namespace

void dtx_restart_detection(dtx_state& dtx) {
    vad_reset(dtx.vad);
    dtx.noise_statistics.fill(0.0);
    dtx.noise_statistics_known = false;
    dtx.noise_level = 0.0;
    dtx.coded_background = 0.0;
    dtx.heard_background = 0.0;
    dtx.coded_background_known = false;
}

void dtx_reset(dtx_state& dtx) {
    dtx_restart_detection(dtx);
    dtx.listener_high_pass = pole_zero_memory{0.0, 0.0, 0.0, 0.0};
    dtx.synthesis_memory.fill(0.0);
    dtx.synthesis_high_pass = pole_zero_memory{0.0, 0.0, 0.0, 0.0};
    dtx.after_speech = true;
    dtx.current_noise_gain = 0.0;
    dtx.sid_gain = sid_gain_table[0];
    dtx.sid_level = 0.0;
    dtx.sid_power_gain = 1.0;
    lsf_to_lsp(initial_lsf_vector, dtx.sid_lsp);
    dtx.noise_seed = kInitialNoiseSeed;
    dtx.frames_since_sid = 0;
}

dtx_frame encode_frame_dtx(encoder_state& state, dtx_state& dtx, frame_parameters& params) {
    // The speech coding's own LP analysis, done once for both.
    lsp_vector lsp_new;
    frame_lsp(state, lsp_new);
    vad_features features;
    lsp_to_lsf(lsp_new, features.lsf);
    vad_frame_features(state.speech_buffer + kSpeechFrameStart, features.lsf, features);

    double heard[kFrame];
    std::copy(state.speech_buffer + kSpeechFrameStart, state.speech_buffer + kSpeechFrameStart + kFrame, heard);
    preprocess_filter(dtx.listener_high_pass, heard, kFrame);
    const double heard_level = mean_square(heard, kFrame);

    // The frames held as speech after a spurt are mostly the quiet ends of
    // words: the noise is learnt from the others, once it is known at all.
    const bool held = dtx.vad.hangover > 0;
    bool raw_speech = false;
    const bool speech = vad_decide(dtx.vad, features, raw_speech);
    if (!raw_speech && (!held || !dtx.noise_statistics_known)) {
        noise_autocorrelation frame;
        frame_autocorrelation(state.speech_buffer + kSpeechFrameStart, frame);
        follow(dtx.noise_level, heard_level, dtx.noise_statistics_known);
        update_noise_statistics(dtx, frame);
    }

    if (speech) {
        params.type = frame_type::speech;
        const lsp_vector previous_quantized = state.previous_quantized_lsp;
        analyse_frame(state, lsp_new, params.speech);
        // The frame's excitation, now one frame back in the history.
        lp_filter_pair aq;
        interpolate_lp_filters(previous_quantized, state.previous_quantized_lsp, aq);
        const double played = played_level(dtx, aq, state.excitation_buffer + kExcitationHistory - kFrame);
        if (!raw_speech) {
            follow(dtx.coded_background, played, dtx.coded_background_known);
            follow(dtx.recent_background, played, dtx.coded_background_known, kRecentStep);
            follow(dtx.heard_background, heard_level, dtx.coded_background_known);
            dtx.coded_background_known = true;
        }
        dtx.after_speech = true;
        dtx.noise_seed = kInitialNoiseSeed;
        return dtx_frame::speech;
    }

    dtx_frame sent = dtx_frame::untransmitted;
    if (dtx.after_speech || noise_changed(dtx)) {
        params.type = frame_type::sid;
        describe_noise(state, dtx, params.sid);
        sent = dtx_frame::sid;
    }
    if (dtx.after_speech) {
        dtx.current_noise_gain = dtx.sid_gain;
    } else {
        dtx.current_noise_gain = next_noise_gain(dtx.current_noise_gain, dtx.sid_gain);
    }
    dtx.frames_since_sid = sent == dtx_frame::sid ? 1 : dtx.frames_since_sid + 1;
    dtx.after_speech = false;
    state.previous_lsp = lsp_new;
    follow_comfort_noise(state, dtx);
    return sent;
}

} // namespace g729
