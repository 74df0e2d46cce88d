// Comfort noise for SID frames.
#pragma once

#include "codec/dsp/types.h"

namespace g729 {

struct comfort_noise_state {
    double current_noise_gain;
    double sid_gain;
    lsp_vector sid_lsp;
    std::array<lsf_predictor_set, 2> comfort_noise_predictors;
};

void comfort_noise_reset(comfort_noise_state& state);

} // namespace g729
