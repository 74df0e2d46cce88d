// Recursions of several independent signals side by side, four to a vector
// of doubles: the ordered filter recursions of many channels (or of several
// chains of one channel) run in vector lanes, each lane with its own
// coefficients and memory and exactly the operations, in exactly the order,
// of the one-signal code. A recursion waits for its own previous output at
// every step; the other lanes fill the time it waits.
#pragma once

#include "codec/dsp/filters.h"
#include "codec/dsp/types.h"

namespace g729 {

// Signals in one pass: four vectors of four.
constexpr int kMaxChannelLanes = 16;

// Any number of signals through their own 1/A(z), in passes of up to
// kMaxChannelLanes, n <= 40 samples each; every output and memory is bit for bit what separate
// synthesis_filter calls give (see synthesis_lane for the overlaps allowed
// within a lane). Lanes' arrays must not overlap one another.
void synthesis_filter_channels(const synthesis_lane* lanes, int count, int n);

// The post-filter's last two recursions on one subframe y of 40 samples,
// in place: the adaptive gain (when scale, gain = gain * keep + g1 and the
// sample times gain) and then the output high-pass.
struct gain_high_pass_lane {
    double* y;
    double* gain;
    bool scale;
    double g1;
    pole_zero_memory* high_pass;
};

// The constants those two recursions share across channels. The high-pass
// output is a1 y1 + a2 y2 + b0 x0 + b1 x1 + b2 x2, summed left to right.
struct gain_high_pass_constants {
    double keep;
    double a1, a2, b0, b1, b2;
};

// synthesis_count synthesis lanes and output_count gain/high-pass lanes,
// all n samples long, in passes of up to four of each.
void synthesis_and_gain_high_pass_channels(const synthesis_lane* lanes, int synthesis_count,
                                           const gain_high_pass_lane* outputs, int output_count,
                                           const gain_high_pass_constants& constants, int n);

// The encoder's pre-processing high-pass for up to four channels: each lane
// filters its n samples in place with its own memory, the output
// ((((a2 y2 + a1 y1) + b0 x0) + b1 x1) + b2 x2) and, below flush in
// magnitude, stored as 0 (as are the memories, which hold the last outputs).
struct pole_zero_lane {
    double* samples;
    pole_zero_memory* memory;
};
struct pole_zero_constants {
    double a1, a2, b0, b1, b2;
    double flush;
};
// Any number of lanes, in passes of four.
void preprocess_channels(const pole_zero_lane* lanes, int count, const pole_zero_constants& constants, int n);

} // namespace g729
