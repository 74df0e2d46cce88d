// Adaptive-codebook vector at 1/3-sample resolution, built in place.
#pragma once

#include <array>

namespace g729 {

constexpr int kInterpolationFilterTaps = 31;
// The 1/3-resolution interpolation filter: tap k lies k/3 samples away.
extern const std::array<double, kInterpolationFilterTaps> interpolation_filter_b30;

// Writes p[0..n-1] with the excitation in front of p delayed by t0 + frac/3
// (frac -1, 0 or +1). The buffer must hold t0 + 11 samples before p. Samples
// are produced in increasing order and later ones read earlier ones when
// t0 < n: the vector continues periodically.
// Runs the widest variant this processor has (see cpu.h).
void interpolate_excitation(double* p, int t0, int frac, int n);

namespace portable {
// The baseline evaluation every variant is tested against.
void interpolate_excitation(double* p, int t0, int frac, int n);
} // namespace portable

} // namespace g729
