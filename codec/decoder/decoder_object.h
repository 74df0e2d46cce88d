// The decoder object and its frame driver: everything one decoder carries
// from frame to frame, and the per-frame entry points that take a received
// frame (or the lack of one) to 80 signed 16-bit samples.
#pragma once

#include <cstdint>

#include "codec/decoder/comfort_noise.h"
#include "codec/decoder/decoder.h"
#include "codec/decoder/postfilter.h"
#include "codec/dsp/types.h"

namespace g729 {

struct decoder_object {
    g729::decoder_state decoder_state;
    g729::comfort_noise_state comfort_noise_state;
    pole_zero_memory postprocess_memory;
    g729::postfilter_state postfilter_state;
    // 10 past synthesized samples followed by the current frame.
    double synthesis_buffer[kSynthesisHistory + kFrame];
};

void decoder_init(decoder_object& decoder);
// Decodes a 10-byte speech frame or a 2-byte SID frame into 80 samples.
// Any other length returns -1 and touches neither the output nor the state.
int decode_frame(decoder_object& decoder, int16_t* out, const uint8_t* in, int length);

// Fills the 80 samples of a frame that did not arrive: comfort noise goes on
// after a SID frame, and a lost speech frame is concealed and faded.
void decode_missing_frame(decoder_object& decoder, int16_t* out);

} // namespace g729
