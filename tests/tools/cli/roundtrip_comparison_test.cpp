// roundtrip's figures: the project's one comparison (audio/comparison.h),
// which the host's "file compare" uses too, with the output set against the
// input the encoder's look-ahead (5 ms) later.
#include "audio/comparison.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "g729a.h"

namespace g729::tool {
namespace {

using audio::aligned_comparison;
using audio::comparison_result;
using audio::kSegment;
using audio::kSegmentSnrCeilingDb;
using audio::kSegmentSnrFloorDb;
using audio::kSilentSegmentDb;

constexpr int kCodecDelay = G729A_ENCODER_DELAY;

std::vector<int16_t> tone(std::size_t n, double amplitude) {
    std::vector<int16_t> x(n);
    for (std::size_t i = 0; i < n; ++i) x[i] = int16_t(std::lround(amplitude * std::sin(0.3 * double(i))));
    return x;
}

// Feeds input and output in 80-sample blocks, as roundtrip does, with the
// output lagging by `lag` samples.
comparison_result compare(const std::vector<int16_t>& x, const std::vector<int16_t>& y_undelayed, int lag) {
    std::vector<int16_t> y(std::size_t(lag), int16_t(0));
    y.insert(y.end(), y_undelayed.begin(), y_undelayed.end());
    y.resize(x.size());
    aligned_comparison c(kCodecDelay);
    for (std::size_t i = 0; i < x.size(); i += 80) {
        c.add_input(x.data() + i, 80);
        c.add_output(y.data() + i, 80);
    }
    return c.result();
}

TEST(AlignedComparison, OutputLateByTheLookAheadMatchesExactly) {
    const std::vector<int16_t> x = tone(8000, 8000.0);
    const comparison_result r = compare(x, x, kCodecDelay);
    EXPECT_EQ(r.samples, 8000u - kCodecDelay);
    EXPECT_TRUE(std::isinf(r.snr_db));
    EXPECT_DOUBLE_EQ(r.segmental_snr_db, kSegmentSnrCeilingDb);
    EXPECT_NEAR(r.level_difference_db, 0.0, 1e-12);

    // One sample off and the tone no longer lines up.
    EXPECT_LT(compare(x, x, kCodecDelay + 1).snr_db, 20.0);
}

TEST(AlignedComparison, HalfAmplitudeOutputGivesSixDbOfSnrAndSixDbLessLevel) {
    const std::vector<int16_t> x = tone(8000, 8000.0);
    std::vector<int16_t> half(x.size());
    for (std::size_t i = 0; i < x.size(); ++i) half[i] = int16_t(x[i] / 2);
    const comparison_result r = compare(x, half, kCodecDelay);
    EXPECT_NEAR(r.snr_db, 6.02, 0.05);
    EXPECT_NEAR(r.segmental_snr_db, 6.02, 0.1);
    EXPECT_NEAR(r.level_difference_db, -6.02, 0.05);
}

TEST(AlignedComparison, SilentSegmentsStayOutOfTheSegmentalSnr) {
    // Half a second of tone, half a second of near silence decoded as noise.
    std::vector<int16_t> x = tone(4000, 8000.0);
    std::vector<int16_t> quiet = tone(4000, 3.0);
    x.insert(x.end(), quiet.begin(), quiet.end());
    std::vector<int16_t> y = x;
    for (std::size_t i = 4000; i < y.size(); ++i) y[i] = int16_t(i % 2 ? 20 : -20);
    const comparison_result r = compare(x, y, kCodecDelay);
    EXPECT_EQ(r.segments, 50u); // segments follow the input: the tone fills exactly 50
    EXPECT_DOUBLE_EQ(r.segmental_snr_db, kSegmentSnrCeilingDb);
    EXPECT_TRUE(r.snr_defined);
    EXPECT_GT(r.snr_db, 40.0);
}

TEST(AlignedComparison, SilentInputLeavesTheRatiosUndefined) {
    const std::vector<int16_t> x(800, 0);
    const comparison_result r = compare(x, x, kCodecDelay);
    EXPECT_FALSE(r.snr_defined);
    EXPECT_FALSE(r.level_defined);
    EXPECT_EQ(r.segments, 0u);
}

std::vector<int16_t> read_raw(const std::string& name) {
    std::ifstream in(std::string(G729A_TEST_DATA) + "/vectors/" + name, std::ios::binary);
    const std::vector<char> b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<int16_t> s(b.size() / 2);
    for (std::size_t i = 0; i < s.size(); ++i) s[i] = int16_t(uint8_t(b[2 * i]) | uint8_t(b[2 * i + 1]) << 8);
    return s;
}

// roundtrip's figures for the bundled sample, through the comparison the
// host's "file compare" uses as well: its delay search finds the codec's
// delay on the same files and gives the same figures (checked from the
// host's side in tests/module/media_test.cpp).
TEST(AlignedComparison, RoundtripFiguresAreTheHostsFileCompareFigures) {
    const std::vector<int16_t> input = read_raw("speech_male_librivox.raw");
    const std::vector<int16_t> decoded = read_raw("speech_male_librivox.g729.raw");
    ASSERT_EQ(input.size(), 42400u);
    aligned_comparison c(kCodecDelay);
    for (std::size_t i = 0; i < input.size(); i += 80) {
        c.add_input(input.data() + i, 80);
        c.add_output(decoded.data() + i, 80);
    }
    const comparison_result r = c.result();
    EXPECT_EQ(r.samples, 42360u);
    EXPECT_NEAR(r.snr_db, 1.116, 0.001);
    EXPECT_NEAR(r.segmental_snr_db, 0.639, 0.001);
    EXPECT_EQ(r.segments, 449u);
    EXPECT_NEAR(r.level_difference_db, -0.89, 0.01);

    const comparison_result host = audio::compare(input, decoded);
    EXPECT_EQ(host.delay, kCodecDelay);
    EXPECT_EQ(host.samples, r.samples);
    EXPECT_EQ(host.snr_db, r.snr_db);
    EXPECT_EQ(host.segmental_snr_db, r.segmental_snr_db);
    EXPECT_EQ(host.level_difference_db, r.level_difference_db);
}

} // namespace
} // namespace g729::tool
