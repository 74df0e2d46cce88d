// The host's media helpers behind "file convert" and "file compare".
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <vector>

#include "host/media.h"

namespace {

TEST(HostMedia, CompareFindsTheDelayAndMeasuresLevelAndError) {
    std::vector<int16_t> reference(4000);
    for (size_t i = 0; i < reference.size(); ++i) {
        reference[i] = int16_t(8000.0 * std::sin(0.05 * double(i)) + 3000.0 * std::sin(0.31 * double(i)));
    }
    // Half the amplitude, 40 samples late: the error is the other half.
    std::vector<int16_t> test(40, 0);
    for (int16_t s : reference) test.push_back(int16_t(s / 2));
    const corvane::comparison c = corvane::compare_audio(reference, test);
    EXPECT_EQ(c.delay, 40);
    EXPECT_NEAR(c.test_level - c.reference_level, -6.02, 0.01);
    EXPECT_NEAR(c.snr, 6.02, 0.01);
    EXPECT_NEAR(c.segmental_snr, 6.02, 0.05);
}

TEST(HostMedia, WavFilesRoundTripAndForeignFormatsAreNamed) {
    char pattern[] = "/tmp/corvane-media-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string dir = pattern;
    corvane::media_file audio;
    audio.format = "slin";
    audio.samples = {0, 1, -1, 32767, -32768, 1234};
    std::string error;
    ASSERT_TRUE(corvane::write_media(dir + "/a.wav", audio, error)) << error;
    corvane::media_file back;
    ASSERT_TRUE(corvane::read_media(dir + "/a.wav", back, error)) << error;
    EXPECT_EQ(back.samples, audio.samples);

    // A 16 kHz header is refused with what the file holds.
    std::vector<char> bytes;
    {
        std::ifstream in(dir + "/a.wav", std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    bytes[24] = char(0x80);
    bytes[25] = char(0x3e); // 16000 Hz
    std::ofstream(dir + "/b.wav", std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
    EXPECT_FALSE(corvane::read_media(dir + "/b.wav", back, error));
    EXPECT_NE(error.find("16000 Hz"), std::string::npos) << error;

    std::ofstream(dir + "/odd.raw", std::ios::binary) << "abc";
    EXPECT_FALSE(corvane::read_media(dir + "/odd.raw", back, error));
    EXPECT_NE(error.find("odd number of bytes"), std::string::npos) << error;
    std::system(("rm -rf '" + dir + "'").c_str());
}

} // namespace
