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

// What the decoder produced for the last frame, numbered as the public
// header numbers the G729A_FRAME_* kinds.
enum class frame_kind {
    none = 0,          // nothing since init
    speech = 1,        // a speech frame arrived and was decoded
    sid = 2,           // a SID frame arrived and became comfort noise
    comfort_noise = 3, // no frame arrived, and the comfort noise went on
    concealed = 4,     // no frame arrived, and speech was concealed
};

struct decoder_object {
    g729::decoder_state decoder_state;
    g729::comfort_noise_state comfort_noise_state;
    pole_zero_memory postprocess_memory;
    g729::postfilter_state postfilter_state;
    // 10 past synthesized samples followed by the current frame.
    double synthesis_buffer[kSynthesisHistory + kFrame];
    frame_kind last_frame_kind;
};

void decoder_init(decoder_object& decoder);
// Decodes a 10-byte speech frame or a 2-byte SID frame into 80 samples.
// Any other length returns -1 and touches neither the output nor the state.
int decode_frame(decoder_object& decoder, int16_t* out, const uint8_t* in, int length);

// Fills the 80 samples of a frame that did not arrive: comfort noise goes on
// after a SID frame, and a lost speech frame is concealed and faded.
void decode_missing_frame(decoder_object& decoder, int16_t* out);

// One frame for each of count decoders: frames[i] of lengths[i] bytes (10
// speech, 2 SID, 0 a frame that did not arrive; the caller has checked
// them) into out[i]. Every decoder ends exactly as decode_frame or
// decode_missing_frame would leave it, in array order for a decoder named
// twice; the speech frames of several decoders are decoded together, their
// recursions side by side.
void decode_frames(decoder_object* const* decoders, const uint8_t* const* frames, const int* lengths,
                   int16_t* const* out, int count);

} // namespace g729
