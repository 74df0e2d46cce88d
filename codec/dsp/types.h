// Shared sizes and signal types of the codec.
#pragma once

#include <array>

namespace g729 {

constexpr int kFrame = 80;          // samples per 10 ms frame
constexpr int kSubframe = 40;       // samples per 5 ms subframe
constexpr int kSubframes = 2;
constexpr int kOrder = 10;          // LP order
constexpr int kLpSize = kOrder + 1; // a[0..10]
constexpr int kPitchMin = 20;
constexpr int kPitchMax = 143;
constexpr int kInterpolationTaps = 10;
// Past excitation kept in front of the current frame: the longest lag plus
// the reach of the interpolation filter.
constexpr int kExcitationHistory = kPitchMax + kInterpolationTaps + 1; // 154

// A(z) = 1 + a[1]z^-1 + ... + a[10]z^-10, a[0] = 1.
using lp_coefficients = std::array<double, kLpSize>;
// The filters of the two subframes of a frame, back to back.
using lp_filter_pair = std::array<lp_coefficients, kSubframes>;
// Line spectral pairs in the cosine domain, decreasing.
using lsp_vector = std::array<double, kOrder>;
// Line spectral frequencies in radians, increasing.
using lsf_vector = std::array<double, kOrder>;
// Filter history, oldest first.
using filter_memory = std::array<double, kOrder>;
// The integer pitch lag of each subframe.
using pitch_lags = std::array<int, kSubframes>;

// The bounds of the pitch sharpening factor both ends keep: the previous
// subframe's pitch gain limited to [0.2, 0.7945].
constexpr double kSharpeningMin = 0.2;
constexpr double kSharpeningMax = 0.7945;

constexpr int kPredictorOrder = 4; // past frames of the LSF and gain predictors
// Past quantizer outputs of the switched MA predictor, newest row first.
using lsf_memory = std::array<lsf_vector, kPredictorOrder>;
// One set of MA predictor coefficients: 4 past frames x 10.
using lsf_predictor_set = std::array<std::array<double, kOrder>, kPredictorOrder>;
// Past quantized prediction-error energies (dB) of the gain predictor.
using energy_memory = std::array<double, kPredictorOrder>;

// Memory of a second-order pole-zero filter: the last two inputs and the
// last two outputs, newest first.
struct pole_zero_memory {
    double x1, x2, y1, y2;
};

} // namespace g729
