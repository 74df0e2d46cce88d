// The comfort-noise excitation: a random adaptive part, Gaussian noise and
// four pulses brought to a given gain, drawn from a 16-bit generator. The
// decoder fills SID and untransmitted frames with it; the encoder runs the
// same draws in silence so that its excitation history stays the decoder's.
#pragma once

#include <cstdint>

#include "codec/dsp/types.h"

namespace g729 {

// Every speech frame restarts the sequence here.
constexpr int16_t kInitialNoiseSeed = 11111;

constexpr int kNoisePulses = 4;

// The random choices of one comfort-noise subframe, drawn from three words.
struct noise_subframe_parameters {
    int t0;
    int frac;
    int positions[kNoisePulses]; // one pulse per track
    double signs[kNoisePulses];
    double adaptive_gain; // 0 <= gain < 0.5
};

noise_subframe_parameters draw_noise_parameters(int16_t& seed);

// Fills 80 excitation samples with noise of gain G per sample (RMS), one
// subframe at a time.
void random_excitation(double* excitation, int16_t& seed, double gain);

// The next value of the 16-bit linear congruential generator.
int16_t random_word(int16_t& seed);

} // namespace g729
