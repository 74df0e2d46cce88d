// libsoxr, loaded when audio is first resampled, and the 16-bit scale that
// audio moves on between libsndfile, the resampler and the codec.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include <soxr.h>

#include "tools/common/shared_library.h"

namespace g729::tool {

// The resampler hands out at most this many samples per call.
constexpr std::size_t kResampledChunk = 16384;
// libsndfile hands out samples normalised to [-1, 1); this brings them back
// to the 16-bit scale, exactly for 16-bit input.
constexpr double kSampleScale = 32768.0;

#define G729A_SOXR_FUNCTIONS(F) F(soxr_create) F(soxr_process) F(soxr_delete) F(soxr_io_spec) F(soxr_quality_spec)
G729A_FUNCTION_TABLE(soxr_functions, G729A_SOXR_FUNCTIONS);

const soxr_functions& soxr();

// A high-quality resampler of interleaved doubles; throws tool_error naming
// `name` when there is none.
soxr_t make_resampler(int from_rate, int to_rate, unsigned channels, const std::string& name);

// A sample on the 16-bit scale, rounded and saturated (counted in
// `clipped`); NaN becomes 0.
int16_t to_sample(double x, std::size_t& clipped);

} // namespace g729::tool
