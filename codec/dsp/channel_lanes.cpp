// The portable build of the lane kernels, and the choice between it and the
// AVX2 build, made once per process (cpu.h).
#include "codec/dsp/channel_lanes.h"

#include "codec/dsp/cpu.h"
#include "codec/dsp/x86/avx2.h"

// The kernels pass four-lane vectors only between inlined functions of this
// file, so GCC's note on their calling convention without AVX does not apply
// (it comes at the end of the file, past any push and pop).
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wpsabi"
#endif
#define G729A_LANES_NAMESPACE portable_lanes
#define G729A_LANES_TARGET
#include "codec/dsp/channel_lanes_kernels.h"
#undef G729A_LANES_TARGET
#undef G729A_LANES_NAMESPACE

namespace g729 {

void synthesis_filter_channels(const synthesis_lane* lanes, int count, int n) {
#if defined(__x86_64__)
    if (active_instruction_set() == instruction_set::avx2) {
        avx2::synthesis_filter_channels(lanes, count, n);
        return;
    }
#endif
    portable_lanes::synthesis_channels(lanes, count, n);
}

void synthesis_and_gain_high_pass_channels(const synthesis_lane* lanes, int synthesis_count,
                                           const gain_high_pass_lane* outputs, int output_count,
                                           const gain_high_pass_constants& constants, int n) {
#if defined(__x86_64__)
    if (active_instruction_set() == instruction_set::avx2) {
        avx2::synthesis_and_gain_high_pass_channels(lanes, synthesis_count, outputs, output_count, constants, n);
        return;
    }
#endif
    portable_lanes::synthesis_and_gain_high_pass(lanes, synthesis_count, outputs, output_count, constants, n);
}

void preprocess_channels(const pole_zero_lane* lanes, int count, const pole_zero_constants& constants, int n) {
#if defined(__x86_64__)
    if (active_instruction_set() == instruction_set::avx2) {
        avx2::preprocess_channels(lanes, count, constants, n);
        return;
    }
#endif
    portable_lanes::preprocess(lanes, count, constants, n);
}

} // namespace g729
