// TEMPORARY STUB until the decoder lands; must not reach a stop.
#include "codec/decoder/decoder.h"

namespace g729 {
void decoder_reset(decoder_state& state, comfort_noise_state&) { state = decoder_state{}; }
void synthesize_frame(decoder_state&, comfort_noise_state&, const frame_parameters& params, double* speech,
                      lp_filter_pair& filters, pitch_lags& lags, int& frame_type) {
    for (int i = 0; i < kFrame; ++i) speech[i] = 0.0;
    filters = lp_filter_pair{};
    lags = pitch_lags{60, 60};
    frame_type = params.frame_type;
}
} // namespace g729
