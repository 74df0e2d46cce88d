#include "codec/encoder/sid_quantizer.h"

#include <cmath>

#include "codec/dsp/filters.h"
#include "codec/encoder/encoder.h"
#include "codec/encoder/lp_analysis.h"
#include "codec/encoder/preprocess.h"
#include "codec/encoder/lsp_quantizer.h"
#include "codec/dsp/sid_lsf.h"

namespace g729 {

void frame_autocorrelation(const double* x, noise_autocorrelation& r) {
    for (int k = 0; k <= kOrder; ++k) {
        double sum = 0.0;
        for (int n = 0; n < kFrame; ++n) sum += x[n] * x[n - k];
        r[k] = sum / double(kFrame);
    }
}

double residual_energy(const lp_coefficients& a, const noise_autocorrelation& r) {
    double e = 0.0;
    for (int i = 0; i <= kOrder; ++i) {
        for (int j = 0; j <= kOrder; ++j) e += a[i] * a[j] * r[i > j ? i - j : j - i];
    }
    return e > 0.0 ? e : 0.0;
}

double noise_power_gain(const lp_coefficients& a) {
    // The power gain of 1/A(z): the energy of its impulse response, long
    // enough for the filters the SID codebook yields to have died out.
    constexpr int kResponse = 320;
    double h[kResponse];
    h[0] = 1.0;
    set_zero(h + 1, kResponse - 1);
    filter_memory memory{};
    synthesis_filter(a, h, h, kResponse, memory.data(), false);
    // The comfort noise passes the decoder's output high-pass as coded
    // speech does; the gain makes up for the share it takes.
    pole_zero_memory high_pass{0.0, 0.0, 0.0, 0.0};
    preprocess_filter(high_pass, h, kResponse);
    double power = 0.0;
    for (double v : h) power += v * v;
    return power;
}

double excitation_gain(double power_gain, double mean_square) {
    return std::sqrt((mean_square > 0.0 ? mean_square : 0.0) / power_gain);
}

void noise_filter(const noise_autocorrelation& r, lp_coefficients& a) {
    autocorrelation_vector lags{};
    for (int k = 0; k <= kOrder; ++k) lags[k] = r[k];
    // Digital silence has no spectrum: it gets the flat one.
    if (!(lags[0] >= 1.0)) {
        lags.fill(0.0);
        lags[0] = 1.0;
    }
    apply_lag_window(kOrder, lags);
    levinson_durbin(lags, a);
}

void quantize_sid_lsf(const lsf_memory& memory, const lsf_vector& target, sid_parameters& sid) {
    lsf_vector weight;
    lsf_weights(target, weight);
    double best = 1e38;
    sid = sid_parameters{0, 0, 0, 0};
    for (int first = 0; first < kSidFirstStageSize; ++first) {
        for (int second = 0; second < kSidSecondStageSize; ++second) {
            lsf_vector v;
            sid_codebook_vector(first, second, v);
            for (int m = 0; m < 2; ++m) {
                lsf_vector w;
                compose_sid_lsf(v, m, memory, w);
                double error = 0.0;
                for (int i = 0; i < kOrder; ++i) error += weight[i] * ((w[i] - target[i]) * (w[i] - target[i]));
                if (error < best) {
                    best = error;
                    sid.predictor_switch = m;
                    sid.lsf_first_stage = first;
                    sid.lsf_second_stage = second;
                }
            }
        }
    }
}

int quantize_sid_gain(double gain) {
    // Compared in the log domain; a gain of 0 (digital silence) takes the
    // lowest level.
    const double g = gain > 1e-3 ? gain : 1e-3;
    int best = 0;
    double best_distance = 1e38;
    for (int i = 0; i < kSidGainLevels; ++i) {
        const double d = std::fabs(std::log(g / sid_gain_table[i]));
        if (d < best_distance) {
            best_distance = d;
            best = i;
        }
    }
    return best;
}

} // namespace g729
