// Frame levels, level-envelope distance and log-spectral distance.
#include "audio/loss_measures.h"

#include <cmath>

namespace audio {

namespace {

constexpr int kBins = kLossFrame / 2;

// A Hann window and its DFT basis for one frame, built once per distance.
struct spectrum_basis {
    std::vector<double> cosines, sines;
    double window_energy = 0.0;

    spectrum_basis() : cosines((kBins + 1) * kLossFrame), sines((kBins + 1) * kLossFrame) {
        const double pi = std::acos(-1.0);
        for (int n = 0; n < kLossFrame; ++n) {
            const double w = 0.5 - 0.5 * std::cos(2.0 * pi * (n + 0.5) / kLossFrame);
            window_energy += w * w;
            for (int k = 1; k <= kBins; ++k) {
                cosines[k * kLossFrame + n] = w * std::cos(2.0 * pi * k * n / kLossFrame);
                sines[k * kLossFrame + n] = w * std::sin(2.0 * pi * k * n / kLossFrame);
            }
        }
    }

    double power_db(const int16_t* x, int k) const {
        double re = 0.0, im = 0.0;
        for (int n = 0; n < kLossFrame; ++n) {
            re += cosines[k * kLossFrame + n] * x[n];
            im -= sines[k * kLossFrame + n] * x[n];
        }
        return level_db((re * re + im * im) / window_energy);
    }
};

} // namespace

double mean_square(const int16_t* x, int n) {
    double e = 0.0;
    for (int i = 0; i < n; ++i) e += double(x[i]) * x[i];
    return e / n;
}

double level_db(double mean_square) { return mean_square < 1.0 ? 0.0 : 10.0 * std::log10(mean_square); }

double frame_level(const std::vector<int16_t>& x, std::size_t f) {
    return level_db(mean_square(&x[f * kLossFrame], kLossFrame));
}

bool active_frame(const std::vector<int16_t>& reference, std::size_t f) {
    return mean_square(&reference[f * kLossFrame], kLossFrame) >= kActiveMeanSquare;
}

double level_envelope_distance(const std::vector<int16_t>& reference, const std::vector<int16_t>& test) {
    double total = 0.0;
    int counted = 0;
    for (std::size_t f = 0; f < reference.size() / kLossFrame; ++f) {
        if (!active_frame(reference, f)) continue;
        total += std::fabs(frame_level(reference, f) - frame_level(test, f));
        ++counted;
    }
    return counted == 0 ? 0.0 : total / counted;
}

double log_spectral_distance(const std::vector<int16_t>& reference, const std::vector<int16_t>& test) {
    const spectrum_basis basis;
    double total = 0.0;
    int counted = 0;
    for (std::size_t f = 0; f < reference.size() / kLossFrame; ++f) {
        if (!active_frame(reference, f)) continue;
        const int16_t* r = &reference[f * kLossFrame];
        const int16_t* t = &test[f * kLossFrame];
        double sum = 0.0;
        for (int k = 1; k <= kBins; ++k) {
            const double d = basis.power_db(r, k) - basis.power_db(t, k);
            sum += d * d;
        }
        total += std::sqrt(sum / kBins);
        ++counted;
    }
    return counted == 0 ? 0.0 : total / counted;
}

} // namespace audio
