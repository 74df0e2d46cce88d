// TEMPORARY STUB until the encoder lands; must not reach a stop.
#include "codec/encoder/encoder.h"

namespace g729 {
void encoder_reset(encoder_state& state) { state = encoder_state{}; }
void preprocess_reset(pole_zero_memory& memory) { memory = pole_zero_memory{}; }
void preprocess_filter(pole_zero_memory&, double*, int) {}
void analyse_frame(encoder_state&, frame_parameters& params) { params = frame_parameters{1, {}}; }
} // namespace g729
