// Frames that did not arrive: comfort noise goes on through a silence, and a
// lost speech frame is concealed from what the decoder already has.
#pragma once

#include <cstdint>

#include "codec/decoder/comfort_noise.h"
#include "codec/decoder/decoder.h"
#include "codec/dsp/types.h"

namespace g729 {

constexpr int16_t kInitialConcealmentSeed = 21845;

// Concealment of a lost speech frame:
// - the adaptive gain starts at 0.9 times the last decoded one, at most 0.9,
//   and falls by 0.9 a frame; the fixed gain falls by 0.98 a frame;
constexpr double kConcealedPitchGainMax = 0.9;
constexpr double kConcealedPitchGainDecay = 0.9;
constexpr double kConcealedCodeGainDecay = 0.98;
// - the random fixed-codebook part keeps that level for the first two lost
//   frames and then fades 3.5 dB a frame, so that twenty lost frames end
//   more than 60 dB down; the periodic part dies out faster by itself;
constexpr int kUnfadedLostFrames = 2;
constexpr double kFadePerLostFrame = 0.6683439175686147; // -3.5 dB
// - the pitch lag of the last good frame grows by a sample per lost frame.

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
