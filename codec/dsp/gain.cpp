#include "codec/dsp/gain.h"

#include <cmath>

namespace g729 {

const std::array<gain_codebook_row, kGainCodebookGaSize> gain_codebook_ga = {{
    {0.00001, 0.185084},
    {0.094719, 0.296035},
    {0.111779, 0.613122},
    {0.003516, 0.65978},
    {0.117258, 1.134277},
    {0.197901, 1.214512},
    {0.021772, 1.801288},
    {0.163457, 3.3157},
}};

const std::array<gain_codebook_row, kGainCodebookGbSize> gain_codebook_gb = {{
    {0.050466, 0.244769},
    {0.121711, 0.00001},
    {0.313871, 0.072357},
    {0.375977, 0.292399},
    {0.49387, 0.59341},
    {0.556641, 0.064087},
    {0.645363, 0.362118},
    {0.706138, 0.14611},
    {0.809357, 0.397579},
    {0.866379, 0.199087},
    {0.923602, 0.599938},
    {0.925376, 1.742757},
    {0.942028, 0.029027},
    {0.983459, 0.414166},
    {1.055892, 0.227186},
    {1.158039, 0.724592},
}};

const std::array<int, kGainCodebookGaSize> ga_index_to_row = {5, 1, 7, 4, 2, 0, 6, 3};
const std::array<int, kGainCodebookGbSize> gb_index_to_row = {2, 14, 3, 13, 0, 15, 1, 12, 6, 10, 7, 9, 4, 11, 5, 8};
const std::array<int, kGainCodebookGaSize> ga_row_to_index = {5, 1, 4, 7, 3, 0, 6, 2};
const std::array<int, kGainCodebookGbSize> gb_row_to_index = {4, 6, 0, 2, 12, 14, 8, 10, 15, 11, 9, 13, 7, 3, 1, 5};

namespace {
// Moving-average coefficients on the past energies, newest first.
constexpr double kEnergyPredictor[kPredictorOrder] = {0.68, 0.58, 0.34, 0.19};
constexpr double kMeanEnergy = 36.0; // dB
// Keeps the logarithm finite for an all-zero code vector.
constexpr double kCodeEnergyFloor = 0.01;
} // namespace

void reset_energy_history(energy_memory& history) {
    for (double& h : history) h = kInitialQuantizedEnergy;
}

double predict_fixed_gain(const energy_memory& history, const double* code, int length) {
    double energy = kCodeEnergyFloor;
    for (int n = 0; n < length; ++n) energy += code[n] * code[n];
    const double code_energy = 10.0 * std::log10(energy / double(length));
    double predicted = kMeanEnergy - code_energy;
    for (int k = 0; k < kPredictorOrder; ++k) predicted += kEnergyPredictor[k] * history[k];
    return std::pow(10.0, predicted / 20.0);
}

void push_quantized_energy(energy_memory& history, double correction) {
    for (int k = kPredictorOrder - 1; k > 0; --k) history[k] = history[k - 1];
    history[0] = 20.0 * std::log10(correction);
}

void push_concealed_energy(energy_memory& history, double energy) {
    if (energy < kInitialQuantizedEnergy) energy = kInitialQuantizedEnergy;
    for (int k = kPredictorOrder - 1; k > 0; --k) history[k] = history[k - 1];
    history[0] = energy;
}

void decode_gains(energy_memory& history, int index, const double* code, int length, double& pitch_gain,
                  double& code_gain) {
    const gain_codebook_row& a = gain_codebook_ga[ga_index_to_row[(index >> 4) & 7]];
    const gain_codebook_row& b = gain_codebook_gb[gb_index_to_row[index & 15]];
    pitch_gain = a.pitch + b.pitch;
    const double g0 = predict_fixed_gain(history, code, length);
    const double correction = a.correction + b.correction;
    code_gain = g0 * correction;
    push_quantized_energy(history, correction);
}

} // namespace g729
