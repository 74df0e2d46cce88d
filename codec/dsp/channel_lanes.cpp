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
    // Passes of up to kMaxChannelLanes lanes: more vectors at once would
    // only queue behind one another.
    for (int start = 0; start < count; start += kMaxChannelLanes) {
        const int part = count - start < kMaxChannelLanes ? count - start : kMaxChannelLanes;
#if defined(__x86_64__)
        if (active_instruction_set() == instruction_set::avx2) {
            avx2::synthesis_filter_channels(lanes + start, part, n);
            continue;
        }
#endif
        portable_lanes::synthesis_channels(lanes + start, part, n);
    }
}

void synthesis_and_gain_high_pass_channels(const synthesis_lane* lanes, int synthesis_count,
                                           const gain_high_pass_lane* outputs, int output_count,
                                           const gain_high_pass_constants& constants, int n) {
    // Four of each kind per pass.
    for (int start = 0; start < synthesis_count || start < output_count; start += 4) {
        const int s = synthesis_count - start < 4 ? (synthesis_count > start ? synthesis_count - start : 0) : 4;
        const int o = output_count - start < 4 ? (output_count > start ? output_count - start : 0) : 4;
        const synthesis_lane* l = s > 0 ? lanes + start : nullptr;
#if defined(__x86_64__)
        if (active_instruction_set() == instruction_set::avx2) {
            avx2::synthesis_and_gain_high_pass_channels(l, s, outputs + start, o, constants, n);
            continue;
        }
#endif
        portable_lanes::synthesis_and_gain_high_pass(l, s, outputs + start, o, constants, n);
    }
}

void preprocess_channels(const pole_zero_lane* lanes, int count, const pole_zero_constants& constants, int n) {
    for (int start = 0; start < count; start += 4) {
        const int part = count - start < 4 ? count - start : 4;
#if defined(__x86_64__)
        if (active_instruction_set() == instruction_set::avx2) {
            avx2::preprocess_channels(lanes + start, part, constants, n);
            continue;
        }
#endif
        portable_lanes::preprocess(lanes + start, part, constants, n);
    }
}

} // namespace g729
