#include "codec/decoder/postfilter.h"

#include <cmath>

#include "codec/bitstream.h"
#include "codec/dsp/filters.h"
#include "codec/dsp/simd.h"

namespace g729 {

namespace {

constexpr int kPastResidual = kPitchMax; // residual kept for the pitch search
constexpr int kLagReach = 3;             // search T-3 .. T+3 around the decoded lag
constexpr double kNumeratorGamma = 0.55;
constexpr double kDenominatorGamma = 0.7;
constexpr int kImpulseLength = 22;
constexpr double kTiltFactor = 0.8;
// The adaptive gain moves 1/10 of the way per sample; the step is 1 - 0.9 as
// computed in doubles, not the literal 0.1.
constexpr double kAgcKeep = 0.9;
constexpr double kAgcStep = 0.09999999999999998;

// Output high-pass filter (100 Hz), taken at unit pass-band gain.
constexpr double kHighPassB0 = 0.93980581;
constexpr double kHighPassB1 = -1.8795834;
constexpr double kHighPassB2 = 0.93980581;
constexpr double kHighPassA1 = 1.9330735;
constexpr double kHighPassA2 = -0.93589199;

// The output high-pass recursion with its memory in locals: kept in the
// record, every sample would reload the previous output after the store of
// the one before, which the compiler cannot tell apart from the memory.
struct high_pass_recursion {
    double x1, x2, y1, y2;

    explicit high_pass_recursion(const pole_zero_memory& m) : x1(m.x1), x2(m.x2), y1(m.y1), y2(m.y2) {}

    double step(double x0) {
        const double y0 = kHighPassA1 * y1 + kHighPassA2 * y2 + kHighPassB0 * x0 + kHighPassB1 * x1 + kHighPassB2 * x2;
        x2 = x1;
        x1 = x0;
        y2 = y1;
        y1 = y0;
        return y0;
    }

    pole_zero_memory memory() const { return pole_zero_memory{x1, x2, y1, y2}; }
};

} // namespace

void long_term_postfilter(const double* r, int lag, double* p) {
    int t_min = lag - kLagReach;
    int t_max = lag + kLagReach;
    if (t_max > kPitchMax) {
        t_min = kPitchMax - 2 * kLagReach;
        t_max = kPitchMax;
    }
    // The seven correlations are independent sums and share one pass over
    // r: lane m of the accumulators holds lag t_max - m (so that r[j - k]
    // runs upward with m), each its own sum from 0 in increasing j; the
    // seventh lag, t_min, has a scalar of its own. The lags are then
    // scanned in increasing order with the strict comparison, the first
    // maximum kept.
    using simd::lanes2;
    const double* q = r - t_max;
    lanes2 c0 = simd::splat2(0.0), c1 = c0, c2 = c0;
    double c6 = 0.0;
    for (int j = 0; j < kSubframe; ++j) {
        const lanes2 rj = simd::splat2(r[j]);
        c0 += rj * simd::load<lanes2>(q + j);
        c1 += rj * simd::load<lanes2>(q + j + 2);
        c2 += rj * simd::load<lanes2>(q + j + 4);
        c6 += r[j] * q[j + 6];
    }
    const double by_lane[2 * kLagReach + 1] = {c0[0], c0[1], c1[0], c1[1], c2[0], c2[1], c6};
    double best = -1e38;
    int best_lag = t_min;
    for (int k = t_min; k <= t_max; ++k) {
        const double c = by_lane[t_max - k];
        if (c > best) {
            best = c;
            best_lag = k;
        }
    }
    const double* delayed = r - best_lag;
    double delayed_energy = 0.5;
    double energy = 0.5;
    for (int j = 0; j < kSubframe; ++j) {
        delayed_energy += delayed[j] * delayed[j];
        energy += r[j] * r[j];
    }
    const double correlation = best < 0.0 ? 0.0 : best;

    // Prediction gain below 3 dB: no long-term filtering.
    if (correlation * correlation < 0.5 * energy * delayed_energy) {
        copy_vector(r, p, kSubframe);
        return;
    }
    double g;
    double g0;
    if (correlation > delayed_energy) {
        g = 0.3333333333333333;
        g0 = 0.6666666666666666;
    } else {
        g = (0.5 * correlation) * (1.0 / (delayed_energy + 0.5 * correlation));
        g0 = 1.0 - g;
    }
    for (int j = 0; j < kSubframe; ++j) p[j] = g * delayed[j] + g0 * r[j];
}

namespace {

// Factor of the first-order tilt compensation of one subframe, from the
// first 22 samples of the impulse response of Ap3(z)/Ap4(z).
double tilt_factor(const double* h) {
    double r0 = 0.0;
    double r1 = 0.0;
    for (int i = 0; i < kImpulseLength; ++i) r0 += h[i] * h[i];
    for (int i = 0; i < kImpulseLength - 1; ++i) r1 += h[i] * h[i + 1];
    return r1 > 0.0 ? kTiltFactor * r1 / r0 : 0.0;
}

// First-order tilt compensation with factor k, in place on p.
void tilt_compensation(postfilter_state& state, double k, double* p) {
    // Downward, so each step still sees the unmodified previous sample.
    const double last = p[kSubframe - 1];
    for (int j = kSubframe - 1; j >= 1; --j) p[j] = p[j] - k * p[j - 1];
    p[0] = p[0] - k * state.tilt_memory;
    state.tilt_memory = last;
}

} // namespace

void postfilter_filters(const lp_filter_pair& filters, lp_filter_pair& ap3, lp_filter_pair& ap4) {
    for (int s = 0; s < kSubframes; ++s) {
        bandwidth_expand(filters[s], ap3[s], kNumeratorGamma);
        bandwidth_expand(filters[s], ap4[s], kDenominatorGamma);
    }
}

void tilt_impulse_response_lane(const lp_coefficients& ap3, const lp_coefficients& ap4, double* h,
                                synthesis_lane& lane) {
    for (int i = 0; i < kLpSize; ++i) h[i] = ap3[i];
    set_zero(h + kLpSize, kSubframe - kLpSize);
    // In place, with the zeros behind the numerator as the filter's memory.
    lane = synthesis_lane{&ap4, h, h, h + kLpSize, nullptr};
}

void tilt_factors_of_responses(const double (&h)[kSubframes][kSubframe], double* factor) {
    for (int s = 0; s < kSubframes; ++s) factor[s] = tilt_factor(h[s]);
}

void tilt_factors(const lp_filter_pair& ap3, const lp_filter_pair& ap4, double* factor) {
    // The two responses depend on the filters alone, and their recursions
    // are latency-bound: they run side by side.
    double h[kSubframes][kSubframe];
    synthesis_lane lanes[kSubframes];
    for (int s = 0; s < kSubframes; ++s) tilt_impulse_response_lane(ap3[s], ap4[s], h[s], lanes[s]);
    synthesis_filter_lanes(lanes, kSubframes, kImpulseLength);
    tilt_factors_of_responses(h, factor);
}

void postfilter_pitch_stage(postfilter_state& state, const double* unfiltered, const lp_coefficients& ap3, int lag,
                            frame_type type, double tilt, double* p) {
    double* residual = state.residual_history + kPastResidual;
    residual_filter(ap3, unfiltered, residual, kSubframe);
    if (type == frame_type::speech) {
        long_term_postfilter(residual, lag, p);
    } else {
        copy_vector(residual, p, kSubframe);
    }
    // p is an array of its own, so the history may slide now: it keeps the
    // unfiltered residual.
    copy_vector(state.residual_history + kSubframe, state.residual_history, kPastResidual);
    tilt_compensation(state, tilt, p);
}

bool gain_control_increment(postfilter_state& state, const double* s, const double* y, double& g1) {
    double out_energy = 0.0;
    for (int j = 0; j < kSubframe; ++j) out_energy += y[j] * y[j];
    if (out_energy == 0.0) {
        state.agc_gain = 0.0;
        return false;
    }
    double in_energy = 0.0;
    for (int j = 0; j < kSubframe; ++j) in_energy += s[j] * s[j];
    g1 = in_energy == 0.0 ? 0.0 : std::sqrt(in_energy / out_energy) * kAgcStep;
    return true;
}

void adaptive_gain_control(postfilter_state& state, const double* s, double* y) {
    double g1;
    if (!gain_control_increment(state, s, y, g1)) return;
    for (int j = 0; j < kSubframe; ++j) {
        state.agc_gain = state.agc_gain * kAgcKeep + g1;
        y[j] = y[j] * state.agc_gain;
    }
}

void gain_control_with_high_pass(postfilter_state& state, bool scale, double g1, pole_zero_memory& high_pass,
                                 double* y) {
    // The gain recursion and the high-pass recursion run in one loop; the
    // high-pass takes each sample once it is scaled, as it would after the
    // whole subframe.
    double gain = state.agc_gain;
    high_pass_recursion h(high_pass);
    for (int k = 0; k < kSubframe; ++k) {
        double v = y[k];
        if (scale) {
            gain = gain * kAgcKeep + g1;
            v = v * gain;
        }
        y[k] = h.step(v);
    }
    state.agc_gain = gain;
    high_pass = h.memory();
}

void postfilter_reset(postfilter_state& state) {
    set_zero(state.residual_history, kResidualHistory);
    state.postfilter_synthesis_memory.fill(0.0);
    state.tilt_memory = 0.0;
    state.agc_gain = 1.0;
}

void postfilter_frame(postfilter_state& state, double* synthesis_buffer, const lp_filter_pair& filters,
                      const pitch_lags& lags, frame_type type) {
    double* current = synthesis_buffer + kSynthesisHistory;
    double out[kFrame];
    lp_filter_pair ap3;
    lp_filter_pair ap4;
    postfilter_filters(filters, ap3, ap4);
    double tilt[kSubframes];
    tilt_factors(ap3, ap4, tilt);
    for (int s = 0; s < kSubframes; ++s) {
        const double* unfiltered = current + s * kSubframe;
        double p[kSubframe];
        postfilter_pitch_stage(state, unfiltered, ap3[s], lags[s], type, tilt[s], p);
        double* y = out + s * kSubframe;
        synthesis_filter(ap4[s], p, y, kSubframe, state.postfilter_synthesis_memory.data(), true);
        adaptive_gain_control(state, unfiltered, y);
    }
    copy_vector(current + kFrame - kSynthesisHistory, synthesis_buffer, kSynthesisHistory);
    copy_vector(out, current, kFrame);
}

void synthesis_with_gain_and_high_pass(const lp_coefficients& a, const double* x, double* y, double* memory,
                                       postfilter_state& state, bool scale, double g1, pole_zero_memory& high_pass,
                                       double* previous) {
    // The post-filter's synthesis of one subframe, and the gain control and
    // output high-pass of the previous one: three latency-bound recursions
    // with nothing in common, in one loop so that their chains overlap. Each
    // keeps its own order, exactly as synthesis_filter (with update),
    // adaptive_gain_control and postprocess_filter one after the other.
    synthesis_recursion r(a, memory);
    double gain = state.agc_gain;
    high_pass_recursion h(high_pass);
    for (int k = 0; k < kSubframe; ++k) {
        y[k] = r.step(x[k]);

        double v = previous[k];
        if (scale) {
            gain = gain * kAgcKeep + g1;
            v = v * gain;
        }
        previous[k] = h.step(v);
    }
    r.store(memory);
    state.agc_gain = gain;
    high_pass = h.memory();
}

const gain_high_pass_constants output_gain_high_pass = {kAgcKeep,    kHighPassA1, kHighPassA2,
                                                        kHighPassB0, kHighPassB1, kHighPassB2};

void postprocess_reset(pole_zero_memory& memory) { memory = pole_zero_memory{0.0, 0.0, 0.0, 0.0}; }

void postprocess_filter(pole_zero_memory& memory, double* signal, int n) {
    high_pass_recursion h(memory);
    for (int i = 0; i < n; ++i) signal[i] = h.step(signal[i]);
    memory = h.memory();
}

} // namespace g729
