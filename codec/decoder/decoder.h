// The decoder core: synthesis of one frame from its received parameters.
#pragma once

#include <cstdint>

#include "codec/bitstream.h"
#include "codec/decoder/comfort_noise.h"
#include "codec/decoder/postfilter.h"
#include "codec/dsp/types.h"

namespace g729 {

constexpr int kDecoderExcitationBuffer = kExcitationHistory + kFrame; // 234

struct decoder_state {
    // 154 past excitation samples followed by the current frame.
    double excitation_buffer[kDecoderExcitationBuffer];
    lsp_vector previous_quantized_lsp;
    filter_memory synthesis_filter_memory;
    double pitch_sharpening_factor;
    int previous_integer_lag;
    frame_type previous_frame_type;
    int16_t noise_seed;
    lsf_memory lsf_predictor_memory;
    energy_memory energy_history;

    // What the concealment of frames that did not arrive continues from.
    // Every frame that arrives sets lost_frames back to 0; previous_frame_type
    // stays the type of the last frame that arrived.
    double last_pitch_gain;    // of the last decoded subframe: how voiced the loss goes on
    int last_lsp_predictor;    // MA predictor switch of the last speech frame
    int lost_frames;           // frames concealed since the last one that arrived
    int16_t concealment_seed;  // of the noise in concealed excitation
    double excitation_level;   // mean square of the last good frame's excitation
    double energy_before_loss; // mean of energy_history when the loss began, dB
    double heard_gain;         // fade of what is heard at the end of the last lost frame
    double output_level;       // mean square of the last good frame's output
    // The last good frame's past excitation and integer pitch lag, which the
    // first frame after the loss rebuilds its past excitation from.
    double excitation_before_loss[kExcitationHistory];
    int lag_before_loss;
};

void decoder_reset(decoder_state& state);

// A SID frame: the comfort-noise excitation of the frame, its synthesis into
// speech (80 samples), and the end of the frame. Reports the two subframes'
// LP filters and previous_integer_lag as both pitch lags.
void synthesize_sid_frame(decoder_state& state, comfort_noise_state& noise, const sid_parameters& params,
                          double* speech, lp_filter_pair& filters, pitch_lags& lags);

// The whole chain of a speech frame: synthesis, post-filter and output
// high-pass. synthesis_buffer holds 10 past synthesized samples followed by
// the frame, which becomes the high-passed output. Every double is what the
// synthesis of the frame (decode_lsp_filters, then decode_excitation and
// synthesis_filter per subframe, then finish_frame), postfilter_frame and
// postprocess_filter one after the other give; the independent recursions
// only share passes.
void decode_speech_to_output(decoder_state& state, postfilter_state& post, pole_zero_memory& high_pass,
                             const speech_parameters& params, double* synthesis_buffer);

// decode_speech_to_output for the speech frames of up to kSpeechChannels
// decoders at once (distinct ones), the ordered recursions of all of them
// side by side in vector lanes: every channel's every double is what its own
// call gives.
struct speech_channel {
    decoder_state* state;
    postfilter_state* post;
    pole_zero_memory* high_pass;
    const speech_parameters* params;
    double* synthesis_buffer;
};
constexpr int kSpeechChannels = 8;
void decode_speech_channels(const speech_channel* channels, int count);

// The steps of a speech frame's synthesis. decode_lsp_filters decodes the
// LSPs and interpolates the two subframes' filters; decode_excitation builds
// the excitation of subframe s in the excitation buffer and returns it (t0
// is subframe 0's integer lag on entry for s = 1, the subframe's own on
// return).
void decode_lsp_filters(decoder_state& state, const speech_parameters& params, lp_filter_pair& filters);
double* decode_excitation(decoder_state& state, const speech_parameters& params, int s, int& t0);

// Runs the comfort-noise excitation of the current frame through the
// synthesis filter into speech; reports previous_integer_lag as both lags.
void synthesize_comfort_noise(decoder_state& state, const lp_filter_pair& filters, double* speech, pitch_lags& lags);

// End of a frame that arrived: its type becomes the previous one, the loss
// count starts again and the excitation history moves on.
void finish_frame(decoder_state& state, frame_type type);

// End of every frame: the current 80 excitation samples join the past.
void shift_excitation_buffer(decoder_state& state);

// Delay t0 + frac/3 of a pitch index: 8 bits absolute in subframe 0, 5 bits
// relative to reference_lag (subframe 0's integer lag) in subframe 1.
void decode_pitch_lag(int index, int subframe, int reference_lag, int& t0, int& frac);

// Four signed unit pulses on their tracks, zeros elsewhere.
void decode_fixed_code(int signs, int positions, double* code);

} // namespace g729
