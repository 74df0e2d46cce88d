// Comfort noise for SID frames: decoding of the SID parameters, gain
// smoothing across consecutive SID frames and the random excitation.
#pragma once

#include <array>
#include <cstdint>

#include "codec/bitstream.h"
#include "codec/dsp/lsp_codebook.h"
#include "codec/dsp/random_excitation.h"
#include "codec/dsp/sid_lsf.h"
#include "codec/dsp/types.h"

namespace g729 {

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

} // namespace g729
