// Compares a decoded signal with the signal that went in: levels, waveform
// SNR and segmental SNR of the test signal against the reference, with the
// test lagging by a delay that is either known (a codec's look-ahead) or
// searched for. The host's "file compare" and the g729a tool's roundtrip
// both use it, so the same files give the same figures everywhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace audio {

constexpr int kSegment = 80; // samples per segment of the segmental SNR (10 ms)
// Segments quieter than this (RMS, dB relative to full scale) hold no speech
// to judge and would drag the segmental SNR down with noise-floor ratios.
constexpr double kSilentSegmentDb = -50.0;
// Per-segment ratios are bounded so that a few perfect or hopeless segments
// cannot dominate the average.
constexpr double kSegmentSnrFloorDb = -10.0;
constexpr double kSegmentSnrCeilingDb = 35.0;
// The delay search tries lags 0..kMaxSearchDelay and looks at no more than
// the first kSearchWindow samples of the reference.
constexpr int kMaxSearchDelay = 160;
constexpr std::size_t kSearchWindow = 60 * 8000;

struct comparison_result {
    int delay = 0;                     // samples by which the test lags
    std::size_t samples = 0;           // aligned pairs compared
    double snr_db = 0.0;               // overall; infinite when identical
    bool snr_defined = false;          // false when the reference is all zero
    double segmental_snr_db = 0.0;     // mean over non-silent whole segments
    std::size_t segments = 0;          // non-silent segments averaged
    double reference_level_db = 0.0;   // RMS of the compared reference, dB full scale
    double test_level_db = 0.0;        // RMS of the compared test signal, dB full scale
    double level_difference_db = 0.0;  // test level minus reference level
    bool level_defined = false;        // false when either side is all zero
};

// Pairs test sample n with reference sample n - delay, as the two arrive:
// the first `delay` test samples (before the reference starts) and test
// samples beyond the end of the reference are not compared. Segments are
// counted from the first pair; a last partial segment is left out of the
// segmental SNR. Memory stays bounded however long the signals when the
// reference is added no later than the test samples it is paired with.
class aligned_comparison {
public:
    explicit aligned_comparison(int delay) : delay_(delay < 0 ? 0 : delay) {}

    void add_input(const int16_t* samples, std::size_t n);  // the reference
    void add_output(const int16_t* samples, std::size_t n); // the test signal
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

// The lag (0..kMaxSearchDelay) at which test best matches reference: the
// highest normalised cross-correlation of the two signals' first
// differences. Differencing matters: a codec's high-pass filters advance
// the low frequencies that dominate speech energy, which pulls a plain
// waveform correlation one or more samples early; the differenced signals
// weight the band where the codec keeps the phase, and peak at the true
// delay. 0 when nothing correlates (silence).
int find_delay(const int16_t* reference, std::size_t n_reference, const int16_t* test, std::size_t n_test);

// find_delay, then aligned_comparison at that delay.
comparison_result compare(const std::vector<int16_t>& reference, const std::vector<int16_t>& test);

// What a listener hears of a speech codec, which need not keep the waveform
// (a CELP codec rebuilds it from a spectral envelope and an excitation, so
// its SNR is low however good it sounds): over the 10 ms frames of the
// reference that hold speech, with the test lagging by `delay`, the mean
// difference of the frame levels and the mean log-spectral distance of
// audio/frame_measures.h.
struct speech_measures {
    std::size_t frames = 0;                // frames of speech compared
    double level_envelope_db = 0.0;        // mean |frame level difference|
    double log_spectral_distance_db = 0.0; // mean RMS spectral difference
};
speech_measures compare_speech(const std::vector<int16_t>& reference, const std::vector<int16_t>& test, int delay);

} // namespace audio
