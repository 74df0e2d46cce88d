// Silence suppression on the sending side: per frame the detector decides
// between coding speech, describing the background noise in a SID frame and
// sending nothing, while the encoder follows the comfort noise the decoder
// makes of what was sent so that speech resumes on the decoder's memories.
#pragma once

#include <cstdint>

#include "codec/bitstream.h"
#include "codec/encoder/sid_quantizer.h"
#include "codec/encoder/vad.h"

namespace g729 {

struct encoder_state;

enum class dtx_frame { speech, sid, untransmitted };

struct dtx_state {
    vad_state vad;
    // Running mean of the autocorrelation of the frames taken as noise.
    noise_autocorrelation noise_statistics;
    bool noise_statistics_known;
    // The decoder's comfort noise as the frames sent so far make it.
    bool after_speech; // the last frame sent was speech (or none was sent)
    double current_noise_gain;
    double sid_gain;
    lsp_vector sid_lsp;
    int16_t noise_seed;
    int frames_since_sid;
};

void dtx_reset(dtx_state& dtx);
// Forgets what the detector and the noise statistics learnt, keeping the
// picture of the decoder's comfort noise.
void dtx_restart_detection(dtx_state& dtx);

// Codes the frame speech_buffer[120..199] as analyse_frame does, or, in
// silence, fills params.sid (for a SID frame) or nothing; either way every
// buffer advances by one frame.
dtx_frame encode_frame_dtx(encoder_state& state, dtx_state& dtx, frame_parameters& params);

} // namespace g729
