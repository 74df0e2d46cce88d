// Encoder side of the gain coding: the pitch gain and the fixed-codebook gain
// correction of a subframe quantized jointly into a 7-bit index.
#pragma once

#include <array>

#include "codec/dsp/types.h"

namespace g729 {

// Coefficients of the error to minimise over the gain pair:
// E(gp, gc) = c0*gp^2 + c1*gp + c2*gc^2 + c3*gc + c4*gp*gc.
// 0 and 1 come from the pitch gain, 2..4 from the code-vector correlations.
using gain_correlations = std::array<double, 5>;

// Quantizes the gains of one subframe, writes the quantized pitch and code
// gains, pushes the chosen correction into the history and returns the index
// GA*16 + GB. Only under taming is the pitch gain limited.
int quantize_gains(energy_memory& history, const double* code, const gain_correlations& correlations, int length,
                   bool taming, double& pitch_gain, double& code_gain);

} // namespace g729
