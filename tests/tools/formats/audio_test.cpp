#include "tools/formats/audio_source.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "tools/formats/sndfile_library.h"
#include "tools/common/tool_error.h"
#include "tests/tools/tool_test_support.h"

namespace g729::tool {
namespace {

using testing::ToolTest;
using testing::kPi;

std::vector<int16_t> read_all(audio_source& source) {
    std::vector<int16_t> out;
    int16_t block[333]; // deliberately not a multiple of anything
    std::size_t n;
    while ((n = source.read(block, 333)) > 0) out.insert(out.end(), block, block + n);
    return out;
}

// Largest deviation from amplitude·sin(2π f n / 8000) away from the edges,
// where the resampler's filter sees the start and end of the signal.
double deviation_from_tone(const std::vector<int16_t>& x, double amplitude, double frequency) {
    double worst = 0.0;
    for (std::size_t n = 200; n + 200 < x.size(); ++n)
        worst = std::max(worst, std::fabs(x[n] - amplitude * std::sin(2.0 * kPi * frequency * double(n) / 8000.0)));
    return worst;
}

using AudioSource = ToolTest;

// Files at other rates and channel counts reach 8 kHz mono without delay:
// left 0.5 and right 0.1 of a tone mix to 0.3 of full scale.
TEST_F(AudioSource, OtherRatesAndChannelsAreMixedToMonoAndResampledWithoutDelay) {
    const struct {
        int format;
        int rate;
        std::vector<double> gains; // per channel
        double frequency;
        const char* conversion;
        double amplitude; // of the mono tone at 8 kHz
    } cases[] = {
        {SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, {0.5, 0.1}, 440.0, "48000 Hz, 2 channels: mixed to mono, resampled to 8000 Hz", 0.3},
        {SF_FORMAT_WAV | SF_FORMAT_FLOAT, 16000, {0.25}, 1000.0, "16000 Hz, 1 channel: resampled to 8000 Hz", 0.25},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.conversion);
        std::vector<double> interleaved;
        for (int i = 0; i < c.rate; ++i)
            for (double gain : c.gains) interleaved.push_back(gain * std::sin(2.0 * kPi * c.frequency * i / c.rate));
        testing::write_audio(path("tone.wav"), c.format, c.rate, int(c.gains.size()), interleaved);
        audio_source source(operand{path("tone.wav")}, file_format::wav);
        EXPECT_EQ(source.conversion(), c.conversion);
        const std::vector<int16_t> x = read_all(source);
        EXPECT_NEAR(double(x.size()), 8000.0, 1.0);
        EXPECT_LT(deviation_from_tone(x, c.amplitude * 32768.0, c.frequency), 10.0);
        EXPECT_NEAR(source.fraction_done(), 1.0, 1e-9);
    }
}

TEST_F(AudioSource, SixteenAndTwentyFourBitFilesAt8kHzPassThroughExactly) {
    std::vector<int16_t> samples;
    for (int i = 0; i < 1000; ++i) samples.push_back(int16_t((i * 7919) % 65536 - 32768));
    samples[0] = -32768;
    samples[1] = 32767;
    const struct {
        const char* name;
        int format;
    } files[] = {{"a.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16}, {"a.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_24},
                 {"a.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16}};
    for (const auto& f : files) {
        testing::write_pcm(path(f.name), f.format, 8000, samples);
        audio_source source(operand{path(f.name)}, format_from_extension(f.name));
        EXPECT_TRUE(source.conversion().empty()) << f.name;
        EXPECT_EQ(read_all(source), samples) << f.name;
    }
}

TEST_F(AudioSource, FloatSamplesBeyondFullScaleAreSaturatedAndCounted) {
    testing::write_audio(path("loud.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, 8000, 1, {1.5, -1.5, 0.25, -1.0});
    audio_source source(operand{path("loud.wav")}, file_format::wav);
    EXPECT_EQ(read_all(source), (std::vector<int16_t>{32767, -32768, 8192, -32768}));
    EXPECT_EQ(source.clipped(), 2u);
}

// libsndfile closes a descriptor it cannot open even when asked not to; the
// caller's own descriptor must survive that and a successful open alike, or
// its owner's close lands on whatever a parallel worker opened meanwhile.
TEST_F(AudioSource, LibsndfileNeverClosesTheCallersDescriptor) {
    testing::write_file(path("bad.wav"), {'R', 'I', 'F', 'F', 'j', 'u', 'n', 'k', 'j', 'u', 'n', 'k'});
    testing::write_audio(path("good.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 8000, 1, std::vector<double>(800, 0.1));
    for (const char* name : {"bad.wav", "good.wav"}) {
        SCOPED_TRACE(name);
        const int fd = open(path(name).c_str(), O_RDONLY);
        ASSERT_GE(fd, 0);
        SF_INFO info{};
        SNDFILE* snd = open_sndfile_descriptor(fd, SFM_READ, &info, name);
        EXPECT_EQ(snd != nullptr, std::string(name) == "good.wav");
        if (snd) sf_close(snd);
        EXPECT_NE(fcntl(fd, F_GETFD), -1) << "the caller's descriptor was closed";
        EXPECT_EQ(close(fd), 0);
    }
}

TEST(FileFormat, ExtensionsDecideTheFormatCaseInsensitively) {
    EXPECT_EQ(format_from_extension("a.raw"), file_format::raw);
    EXPECT_EQ(format_from_extension("dir.x/a.SLN"), file_format::raw);
    EXPECT_EQ(format_from_extension("a.g729"), file_format::g729);
    EXPECT_EQ(format_from_extension("a.Bit"), file_format::bit);
    EXPECT_EQ(format_from_extension("a.WAV"), file_format::wav);
    EXPECT_EQ(format_from_extension("a.flac"), file_format::sndfile);
    EXPECT_EQ(format_from_extension("a.aif"), file_format::sndfile);
    EXPECT_EQ(format_from_extension("a.mp4"), file_format::unknown);
    EXPECT_EQ(format_from_extension("dir.wav/noext"), file_format::unknown);
}

} // namespace
} // namespace g729::tool
