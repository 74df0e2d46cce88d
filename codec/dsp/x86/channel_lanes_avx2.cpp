// The AVX2 build of the lane kernels: the same source as the portable one
// (channel_lanes_kernels.h), each four-lane vector one 256-bit register.
// No FMA: the target is AVX2 alone, so every product is rounded before its
// subtraction or sum, as in the portable code.
#include "codec/dsp/x86/avx2.h"

#if defined(__x86_64__)

// The kernels pass four-lane vectors only between inlined functions of this
// file, so GCC's note on their calling convention without AVX does not apply
// (it comes at the end of the file, past any push and pop).
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wpsabi"
#endif
#define G729A_LANES_NAMESPACE avx2_lanes
#define G729A_LANES_TARGET __attribute__((target("avx2")))
#include "codec/dsp/channel_lanes_kernels.h"
#undef G729A_LANES_TARGET
#undef G729A_LANES_NAMESPACE

namespace g729 {
namespace avx2 {

void synthesis_filter_channels(const synthesis_lane* lanes, int count, int n) {
    avx2_lanes::synthesis_channels(lanes, count, n);
}

void synthesis_and_gain_high_pass_channels(const synthesis_lane* lanes, int synthesis_count,
                                           const gain_high_pass_lane* outputs, int output_count,
                                           const gain_high_pass_constants& constants, int n) {
    avx2_lanes::synthesis_and_gain_high_pass(lanes, synthesis_count, outputs, output_count, constants, n);
}

void preprocess_channels(const pole_zero_lane* lanes, int count, const pole_zero_constants& constants, int n) {
    avx2_lanes::preprocess(lanes, count, constants, n);
}

} // namespace avx2
} // namespace g729

#endif
