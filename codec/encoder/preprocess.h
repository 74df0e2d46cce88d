// The encoder's pre-processing: a second-order high-pass on the input that
// removes DC and the lowest frequencies before the analysis, for one
// encoder or for several side by side.
#pragma once

#include "codec/dsp/channel_lanes.h"
#include "codec/dsp/types.h"

namespace g729 {

void preprocess_reset(pole_zero_memory& memory);
// High-pass filters n samples in place. Outputs (and so the memory's past
// outputs) smaller than kMemoryFlush in magnitude become exactly 0, so that
// a decaying tail settles to silence.
void preprocess_filter(pole_zero_memory& memory, double* samples, int n);
// preprocess_filter for count encoders at once, each lane its own samples
// and memory: every lane's every double is what its own call gives.
void preprocess_encoders(const pole_zero_lane* lanes, int count, int n);

} // namespace g729
