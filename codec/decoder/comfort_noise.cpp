// TEMPORARY STUB until the decoder lands; must not reach a stop.
#include "codec/decoder/comfort_noise.h"

namespace g729 {
void comfort_noise_reset(comfort_noise_state&) {}
} // namespace g729
