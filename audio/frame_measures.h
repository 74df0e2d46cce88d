// Frame-by-frame measures of a decoded signal against a reference, on
// 80-sample (10 ms) frames: level envelope and log-spectral distance. The
// concealment tests and the silence-suppression benchmark judge with them.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace audio {

constexpr int kMeasureFrame = 80;
constexpr int kSpectrumBins = kMeasureFrame / 2; // 100 ... 4000 Hz at 8 kHz

double mean_square(const int16_t* x, int n);
// 10 log10 of a mean square, in dB re one least significant bit; 0 dB for
// anything under 1.
double level_db(double mean_square);

// The mean over the frames marked active of the absolute difference of the
// two frame levels (dB).
double level_envelope_distance(const std::vector<int16_t>& reference, const std::vector<int16_t>& test,
                               const std::vector<bool>& active);

// Over the same frames, Hann-windowed, the RMS over the 40 bins of the
// difference of the two power spectra in dB (each floored at 0 dB),
// averaged over the frames.
double log_spectral_distance(const std::vector<int16_t>& reference, const std::vector<int16_t>& test,
                             const std::vector<bool>& active);

// The power spectrum of one Hann-windowed frame, bins 1..40 (bin k at
// 100 k Hz), normalised by the window's energy.
class frame_spectrum {
public:
    frame_spectrum();
    void power(const int16_t* x, std::array<double, kSpectrumBins + 1>& out) const;

private:
    std::vector<double> cosines_, sines_;
    double window_energy_ = 0.0;
};

// The log-spectral distance of one frame: the RMS over the 40 bins of the
// difference of the two power spectra in dB (each floored at 0 dB).
double frame_spectral_distance(const frame_spectrum& spectrum, const int16_t* reference, const int16_t* test);

} // namespace audio
