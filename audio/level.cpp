#include "audio/level.h"

#include <cmath>

namespace audio {

double dbfs(double energy, std::size_t n) { return 10.0 * std::log10(energy / double(n) / (kFullScale * kFullScale)); }

double level_dbfs(const int16_t* samples, std::size_t n) {
    double energy = 0.0;
    for (std::size_t i = 0; i < n; ++i) energy += double(samples[i]) * double(samples[i]);
    return dbfs(energy, n);
}

} // namespace audio
