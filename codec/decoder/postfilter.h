// Adaptive post-filter and the output high-pass filter.
#pragma once

#include "codec/bitstream.h"
#include "codec/dsp/channel_lanes.h"
#include "codec/dsp/filters.h"
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

// The stages of postfilter_frame, for a decoder that interleaves them with
// its own synthesis. Per subframe: the numerator A(z/0.55) and denominator
// A(z/0.7) filters.
void postfilter_filters(const lp_filter_pair& filters, lp_filter_pair& ap3, lp_filter_pair& ap4);
// Sets up h (kSubframe samples) and the lane that turns it into the impulse
// response of ap3(z)/ap4(z), for synthesis_filter_lanes; the first 22
// samples of the result give the subframe's tilt factor.
void tilt_impulse_response_lane(const lp_coefficients& ap3, const lp_coefficients& ap4, double* h,
                                synthesis_lane& lane);
// Both subframes' tilt factors from such responses, or (tilt_factors) from
// the filters.
void tilt_factors_of_responses(const double (&h)[kSubframes][kSubframe], double* factor);
void tilt_factors(const lp_filter_pair& ap3, const lp_filter_pair& ap4, double* factor);
// Residual of the unfiltered subframe, long-term post-filter (speech frames
// only) and tilt compensation: p receives what the denominator filter then
// synthesizes with postfilter_synthesis_memory.
void postfilter_pitch_stage(postfilter_state& state, const double* unfiltered, const lp_coefficients& ap3, int lag,
                            frame_type type, double tilt, double* p);
// Scales the synthesized y towards the energy of the unfiltered subframe s.
void adaptive_gain_control(postfilter_state& state, const double* s, double* y);
// The first part of adaptive_gain_control: the increment g1 of the gain
// recursion for output y of the unfiltered subframe s. When y is silent the
// gain becomes 0, y stays as it is, and the result is false.
bool gain_control_increment(postfilter_state& state, const double* s, const double* y, double& g1);
// The rest of adaptive_gain_control (the recursion, when scale) and the
// output high-pass over the 40 samples of y, in one pass.
void gain_control_with_high_pass(postfilter_state& state, bool scale, double g1, pole_zero_memory& high_pass,
                                 double* y);
// One pass that synthesizes x through 1/a(z) into y (memory updated as
// synthesis_filter with update does) and finishes the previous subframe's
// 40 output samples in place as gain_control_with_high_pass does: exactly
// the separate calls.
void synthesis_with_gain_and_high_pass(const lp_coefficients& a, const double* x, double* y, double* memory,
                                       postfilter_state& state, bool scale, double g1, pole_zero_memory& high_pass,
                                       double* previous);

// The adaptive gain's and the output high-pass's constants, for the lane
// kernels that run both recursions of several channels at once.
extern const gain_high_pass_constants output_gain_high_pass;

void postprocess_reset(pole_zero_memory& memory);
void postprocess_filter(pole_zero_memory& memory, double* signal, int n);

} // namespace g729
