// The encoder and decoder objects and their per-frame entry points: the
// public face of the codec.
#pragma once

#include <cstdint>

#include "codec/bitstream.h"
#include "codec/decoder/comfort_noise.h"
#include "codec/decoder/decoder.h"
#include "codec/decoder/postfilter.h"
#include "codec/encoder/dtx.h"
#include "codec/encoder/encoder.h"

namespace g729 {

struct encoder_object {
    encoder_state state;
    // Silence suppression: off unless the caller turns it on.
    bool dtx_enabled;
    dtx_state dtx;
};

struct decoder_object {
    g729::decoder_state decoder_state;
    g729::comfort_noise_state comfort_noise_state;
    pole_zero_memory postprocess_memory;
    g729::postfilter_state postfilter_state;
    // 10 past synthesized samples followed by the current frame.
    double synthesis_buffer[kSynthesisHistory + kFrame];
};

void encoder_init(encoder_object& encoder);
// Codes 80 samples into one 10-byte speech frame; out_length becomes 10.
// With silence suppression on it may instead be a 2-byte SID frame, or
// nothing (out_length 0). Leaves dtx_enabled as it is.
int encode_frame(encoder_object& encoder, const int16_t* samples, uint8_t* out, int& out_length);

void decoder_init(decoder_object& decoder);
// Decodes a 10-byte speech frame or a 2-byte SID frame into 80 samples.
// Any other length returns -1 and touches neither the output nor the state.
int decode_frame(decoder_object& decoder, int16_t* out, const uint8_t* in, int length);

// The chain after the synthesis of a frame of the given type, whose 80
// samples are in the current part of synthesis_buffer: post-filter, output
// high-pass, rounding into out.
void output_frame(decoder_object& decoder, const lp_filter_pair& filters, const pitch_lags& lags, frame_type type,
                  int16_t* out);
// The end of that chain once the frame in synthesis_buffer is high-passed:
// rounding into out, and the restart of memories a hostile stream drove out
// of range.
void round_and_check(decoder_object& decoder, int16_t* out);
// to_pcm_sample of n values, side by side.
void round_to_pcm(const double* x, int16_t* out, int n);

// Fills the 80 samples of a frame that did not arrive: comfort noise goes on
// after a SID frame, and a lost speech frame is concealed and faded.
void decode_missing_frame(decoder_object& decoder, int16_t* out);

// The output stage: rounds halves away from zero and saturates to 16 bits.
// A value that is not finite becomes 0.
int16_t to_pcm_sample(double x);

} // namespace g729
