#include "codec/encoder/pitch.h"

#include <cmath>

#include "codec/dsp/cpu.h"
#include "codec/dsp/filters.h"
#include "codec/dsp/interpolation.h"
#include "codec/encoder/correlation.h"
#include "codec/encoder/x86/avx2.h"

namespace g729 {
namespace {

// The open-loop search looks at every second sample only: the correlation
// at lag t is the sum from 0 of w[k] * w[k - t] over even k, in increasing k.
// `lanes` lags t, t + step, ..., each in its own accumulator adding its
// products in that order, so each result is the one-lag sum; sharing the
// pass only lets the additions of different lags overlap. The unrolled
// array becomes registers.
template <int step, int lanes>
void decimated_block(const double* w, int n, int t, double* r) {
    double a[lanes] = {};
    for (int k = 0; k < n; k += 2) {
        const double wk = w[k];
        const double* q = w + k - t;
#pragma GCC unroll 8
        for (int l = 0; l < lanes; ++l) a[l] += wk * q[-l * step];
    }
    for (int l = 0; l < lanes; ++l) r[l] = a[l];
}

// The correlations of `count` lags first, first + step, ...; count is a
// multiple of 4. Eight lags share each pass, four for what is left (a wider
// last block would read before the buffer).
template <int step>
void decimated_correlations_in_blocks(const double* w, int n, int first, int count, double* r) {
    int j = 0;
    for (; j + 8 <= count; j += 8) decimated_block<step, 8>(w, n, first + step * j, r + j);
    for (; j < count; j += 4) decimated_block<step, 4>(w, n, first + step * j, r + j);
}

} // namespace

void portable::decimated_correlations(const double* w, int n, int first, int step, int count, double* r) {
    if (step == 1) {
        decimated_correlations_in_blocks<1>(w, n, first, count, r);
    } else {
        decimated_correlations_in_blocks<2>(w, n, first, count, r);
    }
}

void decimated_correlations(const double* w, int n, int first, int step, int count, double* r) {
#if defined(__x86_64__)
    if (active_instruction_set() == instruction_set::avx2) {
        avx2::decimated_correlations(w, n, first, step, count, r);
        return;
    }
#endif
    portable::decimated_correlations(w, n, first, step, count, r);
}

namespace {

// Best lag of [first, last] in steps of step; ties keep the smaller lag.
template <int step>
int best_open_loop_lag(const double* w, int n, int first, int last, double& best) {
    constexpr int kMaxLags = 40;
    const int count = (last - first) / step + 1;
    double r[kMaxLags];
    decimated_correlations(w, n, first, step, count, r);
    best = -1e38;
    int lag = first;
    for (int j = 0; j < count; ++j) {
        if (r[j] > best) {
            best = r[j];
            lag = first + step * j;
        }
    }
    return lag;
}

// A correlation divided by the root of its delayed signal's energy (summed
// from 0.01 over the even samples).
double normalised(double max, double energy) { return max * (1.0 / std::sqrt(energy)); }

double correlation_with(const double* d, const double* p) {
    double sum = 0.1;
    for (int j = 0; j < kSubframe; ++j) sum += d[j] * p[j];
    return sum;
}

} // namespace

int open_loop_pitch_search(const double* w, int n) {
    double max1, max2, max3;
    const int t1 = best_open_loop_lag<1>(w, n, 20, 39, max1);
    const int t2 = best_open_loop_lag<1>(w, n, 40, 79, max2);
    const int t3_even = best_open_loop_lag<2>(w, n, 80, 142, max3);

    // What is left are seven independent sums over the even samples, each
    // its own chain from its own start in increasing k, so they share one
    // pass: the correlations of the even-grid lag's two neighbours, and the
    // energies that normalise the three winners (for the third, of all
    // three lags it may end on).
    const double* q1 = w - t1;
    const double* q2 = w - t2;
    const double* q3 = w - t3_even;
    double above = 0.0, below = 0.0;
    double energy1 = 0.01, energy2 = 0.01, energy_above = 0.01, energy3 = 0.01, energy_below = 0.01;
    for (int k = 0; k < n; k += 2) {
        above += w[k] * q3[k - 1];
        below += w[k] * q3[k + 1];
        energy1 += q1[k] * q1[k];
        energy2 += q2[k] * q2[k];
        energy_above += q3[k - 1] * q3[k - 1];
        energy3 += q3[k] * q3[k];
        energy_below += q3[k + 1] * q3[k + 1];
    }

    // Refine the even-grid lag by one sample either side; each neighbour only
    // wins when strictly better than what is held at that point.
    int t3 = t3_even;
    double energy_t3 = energy3;
    if (above > max3) {
        max3 = above;
        t3 = t3_even + 1;
        energy_t3 = energy_above;
    }
    if (below > max3) {
        max3 = below;
        t3 = t3_even - 1;
        energy_t3 = energy_below;
    }

    max1 = normalised(max1, energy1);
    max2 = normalised(max2, energy2);
    max3 = normalised(max3, energy_t3);

    // Favour the shorter lag when a longer one is a multiple of it, so that
    // pitch doubling and tripling are avoided. The order matters: max1 is
    // raised with the already raised max2.
    if (std::abs(2 * t2 - t3) <= 4) max2 = max2 + 0.25 * max3;
    if (std::abs(3 * t2 - t3) <= 6) max2 = max2 + 0.25 * max3;
    if (std::abs(2 * t1 - t2) <= 4) max1 = max1 + 0.2 * max2;
    if (std::abs(3 * t1 - t2) <= 6) max1 = max1 + 0.2 * max2;

    int lag = t1;
    double best = max1;
    if (max2 > max1) {
        lag = t2;
        best = max2;
    }
    if (max3 > best) lag = t3;
    return lag;
}

void backward_correlation(const double* h, const double* x, double* d) {
    shifted_correlations(h, x, kSubframe, kSubframe, d);
}

int closed_loop_pitch_search(double* p, const double* xn, const double* h, int n, int t0_min, int t0_max,
                             int subframe_offset, int& frac) {
    double d[kSubframe];
    backward_correlation(h, xn, d);

    // For lags below 40 the later products read the current subframe's LP
    // residual, which is what the buffer holds there during the search.
    // Four lags share each pass over d, each with its own sum from 0.1 in
    // increasing j, so every value is correlation_with's; they are then
    // taken in increasing lag with a strict '>' as one by one.
    double max = -1e38;
    int t0 = t0_min;
    int t = t0_min;
    for (; t + 3 <= t0_max; t += 4) {
        const double* q = p - t;
        double a0 = 0.1, a1 = 0.1, a2 = 0.1, a3 = 0.1;
        for (int j = 0; j < kSubframe; ++j) {
            const double dj = d[j];
            a0 += dj * q[j];
            a1 += dj * q[j - 1];
            a2 += dj * q[j - 2];
            a3 += dj * q[j - 3];
        }
        const double r[4] = {a0, a1, a2, a3};
        for (int k = 0; k < 4; ++k) {
            if (r[k] > max) {
                max = r[k];
                t0 = t + k;
            }
        }
    }
    for (; t <= t0_max; ++t) {
        const double r = correlation_with(d, p - t);
        if (r > max) {
            max = r;
            t0 = t;
        }
    }

    interpolate_excitation(p, t0, 0, n);
    frac = 0;
    if (subframe_offset == 0 && t0 > 84) return t0;

    // The vectors at -1/3 and +1/3 are built apart from p, each from a copy
    // of the past excitation it reads: an interpolation reads only the past
    // and its own earlier outputs, so each gives the bits it would give in
    // place, and the three interpolations and their correlations no longer
    // wait for one another. They are then taken in the order 0, -1/3, +1/3
    // with a strict '>', and p receives the winner.
    const int past = t0 + kInterpolationTaps; // the farthest read goes back t0 + 10
    double minus[kExcitationHistory + kSubframe], plus[kExcitationHistory + kSubframe];
    double* const p_minus = minus + kExcitationHistory;
    double* const p_plus = plus + kExcitationHistory;
    copy_vector(p - past, p_minus - past, past);
    copy_vector(p - past, p_plus - past, past);
    interpolate_excitation(p_minus, t0, -1, n);
    interpolate_excitation(p_plus, t0, 1, n);
    double r0 = 0.1, r_minus = 0.1, r_plus = 0.1;
    for (int j = 0; j < kSubframe; ++j) {
        r0 += d[j] * p[j];
        r_minus += d[j] * p_minus[j];
        r_plus += d[j] * p_plus[j];
    }
    double best = r0;
    const double* winner = p;
    if (r_minus > best) {
        best = r_minus;
        frac = -1;
        winner = p_minus;
    }
    if (r_plus > best) {
        frac = 1;
        winner = p_plus;
    }
    if (winner != p) copy_vector(winner, p, kSubframe);
    return t0;
}

int encode_pitch_lag(int t0, int frac, int& t0_min, int& t0_max, int lag_min, int lag_max, int subframe_offset) {
    if (subframe_offset != 0) return 3 * (t0 - t0_min) + 2 + frac;

    const int index = t0 <= 85 ? 3 * t0 - 58 + frac : t0 + 112;
    t0_min = t0 - 5;
    if (t0_min < lag_min) t0_min = lag_min;
    t0_max = t0_min + 9;
    if (t0_max > lag_max) {
        t0_max = lag_max;
        t0_min = lag_max - 9;
    }
    return index;
}

double pitch_gain(const double* xn, const double* y1, gain_correlations& correlations, int n) {
    double yy = 0.01;
    double xy = 0.0;
    for (int i = 0; i < n; ++i) {
        yy += y1[i] * y1[i];
        xy += xn[i] * y1[i];
    }
    correlations[0] = yy;
    correlations[1] = -2.0 * xy + 0.01;
    const double g = xy / yy;
    if (g < 0.0) return 0.0;
    return g < 1.2 ? g : 1.2;
}

bool taming_test(const taming_error_record& taming_errors, int t0, int frac) {
    const int t1 = frac > 0 ? t0 + 1 : t0;
    const int zone2 = int((t1 + 8) * 0.025);
    const int zone1 = int((t1 - 50 > 0 ? t1 - 50 : 0) * 0.025);
    if (zone1 > zone2) return false;
    double worst = -1.0;
    for (int i = zone2; i >= zone1; --i) {
        if (taming_errors[i] > worst) worst = taming_errors[i];
    }
    return worst > 60000.0;
}

void taming_update(taming_error_record& taming_errors, int t0, double gain) {
    double worst = -1.0;
    if (t0 < 40) {
        // The lag is shorter than a subframe: the excitation feeds itself
        // twice within the zone.
        const double a = 1.0 + gain * taming_errors[0];
        const double b = 1.0 + gain * a;
        if (a > worst) worst = a;
        if (b > worst) worst = b;
    } else {
        const int zone1 = int((t0 - 40) * 0.025);
        const int zone2 = int((t0 - 1) * 0.025);
        for (int i = zone1; i <= zone2; ++i) {
            const double e = 1.0 + gain * taming_errors[i];
            if (e > worst) worst = e;
        }
    }
    taming_errors[3] = taming_errors[2];
    taming_errors[2] = taming_errors[1];
    taming_errors[1] = taming_errors[0];
    taming_errors[0] = worst;
}

} // namespace g729
