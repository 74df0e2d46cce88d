// The voice-activity detector of the sending side's silence suppression:
// it compares each frame's energy below and above 1 kHz, zero crossings and LP
// spectrum with a running picture of the background noise, and holds speech
// on for a while after a talk spurt so that word ends are not cut.
#pragma once

#include <array>

#include "codec/dsp/types.h"

namespace g729 {

// What the detector looks at in one frame (the frame being coded together
// with its look-ahead, so onsets are seen 5 ms early).
struct vad_features {
    double low_band_db;    // 10 log10(1 + mean square) below about 1 kHz
    double high_band_db;   // the same above it
    double zero_crossings; // sign changes per sample, 0..1
    lsf_vector lsf;        // the frame's LP spectrum
};

constexpr int kNoiseFloorWindows = 8;

// Minimum statistics of one level (dB): the lowest of the last windows of
// frames (the oldest first) and of the window being filled.
struct level_floor {
    std::array<double, kNoiseFloorWindows> minima;
    double window_minimum;
    // How much the level of noise frames strays from the floor, on average.
    double fluctuation_db;
};

struct vad_state {
    level_floor low_band, high_band;
    int window_frames;
    // The mean spectrum and zero-crossing rate of frames taken as noise.
    lsf_vector noise_lsf;
    double noise_zero_crossings;
    bool noise_spectrum_known;
    // How far the noise frames' spectra and zero crossings stray from those
    // means, on average: a noise of talkers moves as much as speech does.
    double noise_spectral_spread;
    double noise_crossing_spread;
    int frames_since_noise; // speech frames since one was learnt from as noise, up to a limit
    int hangover;    // frames speech is still held on
    int speech_run;  // frames in the current talk spurt
};

void vad_reset(vad_state& state);

// Features of the 120 samples at x: the frame being coded and its
// look-ahead; x[-1] is read (the sample before) for the zero crossings and
// x[-3..-1] for the low band.
void vad_frame_features(const double* x, const lsf_vector& lsf, vad_features& features);

// True when the frame is to be sent as speech. raw_speech tells whether the
// frame itself looked like speech (false during the hangover): only such
// frames should describe the background noise.
bool vad_decide(vad_state& state, const vad_features& features, bool& raw_speech);

} // namespace g729
