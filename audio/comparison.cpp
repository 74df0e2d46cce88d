#include "audio/comparison.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "audio/level.h"
#include "audio/loss_measures.h"

namespace audio {

void aligned_comparison::add_input(const int16_t* samples, std::size_t n) {
    // Keep the unmatched tail only, so memory stays bounded by the delay
    // plus one block however long the signal.
    if (input_head_ > 4096) {
        input_.erase(input_.begin(), input_.begin() + std::ptrdiff_t(input_head_));
        input_head_ = 0;
    }
    input_.insert(input_.end(), samples, samples + n);
}

void aligned_comparison::add_output(const int16_t* samples, std::size_t n) {
    const double silent_energy = kSegment * std::pow(kFullScale * std::pow(10.0, kSilentSegmentDb / 20.0), 2.0);
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t index = outputs_seen_++;
        if (index < std::size_t(delay_)) continue;  // before the reference starts
        if (input_head_ == input_.size()) continue; // no reference left to match
        const double x = input_[input_head_++];
        const double y = samples[i];
        const double e = y - x;
        ++pairs_;
        signal_energy_ += x * x;
        error_energy_ += e * e;
        output_energy_ += y * y;
        segment_signal_ += x * x;
        segment_error_ += e * e;
        if (++segment_fill_ == std::size_t(kSegment)) {
            if (segment_signal_ >= silent_energy) {
                double snr = segment_error_ > 0.0 ? 10.0 * std::log10(segment_signal_ / segment_error_)
                                                  : kSegmentSnrCeilingDb;
                snr = std::clamp(snr, kSegmentSnrFloorDb, kSegmentSnrCeilingDb);
                segment_snr_sum_ += snr;
                ++segments_;
            }
            segment_fill_ = 0;
            segment_signal_ = 0.0;
            segment_error_ = 0.0;
        }
    }
}

comparison_result aligned_comparison::result() const {
    comparison_result r;
    r.delay = delay_;
    r.samples = pairs_;
    r.snr_defined = signal_energy_ > 0.0;
    if (r.snr_defined)
        r.snr_db = error_energy_ > 0.0 ? 10.0 * std::log10(signal_energy_ / error_energy_)
                                       : std::numeric_limits<double>::infinity();
    r.segments = segments_;
    if (segments_ > 0) r.segmental_snr_db = segment_snr_sum_ / double(segments_);
    const double minus_infinity = -std::numeric_limits<double>::infinity();
    r.reference_level_db = signal_energy_ > 0.0 ? dbfs(signal_energy_, pairs_) : minus_infinity;
    r.test_level_db = output_energy_ > 0.0 ? dbfs(output_energy_, pairs_) : minus_infinity;
    r.level_defined = signal_energy_ > 0.0 && output_energy_ > 0.0;
    if (r.level_defined) r.level_difference_db = 10.0 * std::log10(output_energy_ / signal_energy_);
    return r;
}

int find_delay(const int16_t* reference, std::size_t n_reference, const int16_t* test, std::size_t n_test) {
    const std::size_t window = std::min(n_reference, kSearchWindow);
    std::vector<double> x(window);
    for (std::size_t i = 0; i < window; ++i) x[i] = double(reference[i]) - (i > 0 ? double(reference[i - 1]) : 0.0);
    const std::size_t span = std::min(n_test, window + std::size_t(kMaxSearchDelay));
    std::vector<double> y(span);
    for (std::size_t i = 0; i < span; ++i) y[i] = double(test[i]) - (i > 0 ? double(test[i - 1]) : 0.0);

    int best_delay = 0;
    double best = 0.0;
    for (int d = 0; d <= kMaxSearchDelay && std::size_t(d) < span; ++d) {
        const std::size_t n = std::min(window, span - std::size_t(d));
        double xy = 0.0, xx = 0.0, yy = 0.0;
        for (std::size_t i = 0; i < n; ++i) {
            xy += x[i] * y[i + std::size_t(d)];
            xx += x[i] * x[i];
            yy += y[i + std::size_t(d)] * y[i + std::size_t(d)];
        }
        if (xx <= 0.0 || yy <= 0.0) continue;
        const double score = xy / std::sqrt(xx * yy);
        if (score > best) {
            best = score;
            best_delay = d;
        }
    }
    return best_delay;
}

comparison_result compare(const std::vector<int16_t>& reference, const std::vector<int16_t>& test) {
    aligned_comparison c(find_delay(reference.data(), reference.size(), test.data(), test.size()));
    c.add_input(reference.data(), reference.size());
    c.add_output(test.data(), test.size());
    return c.result();
}

speech_measures compare_speech(const std::vector<int16_t>& reference, const std::vector<int16_t>& test, int delay) {
    speech_measures m;
    const std::size_t lag = delay < 0 ? 0 : std::size_t(delay);
    if (test.size() <= lag) return m;
    const std::size_t n = std::min(reference.size(), test.size() - lag);
    const std::vector<int16_t> ref(reference.begin(), reference.begin() + std::ptrdiff_t(n));
    const std::vector<int16_t> out(test.begin() + std::ptrdiff_t(lag), test.begin() + std::ptrdiff_t(lag + n));
    const std::vector<bool> active = active_frames(ref);
    for (const bool a : active) m.frames += a ? 1 : 0;
    m.level_envelope_db = level_envelope_distance(ref, out, active);
    m.log_spectral_distance_db = log_spectral_distance(ref, out, active);
    return m;
}

} // namespace audio
