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

// Factors of the first-order tilt compensation of both subframes, from the
// impulse responses of Ap3(z)/Ap4(z). They depend on the filters alone, so
// the two responses (latency-bound recursions) run side by side; each is
// exactly the one-filter response.
void tilt_factors(const lp_filter_pair& ap3, const lp_filter_pair& ap4, double* factor) {
    double h[kSubframes][kImpulseLength];
    for (int s = 0; s < kSubframes; ++s) {
        for (int i = 0; i < kLpSize; ++i) h[s][i] = ap3[s][i];
        set_zero(h[s] + kLpSize, kImpulseLength - kLpSize);
    }
    synthesis_filter_pair(ap4[0], ap4[1], kImpulseLength, h[0], h[0], h[0] + kLpSize, h[1], h[1], h[1] + kLpSize);
    for (int s = 0; s < kSubframes; ++s) {
        double r0 = 0.0;
        double r1 = 0.0;
        for (int i = 0; i < kImpulseLength; ++i) r0 += h[s][i] * h[s][i];
        for (int i = 0; i < kImpulseLength - 1; ++i) r1 += h[s][i] * h[s][i + 1];
        factor[s] = r1 > 0.0 ? kTiltFactor * r1 / r0 : 0.0;
    }
}

// First-order tilt compensation with factor k, in place on p.
void tilt_compensation(postfilter_state& state, double k, double* p) {
    // Downward, so each step still sees the unmodified previous sample.
    const double last = p[kSubframe - 1];
    for (int j = kSubframe - 1; j >= 1; --j) p[j] = p[j] - k * p[j - 1];
    p[0] = p[0] - k * state.tilt_memory;
    state.tilt_memory = last;
}

// Scales y towards the energy of the unfiltered subframe s.
void adaptive_gain_control(postfilter_state& state, const double* s, double* y) {
    double out_energy = 0.0;
    for (int j = 0; j < kSubframe; ++j) out_energy += y[j] * y[j];
    if (out_energy == 0.0) {
        state.agc_gain = 0.0;
        return;
    }
    double in_energy = 0.0;
    for (int j = 0; j < kSubframe; ++j) in_energy += s[j] * s[j];
    const double g1 = in_energy == 0.0 ? 0.0 : std::sqrt(in_energy / out_energy) * kAgcStep;
    for (int j = 0; j < kSubframe; ++j) {
        state.agc_gain = state.agc_gain * kAgcKeep + g1;
        y[j] = y[j] * state.agc_gain;
    }
}

} // namespace

void postfilter_reset(postfilter_state& state) {
    set_zero(state.residual_history, kResidualHistory);
    state.postfilter_synthesis_memory.fill(0.0);
    state.tilt_memory = 0.0;
    state.agc_gain = 1.0;
}

void postfilter_frame(postfilter_state& state, double* synthesis_buffer, const lp_filter_pair& filters,
                      const pitch_lags& lags, int frame_type) {
    double* current = synthesis_buffer + kSynthesisHistory;
    double out[kFrame];
    lp_filter_pair ap3;
    lp_filter_pair ap4;
    for (int s = 0; s < kSubframes; ++s) {
        bandwidth_expand(filters[s], ap3[s], kNumeratorGamma);
        bandwidth_expand(filters[s], ap4[s], kDenominatorGamma);
    }
    double tilt[kSubframes];
    tilt_factors(ap3, ap4, tilt);
    for (int s = 0; s < kSubframes; ++s) {
        const double* unfiltered = current + s * kSubframe;
        double* residual = state.residual_history + kPastResidual;
        residual_filter(ap3[s], unfiltered, residual, kSubframe);

        // Its own array: the tilt stage modifies it in place, and the
        // residual history must keep the unfiltered residual.
        double p[kSubframe];
        if (frame_type == kFrameTypeSpeech) {
            long_term_postfilter(residual, lags[s], p);
        } else {
            copy_vector(residual, p, kSubframe);
        }
        tilt_compensation(state, tilt[s], p);

        double* y = out + s * kSubframe;
        synthesis_filter(ap4[s], p, y, kSubframe, state.postfilter_synthesis_memory.data(), 1);
        adaptive_gain_control(state, unfiltered, y);

        copy_vector(state.residual_history + kSubframe, state.residual_history, kPastResidual);
    }
    copy_vector(current + kFrame - kSynthesisHistory, synthesis_buffer, kSynthesisHistory);
    copy_vector(out, current, kFrame);
}

void postprocess_reset(pole_zero_memory& memory) { memory = pole_zero_memory{0.0, 0.0, 0.0, 0.0}; }

void postprocess_filter(pole_zero_memory& memory, double* signal, int n) {
    // The recursion runs in locals: kept in the record, every sample would
    // reload the previous output after the store to signal, which the
    // compiler cannot tell apart from the memory.
    double x1 = memory.x1, x2 = memory.x2, y1 = memory.y1, y2 = memory.y2;
    for (int i = 0; i < n; ++i) {
        const double x0 = signal[i];
        const double y0 = kHighPassA1 * y1 + kHighPassA2 * y2 + kHighPassB0 * x0 + kHighPassB1 * x1 + kHighPassB2 * x2;
        x2 = x1;
        x1 = x0;
        y2 = y1;
        y1 = y0;
        signal[i] = y0;
    }
    memory = pole_zero_memory{x1, x2, y1, y2};
}

} // namespace g729
