#include "tools/comparison.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace g729::tool {

namespace {

constexpr double kFullScale = 32768.0;

} // namespace

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
        if (index < std::size_t(delay_)) continue; // the encoder's start-up, before any input
        if (input_head_ == input_.size()) continue; // no input left to match
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
                double snr = segment_error_ > 0.0 ? 10.0 * std::log10(segment_signal_ / segment_error_) : kSegmentSnrCeilingDb;
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
    r.samples = pairs_;
    r.snr_defined = signal_energy_ > 0.0;
    if (r.snr_defined)
        r.snr_db = error_energy_ > 0.0 ? 10.0 * std::log10(signal_energy_ / error_energy_)
                                       : std::numeric_limits<double>::infinity();
    r.segments = segments_;
    if (segments_ > 0) r.segmental_snr_db = segment_snr_sum_ / double(segments_);
    r.level_defined = signal_energy_ > 0.0 && output_energy_ > 0.0;
    if (r.level_defined) r.level_difference_db = 10.0 * std::log10(output_energy_ / signal_energy_);
    return r;
}

} // namespace g729::tool
