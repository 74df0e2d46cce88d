// Gain prediction and the two-stage gain codebook shared by the gain
// quantizer and the gain decoder.
#pragma once

#include <array>

#include "codec/dsp/types.h"

namespace g729 {

constexpr int kGainCodebookGaSize = 8;  // first stage, 3-bit index
constexpr int kGainCodebookGbSize = 16; // second stage, 4-bit index
// Every energy-history entry at reset (dB).
constexpr double kInitialQuantizedEnergy = -14.0;

// One codebook row: its share of the pitch gain and of the correction factor
// of the predicted fixed-codebook gain.
struct gain_codebook_row {
    double pitch;
    double correction;
};

// Rows in ascending order of their correction parts (GA) and pitch parts
// (GB); the transmitted indices are mapped through the permutations below.
extern const std::array<gain_codebook_row, kGainCodebookGaSize> gain_codebook_ga;
extern const std::array<gain_codebook_row, kGainCodebookGbSize> gain_codebook_gb;
extern const std::array<int, kGainCodebookGaSize> ga_index_to_row;
extern const std::array<int, kGainCodebookGbSize> gb_index_to_row;
extern const std::array<int, kGainCodebookGaSize> ga_row_to_index;
extern const std::array<int, kGainCodebookGbSize> gb_row_to_index;

// Sets all four entries to kInitialQuantizedEnergy.
void reset_energy_history(energy_memory& history);

// The fixed-codebook gain predicted from the energy of code (after pitch
// sharpening) and the energies of the last four correction factors.
double predict_fixed_gain(const energy_memory& history, const double* code, int length);

// Makes 20 log10(correction) the newest history entry.
void push_quantized_energy(energy_memory& history, double correction);

// The entry of a subframe that did not arrive: energy (dB, the concealment's
// estimate), not below the -14 dB of a fresh history.
void push_concealed_energy(energy_memory& history, double energy);

// index: GA in bits 6..4, GB in bits 3..0. Predicts from history, then
// pushes the decoded correction factor.
void decode_gains(energy_memory& history, int index, const double* code, int length, double& pitch_gain,
                  double& code_gain);

} // namespace g729
