#include "codec/decoder/comfort_noise.h"

#include "codec/dsp/lsp.h"

namespace g729 {

void comfort_noise_reset(comfort_noise_state& state) {
    state.current_noise_gain = 0.0;
    state.sid_gain = sid_gain_table[0];
    lsf_to_lsp(initial_lsf_vector, state.sid_lsp);
}

namespace {

// The excitation of the current gain and the filters from the previous LSPs
// to the SID LSPs, which then become the previous ones.
void noise_excitation_and_filters(const comfort_noise_state& state, double* excitation,
                                  lsp_vector& previous_quantized_lsp, int16_t& noise_seed, lp_filter_pair& filters) {
    random_excitation(excitation, noise_seed, state.current_noise_gain);
    interpolate_lp_filters(previous_quantized_lsp, state.sid_lsp, filters);
    previous_quantized_lsp = state.sid_lsp;
}

} // namespace

void comfort_noise_frame(comfort_noise_state& state, frame_type previous_frame_type, const sid_parameters& sid,
                         double* excitation, lsp_vector& previous_quantized_lsp, lsf_memory& lsf_predictor_memory,
                         int16_t& noise_seed, lp_filter_pair& filters) {
    state.sid_gain = sid_gain_table[sid.energy_index & 31];
    decode_sid_lsf(sid.predictor_switch, sid.lsf_first_stage, sid.lsf_second_stage, lsf_predictor_memory,
                   state.sid_lsp);
    if (previous_frame_type == frame_type::speech) {
        state.current_noise_gain = state.sid_gain;
        noise_excitation_and_filters(state, excitation, previous_quantized_lsp, noise_seed, filters);
    } else {
        continue_comfort_noise(state, excitation, previous_quantized_lsp, noise_seed, filters);
    }
}

void continue_comfort_noise(comfort_noise_state& state, double* excitation, lsp_vector& previous_quantized_lsp,
                            int16_t& noise_seed, lp_filter_pair& filters) {
    state.current_noise_gain = next_noise_gain(state.current_noise_gain, state.sid_gain);
    noise_excitation_and_filters(state, excitation, previous_quantized_lsp, noise_seed, filters);
}

} // namespace g729
