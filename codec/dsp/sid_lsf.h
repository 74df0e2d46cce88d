// The SID frame's description of the background noise: the energy levels
// and the small LSF codebook built from rows of the speech codebooks, with
// the comfort-noise predictors. The decoder rebuilds the noise from it and
// the encoder's SID quantizer searches it, both through decode_sid_lsf, so
// their LSF predictor memories move in step. The comfort-noise predictor
// sets themselves are constant tables.
#pragma once

#include <array>

#include "codec/dsp/types.h"

namespace g729 {

constexpr int kSidGainLevels = 32;
constexpr int kSidFirstStageSize = 32;
constexpr int kSidSecondStageSize = 16;

// The comfort-noise gain (RMS of the excitation per sample) of each SID
// energy index.
extern const std::array<double, kSidGainLevels> sid_gain_table;

// The comfort-noise gain of a frame after a SID or untransmitted frame: one
// eighth of the way from the current gain to the last SID frame's.
double next_noise_gain(double current, double sid_gain);

// The codebook vector of a SID LSF code before prediction: first-stage row
// plus second-stage rows, rearranged as the decoder does.
void sid_codebook_vector(int first_stage, int second_stage, lsf_vector& v);

// The LSFs a codebook vector composes to under predictor switch m with the
// given memory (unchanged), stabilized: what a decoder ends up with.
void compose_sid_lsf(const lsf_vector& v, int predictor_switch, const lsf_memory& memory, lsf_vector& w);

// The SID LSF vector as LSPs, predicted with the comfort-noise predictor
// sets; pushes its codebook vector into memory.
void decode_sid_lsf(int predictor_switch, int first_stage, int second_stage, lsf_memory& memory, lsp_vector& lsp);

} // namespace g729
