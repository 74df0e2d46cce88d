// Compares a coded-and-decoded signal with its input. The decoder's output
// lags the input by the encoder's 5 ms look-ahead, so output sample n is
// set against input sample n - delay.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace g729::tool {

constexpr int kCodecDelay = 40; // samples of encoder look-ahead at 8 kHz
constexpr int kSegment = 80;    // samples per segment of the segmental SNR
// Segments quieter than this (RMS, dB relative to full scale) hold no speech
// to judge and would drag the segmental SNR down with noise-floor ratios.
constexpr double kSilentSegmentDb = -50.0;
// Per-segment ratios are bounded so that a few perfect or hopeless segments
// cannot dominate the average.
constexpr double kSegmentSnrFloorDb = -10.0;
constexpr double kSegmentSnrCeilingDb = 35.0;

struct comparison_result {
    std::size_t samples = 0;           // aligned pairs compared
    double snr_db = 0.0;               // overall; infinite when identical
    bool snr_defined = false;          // false when the input is all zero
    double segmental_snr_db = 0.0;     // mean over non-silent segments
    std::size_t segments = 0;          // non-silent segments averaged
    double level_difference_db = 0.0; // output level minus input level
    bool level_defined = false;        // false when either side is all zero
};

class aligned_comparison {
public:
    explicit aligned_comparison(int delay = kCodecDelay) : delay_(delay) {}

    // Input must be added no later than the output it produced; output
    // beyond the end of the input is not compared.
    void add_input(const int16_t* samples, std::size_t n);
    void add_output(const int16_t* samples, std::size_t n);
    comparison_result result() const;

private:
    int delay_;
    std::vector<int16_t> input_; // matched up to input_head_
    std::size_t input_head_ = 0;
    std::size_t outputs_seen_ = 0;

    std::size_t pairs_ = 0;
    double signal_energy_ = 0.0;
    double error_energy_ = 0.0;
    double output_energy_ = 0.0;

    std::size_t segment_fill_ = 0;
    double segment_signal_ = 0.0;
    double segment_error_ = 0.0;
    double segment_snr_sum_ = 0.0;
    std::size_t segments_ = 0;
};

} // namespace g729::tool
