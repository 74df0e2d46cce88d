// TEMPORARY STUB until the decoder lands; must not reach a stop.
#include "codec/decoder/postfilter.h"

namespace g729 {
void postfilter_reset(postfilter_state& state) { state = postfilter_state{}; }
void postfilter_frame(postfilter_state&, double*, const lp_filter_pair&, const pitch_lags&, int) {}
void postprocess_reset(pole_zero_memory& memory) { memory = pole_zero_memory{}; }
void postprocess_filter(pole_zero_memory&, double*, int) {}
} // namespace g729
