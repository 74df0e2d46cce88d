// The encoder: its one state record, its frame driver and the per-frame
// analysis-by-synthesis coding (the input's pre-processing filter is in
// preprocess.h).
#pragma once

#include <cstdint>

#include "codec/bitstream.h"
#include "codec/dsp/types.h"
#include "codec/encoder/dtx.h"
#include "codec/encoder/gain_quantizer.h"

namespace g729 {

constexpr int kSpeechBuffer = 240;          // LP analysis window length
constexpr int kSpeechFrameStart = 120;      // frame being coded
constexpr int kSpeechNewInput = 160;        // where new input enters
constexpr int kWeightedSpeechBuffer = kPitchMax + kFrame;         // 223
constexpr int kExcitationBuffer = kExcitationHistory + kFrame;    // 234
// The perceptual weighting A(z/0.75) * (1 - 0.7 z^-1).
constexpr double kWeightingGamma = 0.75;
constexpr double kWeightingTilt = 0.7;

// Everything one encoder carries from frame to frame: the encoder object.
struct encoder_state {
    double speech_buffer[kSpeechBuffer];
    double weighted_speech_buffer[kWeightedSpeechBuffer];
    double excitation_buffer[kExcitationBuffer];
    lsp_vector previous_lsp;
    lsp_vector previous_quantized_lsp;
    filter_memory target_filter_memory;
    filter_memory weighting_filter_memory;
    filter_memory zero_memory;
    double pitch_sharpening_factor;
    lsf_memory lsf_predictor_memory;
    std::array<double, 4> taming_errors;
    energy_memory energy_history;
    pole_zero_memory preprocess_memory;
    // Silence suppression: off unless the caller turns it on after
    // encoder_init.
    bool dtx_enabled;
    dtx_state dtx;
};

void encoder_init(encoder_state& encoder);
// Codes 80 samples into one 10-byte speech frame; out_length becomes 10.
// With silence suppression on it may instead be a 2-byte SID frame, or
// nothing (out_length 0).
void encode_frame(encoder_state& encoder, const int16_t* samples, uint8_t* out, int& out_length);

// Every field to its initial value except preprocess_memory.
void encoder_reset(encoder_state& state);
// Codes speech_buffer[120..199] into params and advances every buffer.
void analyse_frame(encoder_state& state, speech_parameters& params);
// The LP analysis of the window, as LSPs (previous_lsp when the roots are
// not all found).
void frame_lsp(const encoder_state& state, lsp_vector& lsp_new);
// analyse_frame once frame_lsp has given lsp_new.
void analyse_frame(encoder_state& state, const lsp_vector& lsp_new, speech_parameters& params);
// The histories slide down by a frame once it is coded.
void shift_encoder_buffers(encoder_state& state);
// analyse_frame for up to kEncoderChannels distinct encoders at once, each
// with its lsp_new, the recursions of all of them side by side in vector
// lanes: every channel's every double is what its own call gives.
constexpr int kEncoderChannels = 8;
void analyse_frames(encoder_state* const* states, const lsp_vector* lsp_new, speech_parameters* params, int count);
// encode_frame for each of count encoders (in array order for an encoder
// named twice): samples[i] into out[i] (room for 10 bytes), lengths[i] the
// bytes written.
void encode_frames(encoder_state* const* encoders, const int16_t* const* samples, uint8_t* const* out, int* lengths,
                   int count);
// The first subframe's closed-loop range: the open-loop lag +- 3, shifted to
// stay inside 20..143.
void first_subframe_pitch_range(int t_op, int& t0_min, int& t0_max);
// Elements 2..4 of the gain correlations from the target xn, the filtered
// adaptive vector y1 and the filtered code vector y2 of a subframe.
void code_vector_correlations(const double* xn, const double* y1, const double* y2, gain_correlations& correlations);

} // namespace g729
