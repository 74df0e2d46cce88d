// Frame levels, speech frames, recovery profile and bursts of a decode with
// lost frames.
#include "audio/loss_measures.h"

#include <algorithm>
#include <cmath>

namespace audio {

double frame_level(const std::vector<int16_t>& x, std::size_t f) {
    return level_db(mean_square(&x[f * kMeasureFrame], kMeasureFrame));
}

bool active_frame(const std::vector<int16_t>& reference, std::size_t f) {
    return mean_square(&reference[f * kMeasureFrame], kMeasureFrame) >= kActiveMeanSquare;
}

std::vector<bool> active_frames(const std::vector<int16_t>& reference) {
    std::vector<bool> active(reference.size() / kMeasureFrame);
    for (std::size_t f = 0; f < active.size(); ++f) active[f] = active_frame(reference, f);
    return active;
}

double level_envelope_distance(const std::vector<int16_t>& reference, const std::vector<int16_t>& test) {
    return level_envelope_distance(reference, test, active_frames(reference));
}

double log_spectral_distance(const std::vector<int16_t>& reference, const std::vector<int16_t>& test) {
    return log_spectral_distance(reference, test, active_frames(reference));
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

namespace {

// Calls measure(f) for frame first_received + offset of each loss followed
// by a received frame, where that frame is active speech in the reference
// and comes before the next loss.
template <typename Measure>
void for_recovery_frames(const std::vector<int16_t>& reference, const std::vector<int16_t>& test,
                         const std::vector<loss_span>& losses, int offset, Measure measure) {
    const std::size_t frames = std::min(reference.size(), test.size()) / kMeasureFrame;
    for (const loss_span& loss : losses) {
        if (loss.first_received >= frames) continue; // nothing was received after it
        const long f = long(loss.first_received) + offset;
        if (f < 0 || std::size_t(f) >= frames || std::size_t(f) >= loss.next_lost) continue;
        if (!active_frame(reference, std::size_t(f))) continue;
        measure(std::size_t(f));
    }
}

} // namespace

void recovery_differences(const std::vector<int16_t>& reference, const std::vector<int16_t>& test,
                          const std::vector<loss_span>& losses, int offset, std::vector<double>& out) {
    for_recovery_frames(reference, test, losses, offset,
                        [&](std::size_t f) { out.push_back(frame_level(test, f) - frame_level(reference, f)); });
}

void recovery_spectral_distances(const std::vector<int16_t>& reference, const std::vector<int16_t>& test,
                                 const std::vector<loss_span>& losses, int offset, std::vector<double>& out) {
    const frame_spectrum spectrum;
    for_recovery_frames(reference, test, losses, offset, [&](std::size_t f) {
        out.push_back(frame_spectral_distance(spectrum, &reference[f * kMeasureFrame], &test[f * kMeasureFrame]));
    });
}

void concealed_spectral_distances(const std::vector<int16_t>& reference, const std::vector<int16_t>& test,
                                  const std::vector<loss_span>& losses, std::vector<double>& out) {
    const frame_spectrum spectrum;
    const std::size_t frames = std::min(reference.size(), test.size()) / kMeasureFrame;
    for (const loss_span& loss : losses) {
        for (std::size_t f = loss.first_lost; f < loss.first_received && f < frames; ++f) {
            if (!active_frame(reference, f)) continue;
            out.push_back(frame_spectral_distance(spectrum, &reference[f * kMeasureFrame], &test[f * kMeasureFrame]));
        }
    }
}

double concealed_excess(const std::vector<int16_t>& test, const loss_span& loss) {
    const double floor = level_db(kActiveMeanSquare);
    const std::size_t frames = test.size() / kMeasureFrame;
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

double mean(const std::vector<double>& values) {
    double sum = 0.0;
    for (double v : values) sum += v;
    return values.empty() ? 0.0 : sum / double(values.size());
}

} // namespace audio
