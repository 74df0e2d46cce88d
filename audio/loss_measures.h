// A decode with lost frames against the loss-free decode of the same stream,
// per 10 ms frame: frame levels, the distances of audio/frame_measures.h
// over the frames that hold speech, the recovery after each loss and the
// bursts in it. The concealment tests and the concealment benchmark both
// use them, so their figures mean the same thing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "audio/frame_measures.h"

namespace audio {

// Frames of the reference quieter than -50 dBFS hold no speech to judge.
constexpr double kActiveMeanSquare = 32768.0 * 32768.0 * 1e-5;

// The level of frame f (level_db of its mean square).
double frame_level(const std::vector<int16_t>& x, std::size_t f);
// Whether frame f of the reference holds speech (above -50 dBFS).
bool active_frame(const std::vector<int16_t>& reference, std::size_t f);
// The frames of the reference that hold speech.
std::vector<bool> active_frames(const std::vector<int16_t>& reference);

// level_envelope_distance and log_spectral_distance over the frames of the
// reference that hold speech.
double level_envelope_distance(const std::vector<int16_t>& reference, const std::vector<int16_t>& test);
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

// Spectral recovery profile: appends, for the same frames as
// recovery_differences, the log-spectral distance of test to reference.
void recovery_spectral_distances(const std::vector<int16_t>& reference, const std::vector<int16_t>& test,
                                 const std::vector<loss_span>& losses, int offset, std::vector<double>& out);

// Appends the log-spectral distance of test to reference at every missing
// frame of the losses that is active speech in the reference.
void concealed_spectral_distances(const std::vector<int16_t>& reference, const std::vector<int16_t>& test,
                                  const std::vector<loss_span>& losses, std::vector<double>& out);

// The largest level by which a missing frame of the loss exceeds the last
// frame before it, both floored at the -50 dBFS of active speech (noise
// under a silence does not count).
double concealed_excess(const std::vector<int16_t>& test, const loss_span& loss);

// The median (the mean of the two middle values for an even count); 0 for
// none.
double median(std::vector<double> values);
// The mean; 0 for none.
double mean(const std::vector<double>& values);

} // namespace audio
