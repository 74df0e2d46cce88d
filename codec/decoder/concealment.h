// Frames that did not arrive: comfort noise goes on through a silence, and a
// lost speech frame is concealed from what the decoder already has: the last
// LP filter, the last pitch lag and gains, attenuated frame by frame, with
// random pulses from a seed of the decoder's own, fading to silence over
// long losses.
#pragma once

#include "codec/decoder/comfort_noise.h"
#include "codec/decoder/decoder.h"
#include "codec/dsp/types.h"

namespace g729 {

// The concealment fields of state back to their values at reset.
void concealment_reset(decoder_state& state);

// Synthesizes the 80 samples of a frame that did not arrive into speech, as
// synthesize_frame does for one that did, reports its two LP filters and
// pitch lags, and returns the type the post-filter should treat it as.
// After a SID frame (and the frames missing after one) comfort noise goes
// on; after a speech frame the lost frame is concealed. previous_frame_type
// is left as it is: the next frame that arrives follows on from the last one
// that did.
frame_type conceal_frame(decoder_state& state, comfort_noise_state& noise, double* speech, lp_filter_pair& filters,
                         pitch_lags& lags);

} // namespace g729
