// Adaptive post-filter and the output high-pass filter.
#pragma once

#include "codec/bitstream.h"
#include "codec/dsp/types.h"

namespace g729 {

constexpr int kResidualHistory = kPitchMax + kSubframe; // 183
constexpr int kSynthesisHistory = kOrder;               // past samples in front of the frame

struct postfilter_state {
    double residual_history[kResidualHistory];
    filter_memory postfilter_synthesis_memory;
    double tilt_memory;
    double agc_gain;
};

void postfilter_reset(postfilter_state& state);
// synthesis_buffer: 10 past synthesized samples followed by the 80 of the
// current frame. The current 80 become the post-filtered frame and the 10 in
// front the last 10 unfiltered samples.
void postfilter_frame(postfilter_state& state, double* synthesis_buffer, const lp_filter_pair& filters,
                      const pitch_lags& lags, frame_type type);

// The pitch stage of the post-filter: r is the current 40-sample residual
// with at least 143 past samples in front; p receives the filtered residual.
// Searches lag-3 .. lag+3 (137 .. 143 near the top of the range) and leaves r
// unfiltered when the prediction gain is below 3 dB.
void long_term_postfilter(const double* r, int lag, double* p);

void postprocess_reset(pole_zero_memory& memory);
void postprocess_filter(pole_zero_memory& memory, double* signal, int n);

} // namespace g729
