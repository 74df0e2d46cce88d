// The level of a signal in dB relative to full scale (dBFS): the one place
// the tool's dump and plot, and the comparison of two signals, compute it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace audio {

// The 16-bit full scale: a square wave from -32768 to 32767 is about 0 dBFS.
constexpr double kFullScale = 32768.0;

// `energy` the sum of the squares of `n` samples on the 16-bit scale; -inf
// for digital silence.
double dbfs(double energy, std::size_t n);

// The level of `n` samples; -inf for digital silence.
double level_dbfs(const int16_t* samples, std::size_t n);

} // namespace audio
