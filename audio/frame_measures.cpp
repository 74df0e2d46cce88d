#include "audio/frame_measures.h"

#include <cmath>

namespace audio {

double mean_square(const int16_t* x, int n) {
    double e = 0.0;
    for (int i = 0; i < n; ++i) e += double(x[i]) * x[i];
    return e / n;
}

double level_db(double mean_square) { return mean_square < 1.0 ? 0.0 : 10.0 * std::log10(mean_square); }

double level_envelope_distance(const std::vector<int16_t>& reference, const std::vector<int16_t>& test,
                               const std::vector<bool>& active) {
    double total = 0.0;
    int counted = 0;
    for (size_t f = 0; f < active.size() && (f + 1) * kMeasureFrame <= reference.size(); ++f) {
        if (!active[f]) continue;
        total += std::fabs(level_db(mean_square(&reference[f * kMeasureFrame], kMeasureFrame)) -
                           level_db(mean_square(&test[f * kMeasureFrame], kMeasureFrame)));
        ++counted;
    }
    return counted > 0 ? total / counted : 0.0;
}

frame_spectrum::frame_spectrum()
    : cosines_((kSpectrumBins + 1) * kMeasureFrame), sines_((kSpectrumBins + 1) * kMeasureFrame) {
    const double pi = std::acos(-1.0);
    for (int n = 0; n < kMeasureFrame; ++n) {
        const double w = 0.5 - 0.5 * std::cos(2.0 * pi * (n + 0.5) / kMeasureFrame);
        window_energy_ += w * w;
        for (int k = 1; k <= kSpectrumBins; ++k) {
            cosines_[k * kMeasureFrame + n] = w * std::cos(2.0 * pi * k * n / kMeasureFrame);
            sines_[k * kMeasureFrame + n] = w * std::sin(2.0 * pi * k * n / kMeasureFrame);
        }
    }
}

void frame_spectrum::power(const int16_t* x, std::array<double, kSpectrumBins + 1>& out) const {
    out[0] = 0.0;
    for (int k = 1; k <= kSpectrumBins; ++k) {
        double re = 0.0, im = 0.0;
        for (int n = 0; n < kMeasureFrame; ++n) {
            re += cosines_[k * kMeasureFrame + n] * x[n];
            im -= sines_[k * kMeasureFrame + n] * x[n];
        }
        out[k] = (re * re + im * im) / window_energy_;
    }
}

double log_spectral_distance(const std::vector<int16_t>& reference, const std::vector<int16_t>& test,
                             const std::vector<bool>& active) {
    const frame_spectrum spectrum;
    double total = 0.0;
    int counted = 0;
    for (size_t f = 0; f < active.size() && (f + 1) * kMeasureFrame <= reference.size(); ++f) {
        if (!active[f]) continue;
        total += frame_spectral_distance(spectrum, &reference[f * kMeasureFrame], &test[f * kMeasureFrame]);
        ++counted;
    }
    return counted > 0 ? total / counted : 0.0;
}

double frame_spectral_distance(const frame_spectrum& spectrum, const int16_t* reference, const int16_t* test) {
    std::array<double, kSpectrumBins + 1> r{}, t{};
    spectrum.power(reference, r);
    spectrum.power(test, t);
    double sum = 0.0;
    for (int k = 1; k <= kSpectrumBins; ++k) {
        const double d = level_db(r[k]) - level_db(t[k]);
        sum += d * d;
    }
    return std::sqrt(sum / kSpectrumBins);
}

} // namespace audio
