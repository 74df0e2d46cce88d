// Frames that did not arrive: comfort noise goes on through a silence, and a
// lost speech frame is concealed from what the decoder already has: the last
// LP filter, the last pitch period repeated and turning into noise, at the
// level of the last good frame and never above it, fading to silence over
// long losses. The first speech frame after a loss starts from memories
// brought back in step and fades in over the concealment.
#pragma once

#include "codec/decoder/comfort_noise.h"
#include "codec/decoder/decoder.h"
#include "codec/dsp/types.h"

namespace g729 {

// Samples over which the first frame after a concealed loss takes over:
// 1.25 ms, enough to keep a click out and short enough to leave nearly all
// of the frame to the decoded speech, which is nearer the sender's than the
// concealment's continuation is.
constexpr int kHandOver = 10;

// The concealment fields of state back to their values at reset.
void concealment_reset(decoder_state& state);

// Synthesizes the 80 samples of a frame that did not arrive into speech, as
// the decoder's core does for one that did, reports its two LP filters and
// pitch lags, and returns the type the post-filter should treat it as.
// After a SID frame (and the frames missing after one) comfort noise goes
// on; after a speech frame the lost frame is concealed. On entry speech
// holds the output of the frame before (the output stage works in place):
// no concealed frame is heard louder than the last one that arrived.
// previous_frame_type
// is left as it is: the next frame that arrives follows on from the last one
// that did.
frame_type conceal_frame(decoder_state& state, comfort_noise_state& noise, double* speech, lp_filter_pair& filters,
                         pitch_lags& lags);

// Before the first speech frame after concealed speech (params) is decoded,
// the memories it predicts from are brought as close to the sender's as the
// decoder can guess them: the LSF predictor memory's rows of the lost frames
// move halfway towards that frame's received vector; after a loss of up to
// 80 ms the gain predictor's entries are guessed from those held and the
// frame's received correction factors, and the past excitation is rebuilt
// from the last good frame's along a pitch contour to the frame's received
// lag.
void recover_memories(decoder_state& state, const speech_parameters& params);

// The first frame that arrives after concealed speech fades in over the
// concealment's continuation (concealed: what concealing it would have
// given), so that the speech does not jump where the two do not meet. out
// holds the frame as decoded and becomes the hand-over, saturated to 16 bits.
void hand_over_from_concealment(const int16_t* concealed, int16_t* out);

} // namespace g729
