// The lane kernels against the one-signal code they stand for: every lane,
// whatever the number of lanes and whatever its neighbours hold, gives the
// bits of its own synthesis_filter, gain control and high-pass, or
// pre-processing filter. (The suite runs once more on the portable kernels,
// see tests/CMakeLists.txt.)
#include "codec/dsp/channel_lanes.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "codec/decoder/postfilter.h"
#include "codec/dsp/filters.h"
#include "codec/encoder/encoder.h"
#include "codec/encoder/preprocess.h"

namespace g729 {
namespace {

bool same_bits(const double* a, const double* b, int n) { return std::memcmp(a, b, sizeof(double) * size_t(n)) == 0; }

// A stable-enough random filter: small coefficients, some lanes with a
// memory of denormal-sized values that the flush must clear.
struct random_signal {
    lp_coefficients a;
    std::vector<double> x, memory;
};

random_signal make_signal(std::mt19937& random, int lane) {
    std::uniform_real_distribution<double> coefficient(-0.3, 0.3), sample(-3e4, 3e4), tiny(-3e-5, 3e-5);
    random_signal s;
    s.a[0] = 1.0;
    for (int i = 1; i <= kOrder; ++i) s.a[size_t(i)] = coefficient(random);
    for (int k = 0; k < kSubframe; ++k) s.x.push_back(lane % 5 == 4 ? tiny(random) : sample(random));
    for (int j = 0; j < kOrder; ++j) s.memory.push_back(lane % 3 == 2 ? tiny(random) : sample(random));
    return s;
}

TEST(ManyChannelLanes, EverySynthesisLaneMatchesItsOwnFilterForAnyNumberOfLanes) {
    std::mt19937 random(3);
    for (int count = 1; count <= kMaxChannelLanes; ++count) {
        for (int n : {kSubframe, 22, 7}) {
            std::vector<random_signal> signals;
            for (int l = 0; l < count; ++l) signals.push_back(make_signal(random, l));
            std::vector<std::vector<double>> y(size_t(count), std::vector<double>(kSubframe, -1.0));
            std::vector<std::vector<double>> memory_out(size_t(count), std::vector<double>(kOrder, -1.0));
            std::vector<synthesis_lane> lanes;
            for (int l = 0; l < count; ++l) {
                random_signal& s = signals[size_t(l)];
                // Odd lanes update their memory, even ones leave it alone.
                lanes.push_back({&s.a, s.x.data(), y[size_t(l)].data(), s.memory.data(),
                                 l % 2 == 1 ? memory_out[size_t(l)].data() : nullptr});
            }
            synthesis_filter_channels(lanes.data(), count, n);
            for (int l = 0; l < count; ++l) {
                random_signal& s = signals[size_t(l)];
                std::vector<double> want(kSubframe, -1.0), memory = s.memory;
                synthesis_filter(s.a, s.x.data(), want.data(), n, memory.data(), true);
                EXPECT_TRUE(same_bits(y[size_t(l)].data(), want.data(), kSubframe))
                    << "lane " << l << " of " << count << ", " << n << " samples";
                if (l % 2 == 1) {
                    EXPECT_TRUE(same_bits(memory_out[size_t(l)].data(), memory.data(), kOrder))
                        << "memory of lane " << l << " of " << count << ", " << n << " samples";
                }
            }
        }
    }
}

// In place, with the memory in the same array: the way impulse responses
// and the decoder's own synthesis memory are run.
TEST(ManyChannelLanes, InPlaceLanesReadTheirMemoryBeforeWritingTheirOutput) {
    std::mt19937 random(5);
    for (int count : {1, 3, 6, 12}) {
        std::vector<random_signal> signals;
        std::vector<std::vector<double>> buffers;
        std::vector<synthesis_lane> lanes;
        for (int l = 0; l < count; ++l) signals.push_back(make_signal(random, l));
        for (int l = 0; l < count; ++l) {
            std::vector<double> b(signals[size_t(l)].x);
            buffers.push_back(b);
        }
        std::vector<std::vector<double>> want = buffers;
        for (int l = 0; l < count; ++l) {
            double* h = buffers[size_t(l)].data();
            lanes.push_back({&signals[size_t(l)].a, h, h, h + 20, h + 30});
        }
        for (int l = 0; l < count; ++l) {
            double* h = want[size_t(l)].data();
            double memory[kOrder];
            std::memcpy(memory, h + 20, sizeof memory);
            synthesis_filter(signals[size_t(l)].a, h, h, kSubframe, memory, true);
            std::memcpy(h + 30, memory, sizeof memory);
        }
        synthesis_filter_channels(lanes.data(), count, kSubframe);
        for (int l = 0; l < count; ++l)
            EXPECT_TRUE(same_bits(buffers[size_t(l)].data(), want[size_t(l)].data(), kSubframe))
                << "lane " << l << " of " << count;
    }
}

TEST(ManyChannelLanes, GainAndHighPassLanesMatchTheOneChannelOutputStage) {
    std::mt19937 random(11);
    std::uniform_real_distribution<double> sample(-2e4, 2e4), gain(0.0, 1.5), memory(-1e4, 1e4);
    const gain_high_pass_constants constants = {0.9, 1.9330735, -0.93589199, 0.93980581, -1.8795834, 0.93980581};
    for (int synthesis_count = 0; synthesis_count <= 4; ++synthesis_count) {
        for (int count = 1; count <= 4; ++count) {
            const size_t lanes_n = size_t(count);
            std::vector<std::vector<double>> y(lanes_n), want(lanes_n);
            std::vector<double> gains(lanes_n), want_gains(lanes_n);
            std::vector<pole_zero_memory> high_pass(lanes_n), want_high_pass(lanes_n);
            std::vector<gain_high_pass_lane> outputs;
            for (int l = 0; l < count; ++l) {
                for (int k = 0; k < kSubframe; ++k) y[size_t(l)].push_back(sample(random));
                gains[size_t(l)] = gain(random);
                high_pass[size_t(l)] = {memory(random), memory(random), memory(random), memory(random)};
                want[size_t(l)] = y[size_t(l)];
                want_gains[size_t(l)] = gains[size_t(l)];
                want_high_pass[size_t(l)] = high_pass[size_t(l)];
                const bool scale = l != 1;
                const double g1 = 0.1 * gain(random);
                outputs.push_back({y[size_t(l)].data(), &gains[size_t(l)], scale, g1, &high_pass[size_t(l)]});
                postfilter_state post{};
                post.agc_gain = want_gains[size_t(l)];
                gain_control_with_high_pass(post, scale, g1, want_high_pass[size_t(l)], want[size_t(l)].data());
                want_gains[size_t(l)] = post.agc_gain;
            }
            // Synthesis lanes beside them must neither disturb them nor be
            // disturbed.
            std::vector<random_signal> signals;
            std::vector<std::vector<double>> synthesized(4, std::vector<double>(kSubframe));
            std::vector<synthesis_lane> lanes;
            for (int l = 0; l < synthesis_count; ++l) signals.push_back(make_signal(random, l));
            for (int l = 0; l < synthesis_count; ++l) {
                random_signal& s = signals[size_t(l)];
                lanes.push_back({&s.a, s.x.data(), synthesized[size_t(l)].data(), s.memory.data(), nullptr});
            }
            synthesis_and_gain_high_pass_channels(lanes.data(), synthesis_count, outputs.data(), count, constants,
                                                  kSubframe);
            for (int l = 0; l < count; ++l) {
                EXPECT_TRUE(same_bits(y[size_t(l)].data(), want[size_t(l)].data(), kSubframe)) << "lane " << l;
                EXPECT_TRUE(same_bits(&gains[size_t(l)], &want_gains[size_t(l)], 1)) << "gain of lane " << l;
                EXPECT_EQ(std::memcmp(&high_pass[size_t(l)], &want_high_pass[size_t(l)], sizeof(pole_zero_memory)), 0)
                    << "high-pass memory of lane " << l;
            }
            for (int l = 0; l < synthesis_count; ++l) {
                random_signal& s = signals[size_t(l)];
                std::vector<double> expect(kSubframe);
                synthesis_filter(s.a, s.x.data(), expect.data(), kSubframe, s.memory.data(), false);
                EXPECT_TRUE(same_bits(synthesized[size_t(l)].data(), expect.data(), kSubframe))
                    << "synthesis lane " << l;
            }
        }
    }
}

TEST(ManyChannelLanes, PreprocessingLanesMatchTheOneChannelFilterFlushIncluded) {
    std::mt19937 random(13);
    std::uniform_real_distribution<double> sample(-3e4, 3e4);
    const pole_zero_constants constants = {1.9059465, -0.9114024, 0.92727435, -1.8544941, 0.92727435, 2e-5};
    constexpr int kBlocks = 8;
    for (int count = 1; count <= 4; ++count) {
        const size_t lanes_n = size_t(count);
        std::vector<std::vector<double>> x(lanes_n), want(lanes_n);
        std::vector<pole_zero_memory> memory(lanes_n), want_memory(lanes_n);
        for (int l = 0; l < count; ++l) {
            // Lane 1 falls silent after a block, so its outputs decay
            // through the flush threshold.
            for (int k = 0; k < 80 * kBlocks; ++k) x[size_t(l)].push_back(l == 1 && k >= 80 ? 0.0 : sample(random));
            want[size_t(l)] = x[size_t(l)];
        }
        for (int block = 0; block < kBlocks; ++block) {
            std::vector<pole_zero_lane> part;
            for (int l = 0; l < count; ++l) part.push_back({x[size_t(l)].data() + 80 * block, &memory[size_t(l)]});
            preprocess_channels(part.data(), count, constants, 80);
            for (int l = 0; l < count; ++l)
                preprocess_filter(want_memory[size_t(l)], want[size_t(l)].data() + 80 * block, 80);
        }
        for (int l = 0; l < count; ++l) {
            EXPECT_TRUE(same_bits(x[size_t(l)].data(), want[size_t(l)].data(), 80 * kBlocks))
                << "lane " << l << " of " << count;
            EXPECT_EQ(std::memcmp(&memory[size_t(l)], &want_memory[size_t(l)], sizeof(pole_zero_memory)), 0)
                << "memory of lane " << l << " of " << count;
        }
    }
}

} // namespace
} // namespace g729
