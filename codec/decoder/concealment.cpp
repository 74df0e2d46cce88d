#include "codec/decoder/concealment.h"

#include <cmath>
#include <cstdint>

#include "codec/decoder/output.h"
#include "codec/dsp/filters.h"
#include "codec/dsp/gain.h"
#include "codec/dsp/interpolation.h"
#include "codec/dsp/lsp.h"
#include "codec/dsp/lsp_codebook.h"

namespace g729 {

namespace {

// The noise has a generator of its own, so that concealment leaves the
// comfort-noise sequence alone.
constexpr int16_t kInitialConcealmentSeed = 21845;

// A lost speech frame continues the excitation of the last good frame at
// its level: the periodic part repeats the last pitch period (the lag one
// sample longer per lost frame), scaled each subframe by the fourth root of
// the last decoded pitch gain (0.9 loses 2.3 dB in 20 ms; the gain itself
// would lose 3.7 dB in every frame, and the harmonics the listener still
// expects with them), and noise fills in the energy the periodic part gives
// up, so voiced speech turns gradually noise-like and unvoiced speech goes
// on as noise. That excitation is also what the frames after the loss
// predict from, so it keeps the level the sender's decoder most likely had;
// the fade of long losses is in two parts:
// - the excitation memory (and with it the gain predictor's history) stays
//   at full level through the first 80 ms, so that the speech after a burst
//   of losses is heard at its level, and then falls as fast as what is
//   heard, so that the speech after a long loss does not start from a loud
//   stale past;
constexpr int kFullMemoryFrames = 8;
// - what is heard keeps its level for four frames (two packets of 20 ms)
//   and then falls 4.5 dB a frame, so that twenty lost frames end more than
//   60 dB down.
constexpr int kFullLevelFrames = 4;
constexpr double kHeardFadePerFrame = 0.5956621435290105; // -4.5 dB
// A decoded pitch gain above 1 would make the periodic part grow.
constexpr double kVoicingMax = 1.0;
// Repeating the last period of an onset would extrapolate its growth: no
// concealed subframe's excitation is more than 3 dB louder than the mean of
// the last good frame's, and no concealed frame is heard louder than the
// last good frame.
constexpr double kGrowthLimit = 2.0;
constexpr double kHeardGrowthLimit = 1.0;
// The gain predictor weighs its four entries 0.68 + 0.58 + 0.34 + 0.19:
// entries lowered by x / 1.79 dB lower the predicted gain by x dB.
constexpr double kEnergyPredictorSum = 1.79;
// The first frame after a loss moves the LSF predictor's rows of the lost
// frames halfway towards its own received vector: the spectrum most likely
// went that way during the loss, and a stale row, weighed by the predictor
// for four frames, pulls the envelope (and the level) of the frames after
// the loss away from what the sender coded.
constexpr int kPredictorRows = 4;
constexpr double kLsfRecovery = 0.5;

// The past excitation the first frame after a loss copies its pitch
// contribution from is the sender's guessed better than by the
// concealment's own: voiced speech most likely went on periodically from
// the last good frame's period to the frame's received one, so the
// excitation of the lost frames is rebuilt as the last good frame's
// continued along a pitch lag moving linearly from the one to the other, at
// full level (the concealment's memory keeps that level through the same
// frames). The concealment's own excitation turns to noise and drifts in
// period, and what the frames after the loss copy from it is further from
// the sender's. After a longer loss the pitch contour says nothing.
constexpr int kRebuiltFramesLimit = kFullMemoryFrames;
// The gain predictor's entries (20 log10 of the correction factors) of the
// lost subframes, which the frame's fixed-codebook gains are predicted
// from, are the sender's guessed from what the decoder has: its own entries
// (those before the loss, held through it), and the two correction factors
// the frame itself carries, which follow the same level trend. The weights
// are the least-squares fit over the losses of the bundled recordings
// (stable when each recording is left out of the fit in turn); they cut the
// error of the entries from 5.8 to 4.7 dB RMS after one lost packet, and
// from 7.4 to 4.6 dB after longer losses, where the entries held say less.
struct energy_guess {
    double own, first, second, offset;
};
constexpr energy_guess kEnergyAfterPacket = {0.37, 0.32, 0.22, -0.24};
constexpr energy_guess kEnergyAfterLongerLoss = {0.14, 0.29, 0.45, 0.0};
constexpr int kPacketFrames = 2;

// 20 log10 of the correction factor a gain index carries.
double received_energy(int index) {
    const double correction = gain_codebook_ga[ga_index_to_row[(index >> 4) & 7]].correction +
                              gain_codebook_gb[gb_index_to_row[index & 15]].correction;
    return 20.0 * std::log10(correction);
}

// The count only steers the fade, which is complete long before this.
constexpr int kLostFramesLimit = 1000;

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

// Amplitude of the excitation memory after n lost frames, relative to the
// last good frame.
double memory_level(int n) {
    double level = 1.0;
    for (int k = kFullMemoryFrames; k < n; ++k) level *= kHeardFadePerFrame;
    return level;
}

// Amplitude heard after n lost frames, relative to the last good frame.
double heard_level(int n) {
    double level = 1.0;
    for (int k = kFullLevelFrames; k < n; ++k) level *= kHeardFadePerFrame;
    return level;
}

// Position of sample i in the ramp of the heard gain from the last frame's
// to this one's: the fade runs over the whole frame, and a cap on a louder
// frame over its first 2.5 ms, so that it holds nearly all of it down
// without a step.
constexpr int kCapRamp = 20;

double ramp(int i, int length) { return i < length ? double(i + 1) / length : 1.0; }

// Coefficients of the frame's energy as a function of the heard gain h at
// the end of the ramp: a h^2 + b h + c.
void heard_energy(const double* speech, double g0, int length, double& a, double& b, double& c) {
    a = b = c = 0.0;
    for (int i = 0; i < kFrame; ++i) {
        const double t = ramp(i, length);
        const double e = speech[i] * speech[i];
        a += t * t * e;
        b += 2.0 * g0 * (1.0 - t) * t * e;
        c += g0 * g0 * (1.0 - t) * (1.0 - t) * e;
    }
}

double mean_square(const double* x, int n) {
    double e = 0.0;
    for (int i = 0; i < n; ++i) e += x[i] * x[i];
    return e / n;
}

// Noise of the given mean square per sample.
void noise(int16_t& seed, double mean_square_level, double* out) {
    double energy = 0.0;
    for (int i = 0; i < kSubframe; ++i) {
        out[i] = double(random_word(seed));
        energy += out[i] * out[i];
    }
    const double scale = energy > 0.0 ? std::sqrt(mean_square_level * kSubframe / energy) : 0.0;
    for (int i = 0; i < kSubframe; ++i) out[i] *= scale;
}

void conceal_speech(decoder_state& state, double* speech, lp_filter_pair& filters, pitch_lags& lags) {
    if (state.lost_frames < kLostFramesLimit) ++state.lost_frames;
    const int n = state.lost_frames;
    if (n == 1) {
        // What the whole loss continues from: the level of the last good
        // frame's excitation and the gain predictor's history before it.
        state.excitation_level = mean_square(state.excitation_buffer + kExcitationHistory - kFrame, kFrame);
        double sum = 0.0;
        for (int k = 0; k < kPredictorOrder; ++k) sum += state.energy_history[k];
        state.energy_before_loss = sum * (1.0 / kPredictorOrder);
        state.output_level = mean_square(speech, kFrame);
        state.heard_gain = 1.0;
        copy_vector(state.excitation_buffer, state.excitation_before_loss, kExcitationHistory);
        state.lag_before_loss = state.previous_integer_lag;
    }
    repeat_lsf(state, filters);

    double voicing = state.last_pitch_gain;
    if (voicing > kVoicingMax) voicing = kVoicingMax;
    if (voicing < 0.0) voicing = 0.0;
    const double periodic = std::sqrt(std::sqrt(voicing)); // per subframe
    state.pitch_sharpening_factor = voicing > kSharpeningMax   ? kSharpeningMax
                                    : voicing < kSharpeningMin ? kSharpeningMin
                                                               : voicing;
    const double level = memory_level(n);
    // The periodic part follows the memory's fade in two equal steps.
    const double step = std::sqrt(level / memory_level(n - 1));
    const double target = level * level * state.excitation_level;
    const double history_entry = state.energy_before_loss + 20.0 * std::log10(level) / kEnergyPredictorSum;

    const int t0 = state.previous_integer_lag;
    for (int s = 0; s < kSubframes; ++s) {
        double* excitation = state.excitation_buffer + kExcitationHistory + s * kSubframe;
        lags[s] = t0;
        interpolate_excitation(excitation, t0, 0, kSubframe);
        double fill[kSubframe];
        noise(state.concealment_seed, (1.0 - periodic * periodic) * target, fill);
        for (int i = 0; i < kSubframe; ++i) excitation[i] = periodic * step * excitation[i] + fill[i];
        const double loudness = mean_square(excitation, kSubframe);
        if (loudness > kGrowthLimit * target) {
            const double scale = std::sqrt(kGrowthLimit * target / loudness);
            for (int i = 0; i < kSubframe; ++i) excitation[i] *= scale;
        }
        // Through the full-level frames the history stays as the last good
        // frame left it, the best guess of what the sender's holds.
        if (n > kFullMemoryFrames) push_concealed_energy(state.energy_history, history_entry);
        synthesis_filter(filters[s], excitation, speech + s * kSubframe, kSubframe,
                         state.synthesis_filter_memory.data(), true);
    }
    state.previous_integer_lag = t0 < kPitchMax ? t0 + 1 : kPitchMax;

    // What is heard fades on top of the memory, in a ramp from where the
    // last frame ended; where that would be louder than the last good frame,
    // the ramp is short and its end point lowered until the frame is not.
    const double g0 = state.heard_gain;
    double heard = heard_level(n) / level;
    int length = kFrame;
    double a, b, c;
    heard_energy(speech, g0, length, a, b, c);
    const double limit = kHeardGrowthLimit * state.output_level * kFrame;
    if ((a * heard + b) * heard + c > limit) {
        length = kCapRamp;
        heard_energy(speech, g0, length, a, b, c);
        // The root of a h^2 + b h + (c - limit) = 0 above 0, or 0 if even
        // that cannot keep the frame down; never above the fade.
        const double d = b * b - 4.0 * a * (c - limit);
        const double root = c >= limit || a <= 0.0 ? 0.0 : (std::sqrt(d) - b) / (2.0 * a);
        if (root < heard) heard = root;
    }
    for (int i = 0; i < kFrame; ++i) speech[i] *= g0 + (heard - g0) * ramp(i, length);
    state.heard_gain = heard;
}

} // namespace

void concealment_reset(decoder_state& state) {
    state.last_pitch_gain = 0.0;
    state.excitation_level = 0.0;
    state.energy_before_loss = kInitialQuantizedEnergy;
    state.heard_gain = 1.0;
    state.output_level = 0.0;
    state.last_lsp_predictor = 0;
    state.lost_frames = 0;
    state.concealment_seed = kInitialConcealmentSeed;
    set_zero(state.excitation_before_loss, kExcitationHistory);
    state.lag_before_loss = 0;
}

namespace {

void recover_lsf_memory(decoder_state& state, int lsp_first, int lsp_second) {
    lsf_memory probe = state.lsf_predictor_memory;
    lsp_vector q;
    decode_lsp(probe, lsp_first, lsp_second, q);
    const lsf_vector& received = probe[0];
    const int rows = state.lost_frames < kPredictorRows ? state.lost_frames : kPredictorRows;
    for (int k = 0; k < rows; ++k) {
        for (int i = 0; i < kOrder; ++i) {
            state.lsf_predictor_memory[k][i] += kLsfRecovery * (received[i] - state.lsf_predictor_memory[k][i]);
        }
    }
}

// The past excitation continued from the last good frame's along a lag
// moving from lag_before_loss to received_lag over the lost frames; linear
// interpolation between samples takes the fractional delays.
void rebuild_excitation(decoder_state& state, double received_lag) {
    double continued[kExcitationHistory + kRebuiltFramesLimit * kFrame];
    copy_vector(state.excitation_before_loss, continued, kExcitationHistory);
    const int length = state.lost_frames * kFrame;
    const double first_lag = state.lag_before_loss;
    for (int j = 0; j < length; ++j) {
        // Every lag is at least 19 samples: the two samples read are built.
        const double lag = first_lag + (received_lag - first_lag) * (j + 1) / length;
        const double x = kExcitationHistory + j - lag;
        const int i = int(x);
        const double a = x - i;
        continued[kExcitationHistory + j] = (1.0 - a) * continued[i] + a * continued[i + 1];
    }
    copy_vector(continued + length, state.excitation_buffer, kExcitationHistory);
}

void recover_energy_history(decoder_state& state, const speech_parameters& params) {
    const energy_guess& g = state.lost_frames <= kPacketFrames ? kEnergyAfterPacket : kEnergyAfterLongerLoss;
    const double first = received_energy(params.subframes[0].gain_indices);
    const double second = received_energy(params.subframes[1].gain_indices);
    for (double& entry : state.energy_history) entry = g.own * entry + g.first * first + g.second * second + g.offset;
}

} // namespace

void recover_memories(decoder_state& state, const speech_parameters& params) {
    recover_lsf_memory(state, params.lsp_first, params.lsp_second);
    // After a longer loss the concealment has faded the excitation and the
    // entries with what is heard, so that the speech does not start from a
    // loud stale past; the guesses would undo that.
    if (state.lost_frames > kRebuiltFramesLimit) return;
    recover_energy_history(state, params);
    // A damaged first pitch index leaves the received lag unknown.
    if (!params.parity_error) {
        int t0 = 0;
        int frac = 0;
        decode_pitch_lag(params.subframes[0].pitch_index, 0, 0, t0, frac);
        rebuild_excitation(state, t0 + frac / 3.0);
    }
}

void hand_over_from_concealment(const int16_t* concealed, int16_t* out) {
    for (int i = 0; i < kHandOver; ++i) {
        // Power-complementary weights: the two signals rarely meet in phase,
        // and linear weights would dip the level in the middle.
        const double w = double(kHandOver - i) / (kHandOver + 1);
        out[i] = to_pcm_sample(std::sqrt(w) * concealed[i] + std::sqrt(1.0 - w) * out[i]);
    }
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
