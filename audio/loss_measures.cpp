// Frame levels, level-envelope distance and log-spectral distance.
#include "audio/loss_measures.h"

#include <algorithm>
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

std::vector<loss_span> loss_spans(const std::vector<bool>& lost) {
    std::vector<loss_span> spans;
    std::size_t f = 0;
    while (f < lost.size() && lost[f]) ++f;
    while (f < lost.size()) {
        while (f < lost.size() && !lost[f]) ++f;
        if (f == lost.size()) break;
        loss_span span{f, f, f};
        while (span.first_received < lost.size() && lost[span.first_received]) ++span.first_received;
        span.next_lost = span.first_received;
        while (span.next_lost < lost.size() && !lost[span.next_lost]) ++span.next_lost;
        spans.push_back(span);
        f = span.next_lost;
    }
    return spans;
}

void recovery_differences(const std::vector<int16_t>& reference, const std::vector<int16_t>& test,
                          const std::vector<loss_span>& losses, int offset, std::vector<double>& out) {
    const std::size_t frames = std::min(reference.size(), test.size()) / kLossFrame;
    for (const loss_span& loss : losses) {
        if (loss.first_received >= frames) continue; // nothing was received after it
        const long f = long(loss.first_received) + offset;
        if (f < 0 || std::size_t(f) >= frames || std::size_t(f) >= loss.next_lost) continue;
        if (!active_frame(reference, std::size_t(f))) continue;
        out.push_back(frame_level(test, std::size_t(f)) - frame_level(reference, std::size_t(f)));
    }
}

double concealed_excess(const std::vector<int16_t>& test, const loss_span& loss) {
    const double floor = level_db(kActiveMeanSquare);
    const std::size_t frames = test.size() / kLossFrame;
    const double good = std::max(frame_level(test, loss.first_lost - 1), floor);
    double excess = -1e9;
    for (std::size_t f = loss.first_lost; f < loss.first_received && f < frames; ++f) {
        excess = std::max(excess, std::max(frame_level(test, f), floor) - good);
    }
    return excess;
}

double median(std::vector<double> values) {
    if (values.empty()) return 0.0;
    const std::size_t mid = values.size() / 2;
    std::nth_element(values.begin(), values.begin() + long(mid), values.end());
    if (values.size() % 2 == 1) return values[mid];
    return 0.5 * (values[mid] + *std::max_element(values.begin(), values.begin() + long(mid)));
}

} // namespace audio
