// The decoder core one stage after the other, for tests and the block-cost
// benchmark: a speech frame's synthesis step by step (LSP filters, then per
// subframe the excitation and the synthesis filter), which the decoder itself
// only runs interleaved with the post-filter, and SID frames as the decoder
// runs them.
#pragma once

#include "codec/bitstream.h"
#include "codec/decoder/comfort_noise.h"
#include "codec/decoder/decoder.h"
#include "codec/dsp/filters.h"
#include "codec/dsp/types.h"

namespace g729::testing {

// Synthesizes 80 samples into speech and reports the two subframes' LP
// filters and their integer pitch lags.
inline void synthesize_frame(decoder_state& state, comfort_noise_state& noise, const frame_parameters& params,
                             double* speech, lp_filter_pair& filters, pitch_lags& lags) {
    if (params.type == frame_type::sid) {
        synthesize_sid_frame(state, noise, params.sid, speech, filters, lags);
        return;
    }
    state.noise_seed = kInitialNoiseSeed;
    decode_lsp_filters(state, params.speech, filters);
    int t0 = 0;
    for (int s = 0; s < kSubframes; ++s) {
        const double* excitation = decode_excitation(state, params.speech, s, t0);
        lags[s] = t0;
        synthesis_filter(filters[s], excitation, speech + s * kSubframe, kSubframe,
                         state.synthesis_filter_memory.data(), true);
    }
    finish_frame(state, frame_type::speech);
}

} // namespace g729::testing
