// The decoder's output stage: rounding and saturation to 16 bits and the
// restart of runaway signal memories for every frame, and before them the
// post-filter and output high-pass of SID and concealed frames. A speech
// frame's post-filter and high-pass run interleaved with its synthesis
// (decode_speech_to_output, codec/decoder/decoder.h).
#pragma once

#include <cstdint>

#include "codec/bitstream.h"
#include "codec/decoder/decoder_object.h"
#include "codec/dsp/types.h"

namespace g729 {

// The chain after the synthesis of a SID or concealed frame (type says
// which the post-filter treats it as), whose 80 samples are in the current
// part of synthesis_buffer: post-filter, output high-pass, rounding into out.
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
