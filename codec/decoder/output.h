// The decoder's output stage: post-filter, output high-pass, rounding and
// saturation to 16 bits, and the restart of runaway signal memories.
#pragma once

#include <cstdint>

#include "codec/bitstream.h"
#include "codec/decoder/decoder_object.h"
#include "codec/dsp/types.h"

namespace g729 {

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

// Rounds halves away from zero and saturates to 16 bits. A value that is not
// finite becomes 0.
int16_t to_pcm_sample(double x);

} // namespace g729
