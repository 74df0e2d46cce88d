// Comfort noise for SID frames: decoding of the SID parameters, gain
// smoothing across consecutive SID frames and the random excitation.
#pragma once

#include <array>
#include <cstdint>

#include "codec/bitstream.h"
#include "codec/dsp/types.h"

namespace g729 {

constexpr int16_t kInitialNoiseSeed = 11111;
constexpr int kSidGainLevels = 32;

extern const std::array<double, kSidGainLevels> sid_gain_table;

struct comfort_noise_state {
    double current_noise_gain;
    double sid_gain;
    lsp_vector sid_lsp;
};

void comfort_noise_reset(comfort_noise_state& state);

// One SID frame: writes the 80 excitation samples at excitation (with
// the past excitation in front), the frame's two LP filters, and moves
// previous_quantized_lsp, the LSF predictor memory and the seed forward.
void comfort_noise_frame(comfort_noise_state& state, frame_type previous_frame_type, const sid_parameters& sid,
                         double* excitation, lsp_vector& previous_quantized_lsp, lsf_memory& lsf_predictor_memory,
                         int16_t& noise_seed, lp_filter_pair& filters);

// A frame that did not arrive during comfort noise: the noise goes on with
// the last SID frame's spectrum, its gain moving towards that frame's gain as
// after another SID frame. Writes the excitation and the filters and moves
// the seed forward; the LSF predictor memory is left alone, so the next SID
// or speech frame decodes as it would right after the last SID frame.
void continue_comfort_noise(comfort_noise_state& state, double* excitation, lsp_vector& previous_quantized_lsp,
                            int16_t& noise_seed, lp_filter_pair& filters);

// The SID LSF vector as LSPs, predicted with the comfort-noise predictor
// sets; pushes its codebook vector into memory.
void decode_sid_lsf(int predictor_switch, int first_stage, int second_stage, lsf_memory& memory, lsp_vector& lsp);

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
