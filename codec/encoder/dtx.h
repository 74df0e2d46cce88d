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
    // Running mean of the autocorrelation of the frames taken as noise: the
    // noise's spectrum.
    noise_autocorrelation noise_statistics;
    bool noise_statistics_known;
    // Its level as the listener hears it: the coded signal passes the
    // decoder's output high-pass too, which takes most of what the input
    // high-pass let through of a hum or an offset. Running mean of the mean
    // square of the frames taken as noise after that second high-pass.
    pole_zero_memory listener_high_pass;
    double noise_level;
    // How loud the speech frames of the hangover played the background: the
    // decoder's synthesis of them through its output high-pass, against
    // their level as above (running means). The comfort noise takes the
    // ratio, so the background does not step when speech hands over.
    filter_memory synthesis_memory;
    pole_zero_memory synthesis_high_pass;
    double coded_background;
    double heard_background;
    double recent_background; // the played level of the last few of them

    bool coded_background_known;
    // The decoder's comfort noise as the frames sent so far make it.
    bool after_speech; // the last frame sent was speech (or none was sent)
    double current_noise_gain;
    double sid_gain;
    double sid_level;      // the level the last SID frame was chosen for
    double sid_power_gain; // of its filter for white noise (noise_power_gain)
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
