#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "codec/decoder/output.h"

namespace g729 {
namespace {

TEST(OutputStage, RoundsHalvesAwayFromZeroAndSaturates) {
    struct Case {
        double x;
        int16_t want;
    };
    const Case cases[] = {
        {32767.4, 32767}, {32767.5, 32767}, {1e9, 32767},    {-32768.5, -32768}, {-32768.49, -32768},
        {-40000.0, -32768}, {-0.5, -1},     {0.5, 1},        {2.5, 3},           {-2.5, -3},
        {0.49, 0},        {-0.49, 0},       {0.0, 0},        {-0.0, 0},          {1234.4999, 1234},
    };
    for (const Case& c : cases) EXPECT_EQ(to_pcm_sample(c.x), c.want) << c.x;
}

TEST(OutputStage, ValuesWithoutANumberBecomeSilence) {
    EXPECT_EQ(to_pcm_sample(std::numeric_limits<double>::quiet_NaN()), 0);
    EXPECT_EQ(to_pcm_sample(std::numeric_limits<double>::infinity()), 0);
    EXPECT_EQ(to_pcm_sample(-std::numeric_limits<double>::infinity()), 0);
}

// The frame is rounded eight samples at a time (four pairs of lanes) and the
// last n mod 8 one by one; every sample must come out as to_pcm_sample gives
// it, whichever lane of a block or the tail it falls in (301 and 300 samples
// leave tails of 5 and 4).
TEST(OutputStage, RoundingAFrameGivesEachSampleAsAlone) {
    std::vector<double> x = {32767.4, 32767.5, 1e9, -32768.5, -32768.49, -40000.0, -0.5, 0.5, 2.5, -2.5, 0.49, -0.49,
                             0.0, -0.0, 1234.4999, 32766.5, -32767.5, 32767.0, -32768.0,
                             std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
                             -std::numeric_limits<double>::infinity(), std::numeric_limits<double>::denorm_min(),
                             -std::numeric_limits<double>::max()};
    std::mt19937_64 rng(3);
    std::uniform_real_distribution<double> value(-40000.0, 40000.0);
    while (x.size() < 301) x.push_back(value(rng));
    for (size_t n : {x.size(), x.size() - 1}) {
        std::vector<int16_t> out(n, 99);
        round_to_pcm(x.data(), out.data(), int(n));
        for (size_t i = 0; i < n; ++i) ASSERT_EQ(out[i], to_pcm_sample(x[i])) << "sample " << i << " = " << x[i];
    }
}

} // namespace
} // namespace g729
