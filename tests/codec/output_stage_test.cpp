#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "codec/codec.h"

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

} // namespace
} // namespace g729
