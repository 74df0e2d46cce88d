// The host's media helpers behind "file convert" and "file compare", and the
// one comparison the host shares with the g729a tool.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <vector>

#include "audio/comparison.h"
#include "host/media.h"

namespace {

// A whole media_file written through the host's writer, as the host's own
// conversions write theirs.
bool write_media(const std::string& path, const corvane::media_file& in, std::string& error) {
    corvane::media_writer writer;
    if (!writer.open(path, error)) return false;
    if (writer.format() != in.format) {
        error = path + ": holds " + writer.format() + ", not " + in.format;
        return false;
    }
    const bool ok = in.format == "g729" ? writer.write(in.bytes.data(), in.bytes.size(), error)
                                        : writer.write(in.samples.data(), in.samples.size(), error);
    return ok && writer.finish(error);
}

std::vector<int16_t> read_vector(const std::string& name) {
    corvane::media_file f;
    std::string error;
    EXPECT_TRUE(corvane::read_media(std::string(G729A_TEST_DATA) + "/vectors/" + name, f, error)) << error;
    return f.samples;
}

TEST(HostMedia, CompareFindsTheDelayAndMeasuresLevelAndError) {
    std::vector<int16_t> reference(4000);
    for (size_t i = 0; i < reference.size(); ++i) {
        reference[i] = int16_t(8000.0 * std::sin(0.05 * double(i)) + 3000.0 * std::sin(0.31 * double(i)));
    }
    // Half the amplitude, 40 samples late: the error is the other half.
    std::vector<int16_t> test(40, 0);
    for (int16_t s : reference) test.push_back(int16_t(s / 2));
    const audio::comparison_result c = audio::compare(reference, test);
    EXPECT_EQ(c.delay, 40);
    EXPECT_EQ(c.samples, reference.size());
    EXPECT_NEAR(c.level_difference_db, -6.02, 0.01);
    EXPECT_NEAR(c.test_level_db - c.reference_level_db, -6.02, 0.01);
    EXPECT_NEAR(c.snr_db, 6.02, 0.01);
    EXPECT_NEAR(c.segmental_snr_db, 6.02, 0.05);
    EXPECT_EQ(c.segments, 50u);
}

// The codec's high-pass filters advance the low frequencies of its output,
// which pulled a plain waveform correlation early (39 samples on the
// LibriVox sample). The search must find the codec's true 5 ms delay on
// every decoded speech vector (a periodic signal has no single delay: every
// period aligns as well), and then give exactly
// the figures of the comparison at the known delay, which is what the
// g729a tool's roundtrip prints (tests/tools/comparison_test.cpp checks the
// same figures from the tool's side).
TEST(HostMedia, SearchFindsTheCodecDelayAndAgreesWithTheKnownDelay) {
    for (const char* name : {"speech_male_librivox", "speech_female_espeak", "speech_male_espeak"}) {
        SCOPED_TRACE(name);
        const std::vector<int16_t> input = read_vector(std::string(name) + ".raw");
        const std::vector<int16_t> decoded = read_vector(std::string(name) + ".g729.raw");
        const audio::comparison_result searched = audio::compare(input, decoded);
        EXPECT_EQ(searched.delay, 40);
        audio::aligned_comparison known(40);
        for (size_t i = 0; i < input.size(); i += 80) {
            known.add_input(input.data() + i, std::min<size_t>(80, input.size() - i));
            known.add_output(decoded.data() + i, std::min<size_t>(80, decoded.size() - i));
        }
        const audio::comparison_result r = known.result();
        EXPECT_EQ(searched.samples, r.samples);
        EXPECT_EQ(searched.snr_db, r.snr_db);
        EXPECT_EQ(searched.segmental_snr_db, r.segmental_snr_db);
        EXPECT_EQ(searched.segments, r.segments);
        EXPECT_EQ(searched.level_difference_db, r.level_difference_db);
    }
    const audio::comparison_result c =
        audio::compare(read_vector("speech_male_librivox.raw"), read_vector("speech_male_librivox.g729.raw"));
    EXPECT_EQ(c.samples, 42360u);
    EXPECT_NEAR(c.snr_db, 1.116, 0.001);
    EXPECT_NEAR(c.segmental_snr_db, 0.639, 0.001);
    EXPECT_EQ(c.segments, 449u);
    EXPECT_NEAR(c.level_difference_db, -0.89, 0.01);
}

// The speech measures pair each reference frame with the test frame `delay`
// samples later: a copy that lags is as close as the signal itself, a
// codec's output is close, unrelated audio is far; silence has no frames.
TEST(HostMedia, SpeechMeasuresAlignByTheDelayAndTellCodedFromUnrelated) {
    const std::vector<int16_t> speech = read_vector("speech_male_librivox.raw");
    std::vector<int16_t> late(40, 0);
    late.insert(late.end(), speech.begin(), speech.end());
    std::vector<int16_t> noise(speech.size());
    uint32_t seed = 1;
    for (int16_t& s : noise) {
        seed = seed * 1664525u + 1013904223u;
        s = int16_t(int32_t(seed >> 16) % 3200 - 1600);
    }
    struct {
        const char* name;
        std::vector<int16_t> test;
        int delay;
        double level_min, level_max, spectrum_min, spectrum_max;
    } cases[] = {
        {"itself, 40 samples late", late, 40, 0.0, 0.0, 0.0, 0.0},
        {"G.729A's output", read_vector("speech_male_librivox.g729.raw"), 40, 1.0, 2.5, 8.0, 10.0},
        {"noise", noise, 0, 5.0, 100.0, 20.0, 100.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const audio::speech_measures m = audio::compare_speech(speech, c.test, c.delay);
        EXPECT_EQ(m.frames, 449u);
        EXPECT_GE(m.level_envelope_db, c.level_min);
        EXPECT_LE(m.level_envelope_db, c.level_max);
        EXPECT_GE(m.log_spectral_distance_db, c.spectrum_min);
        EXPECT_LE(m.log_spectral_distance_db, c.spectrum_max);
    }
    EXPECT_EQ(audio::compare_speech(std::vector<int16_t>(800, 0), speech, 0).frames, 0u);
    EXPECT_EQ(audio::compare_speech(speech, std::vector<int16_t>(40, 0), 40).frames, 0u);
}

TEST(HostMedia, SilenceAndIdenticalSignalsHaveNoDelayAndSayWhatIsUndefined) {
    const std::vector<int16_t> silence(800, 0);
    const audio::comparison_result s = audio::compare(silence, silence);
    EXPECT_EQ(s.delay, 0);
    EXPECT_FALSE(s.snr_defined);
    EXPECT_FALSE(s.level_defined);
    const std::vector<int16_t> speech = read_vector("speech_male_librivox.raw");
    const audio::comparison_result same = audio::compare(speech, speech);
    EXPECT_EQ(same.delay, 0);
    EXPECT_TRUE(std::isinf(same.snr_db));
}

class HostMediaFiles : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/corvane-media-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override { std::system(("rm -rf '" + dir + "'").c_str()); }
    std::vector<char> bytes_of(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::vector<char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    void write_bytes(const std::string& path, const std::vector<char>& b) {
        std::ofstream(path, std::ios::binary).write(b.data(), std::streamsize(b.size()));
    }
    std::string dir;
};

TEST_F(HostMediaFiles, WavFilesRoundTripAndForeignFormatsAreNamed) {
    corvane::media_file audio;
    audio.format = "slin";
    audio.samples = {0, 1, -1, 32767, -32768, 1234};
    std::string error;
    ASSERT_TRUE(write_media(dir + "/a.wav", audio, error)) << error;
    corvane::media_file back;
    ASSERT_TRUE(corvane::read_media(dir + "/a.wav", back, error)) << error;
    EXPECT_EQ(back.samples, audio.samples);
    std::vector<char> bytes = bytes_of(dir + "/a.wav");
    ASSERT_EQ(bytes.size(), 44u + 12u);
    EXPECT_EQ(bytes[4], 36 + 12);  // RIFF size, filled in at the end
    EXPECT_EQ(bytes[40], 12);      // data size

    // A 16 kHz header is refused with what the file holds.
    bytes[24] = char(0x80);
    bytes[25] = char(0x3e); // 16000 Hz
    write_bytes(dir + "/b.wav", bytes);
    EXPECT_FALSE(corvane::read_media(dir + "/b.wav", back, error));
    EXPECT_NE(error.find("16000 Hz"), std::string::npos) << error;

    std::ofstream(dir + "/odd.raw", std::ios::binary) << "abc";
    EXPECT_FALSE(corvane::read_media(dir + "/odd.raw", back, error));
    EXPECT_NE(error.find("odd number of bytes"), std::string::npos) << error;
}

// A recording that was never closed: the data chunk claims more than the
// file holds, and its samples are still read; a chunk before it that runs
// past the end is damage.
TEST_F(HostMediaFiles, CutShortDataChunkGivesTheSamplesItHolds) {
    corvane::media_file audio;
    audio.format = "slin";
    audio.samples = {5, -6, 7, -8};
    std::string error;
    ASSERT_TRUE(write_media(dir + "/a.wav", audio, error)) << error;
    std::vector<char> bytes = bytes_of(dir + "/a.wav");
    bytes[40] = char(0xff);
    bytes[41] = char(0xff); // data size 65535, of which 8 bytes are there
    write_bytes(dir + "/cut.wav", bytes);
    corvane::media_file back;
    ASSERT_TRUE(corvane::read_media(dir + "/cut.wav", back, error)) << error;
    EXPECT_EQ(back.samples, audio.samples);

    bytes[16] = char(0xff); // the format chunk now runs past the end
    bytes[17] = char(0xff);
    write_bytes(dir + "/damaged.wav", bytes);
    EXPECT_FALSE(corvane::read_media(dir + "/damaged.wav", back, error));
    EXPECT_NE(error.find("no usable format and data chunks"), std::string::npos) << error;
}

} // namespace
