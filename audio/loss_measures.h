// Frame levels and the distances between a decode with lost frames and the
// loss-free decode of the same stream, per 10 ms frame of 80 samples. The
// concealment tests and the concealment benchmark both use them, so their
// figures mean the same thing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace audio {

constexpr int kLossFrame = 80; // samples of one 10 ms frame

// Frames of the reference quieter than -50 dBFS hold no speech to judge.
constexpr double kActiveMeanSquare = 32768.0 * 32768.0 * 1e-5;

double mean_square(const int16_t* x, int n);
// 10 log10 of a mean square, in dB re one least significant bit; 0 dB for
// anything below one (a silent frame).
double level_db(double mean_square);
// The level of frame f.
double frame_level(const std::vector<int16_t>& x, std::size_t f);
// Whether frame f of the reference holds speech (above -50 dBFS).
bool active_frame(const std::vector<int16_t>& reference, std::size_t f);

// Level-envelope distance: the mean over the active frames of the
// reference of the absolute difference of the two frame levels, in dB.
double level_envelope_distance(const std::vector<int16_t>& reference, const std::vector<int16_t>& test);

// Log-spectral distance: over the same active frames, Hann-windowed, the RMS
// over the 40 bins (100 ... 4000 Hz) of the difference of the two power
// spectra in dB (each floored at 0 dB), averaged over the frames.
double log_spectral_distance(const std::vector<int16_t>& reference, const std::vector<int16_t>& test);

// One loss in a stream of frames: frames first_lost .. first_received - 1
// are missing, and the frames from first_received up to next_lost (the
// next missing frame, or the end) arrived.
struct loss_span {
    std::size_t first_lost;
    std::size_t first_received;
    std::size_t next_lost;
};

// The losses of a stream, lost[f] marking frame f missing, in order. A
// loss at the very start (nothing before it to conceal from) is left out.
std::vector<loss_span> loss_spans(const std::vector<bool>& lost);

// Recovery profile: appends to out, for each loss followed by a received
// frame, the level of test minus
// the level of reference at frame first_received + offset (offset -1 is the
// last missing frame), where that frame is active speech in the reference
// and comes before the next loss.
void recovery_differences(const std::vector<int16_t>& reference, const std::vector<int16_t>& test,
                          const std::vector<loss_span>& losses, int offset, std::vector<double>& out);

// The largest level by which a missing frame of the loss exceeds the last
// frame before it, both floored at the -50 dBFS of active speech (noise
// under a silence does not count).
double concealed_excess(const std::vector<int16_t>& test, const loss_span& loss);

// The median (the mean of the two middle values for an even count); 0 for
// none.
double median(std::vector<double> values);

} // namespace audio
