// The files people bring to g729a and want from it: any input libsndfile
// reads, the headerless telephony formats, standard input with and without
// a header, decoded output in any format and rate, and batches.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include <sys/stat.h>

#include "tests/tools/tool_test_support.h"

namespace g729::tool {
namespace {

using testing::read_file;
using testing::run_result;
using testing::write_file;
using testing::contains;
using testing::kPi;
using testing::speech_samples;

std::vector<std::vector<uint8_t>> split_g729(const std::vector<uint8_t>& g729) {
    std::vector<std::vector<uint8_t>> frames;
    for (std::size_t i = 0; i + 10 <= g729.size(); i += 10) frames.emplace_back(g729.begin() + std::ptrdiff_t(i), g729.begin() + std::ptrdiff_t(i + 10));
    return frames;
}

// G.711 as the tables of the recommendation expand it, written out here
// so that the tool's reading is checked against something other than itself.
int ulaw_to_linear(uint8_t u) {
    u = uint8_t(~u);
    int t = ((u & 0x0F) << 3) + 0x84;
    t <<= (u & 0x70) >> 4;
    return (u & 0x80) ? 0x84 - t : t - 0x84;
}

int alaw_to_linear(uint8_t a) {
    a ^= 0x55;
    int t = (a & 0x0F) << 4;
    const int segment = (a & 0x70) >> 4;
    if (segment == 0) t += 8;
    else t = (t + 0x108) << (segment - 1);
    return (a & 0x80) ? t : -t;
}

std::vector<int16_t> expand(const std::vector<uint8_t>& bytes, int (*law)(uint8_t)) {
    std::vector<int16_t> out;
    for (uint8_t b : bytes) out.push_back(int16_t(law(b)));
    return out;
}

bool have_sox() { return std::system("command -v sox >/dev/null 2>&1") == 0; }

bool sndfile_writes(int format) {
    SF_INFO info{};
    info.samplerate = 8000;
    info.channels = 1;
    info.format = format;
    return sf_format_check(&info) != 0;
}

// Samples libsndfile decodes from a file, with the given format for
// headerless ones.
std::vector<int16_t> sndfile_samples(const std::string& path, int headerless_format = 0) {
    SF_INFO info{};
    if (headerless_format) {
        info.format = headerless_format;
        info.samplerate = 8000;
        info.channels = 1;
    }
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    if (!f) return {};
    std::vector<int16_t> s(std::size_t(info.frames > 0 ? info.frames : 0));
    s.resize(std::size_t(sf_readf_short(f, s.data(), sf_count_t(s.size()))));
    sf_close(f);
    return s;
}

class G729aFormats : public testing::ToolTest {
protected:
    void SetUp() override {
        ToolTest::SetUp();
        samples_ = speech_samples(4000); // 50 frames
        write_file(path("in.raw"), testing::raw_bytes(samples_));
    }
    std::vector<int16_t> samples_;
};

TEST_F(G729aFormats, EncodeReadsEveryInputFormatWhateverItIsNamed) {
    // G.711 both laws: made by sox where it is installed (any byte is a valid
    // G.711 sample, so a ramp of bytes stands in otherwise).
    std::vector<uint8_t> ramp;
    for (std::size_t i = 0; i < 4000; ++i) ramp.push_back(uint8_t(i * 7 + i / 13));
    for (const char* law : {"ul", "al"}) {
        const std::string name = std::string("in.") + (law[0] == 'u' ? "ulaw" : "alaw");
        if (have_sox()) {
            const std::string cmd = "sox -t raw -r 8000 -e signed -b 16 -c 1 '" + path("in.raw") + "' -t " + law + " '" + path(name) + "'";
            ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
        } else {
            write_file(path(name), ramp);
        }
    }
    const std::vector<uint8_t> ulaw = read_file(path("in.ulaw"));
    const std::vector<uint8_t> alaw = read_file(path("in.alaw"));
    for (const std::string alias : {"in.mulaw", "in.pcmu", "prompt.dat"}) write_file(path(alias), ulaw);
    write_file(path("in.pcma"), alaw);
    write_file(path("raw-named.wav"), testing::raw_bytes(samples_));
    testing::write_pcm(path("in.flac"), SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 8000, samples_);
    testing::write_pcm(path("in.gsm"), SF_FORMAT_RAW | SF_FORMAT_GSM610, 8000, samples_);
    testing::write_pcm(path("wav-named.ulaw"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 8000, samples_);

    struct Case {
        std::vector<std::string> in; // -t and the file
        std::vector<int16_t> expected;
    };
    std::vector<Case> cases = {
        {{path("in.ulaw")}, expand(ulaw, ulaw_to_linear)},
        {{path("in.mulaw")}, expand(ulaw, ulaw_to_linear)},
        {{path("in.pcmu")}, expand(ulaw, ulaw_to_linear)},
        {{"-t", "ulaw", path("prompt.dat")}, expand(ulaw, ulaw_to_linear)},
        {{path("in.alaw")}, expand(alaw, alaw_to_linear)},
        {{path("in.pcma")}, expand(alaw, alaw_to_linear)},
        {{path("in.flac")}, samples_},
        {{path("in.gsm")}, sndfile_samples(path("in.gsm"), SF_FORMAT_RAW | SF_FORMAT_GSM610)},
        // -t overrides the extension, whichever way it points.
        {{"-t", "raw", path("raw-named.wav")}, samples_},
        {{"-t", "wav", path("wav-named.ulaw")}, samples_},
    };
    if (sndfile_writes(SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III)) {
        testing::write_pcm(path("in.mp3"), SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, 8000, samples_);
        cases.push_back({{path("in.mp3")}, sndfile_samples(path("in.mp3"))});
        ASSERT_FALSE(cases.back().expected.empty());
    } else {
        std::printf("libsndfile here writes no MP3: the MP3 case is skipped\n");
    }
    for (const Case& c : cases) {
        std::vector<std::string> args{"encode", "-q"};
        args.insert(args.end(), c.in.begin(), c.in.end());
        args.push_back(path("out.g729"));
        const run_result r = run(args);
        ASSERT_EQ(r.status, 0) << c.in.back() << ": " << r.err;
        EXPECT_EQ(read_file(path("out.g729")), testing::encode_in_process(c.expected)) << c.in.back();
    }
}

TEST_F(G729aFormats, Sln16IsReadAs16kHz) {
    std::vector<double> tone;
    std::vector<int16_t> tone16;
    for (int i = 0; i < 16000; ++i) {
        tone16.push_back(int16_t(std::lround(8000.0 * std::sin(2.0 * kPi * 440.0 * i / 16000.0))));
        tone.push_back(tone16.back() / 32768.0);
    }
    write_file(path("in.sln16"), testing::raw_bytes(tone16));
    testing::write_pcm(path("in16.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 16000, tone16);
    const run_result s = run({"encode", path("in.sln16"), path("a.g729")});
    ASSERT_EQ(s.status, 0) << s.err;
    EXPECT_TRUE(contains(s.err, "in.sln16: 16000 Hz, 1 channel: resampled to 8000 Hz\n")) << s.err;
    ASSERT_EQ(run({"encode", "-q", path("in16.wav"), path("b.g729")}).status, 0);
    EXPECT_EQ(read_file(path("a.g729")).size(), 100u * 10u);
    EXPECT_EQ(read_file(path("a.g729")), read_file(path("b.g729")));
}

TEST_F(G729aFormats, StandardInputIsReadByItsHeaderAndAWavIsNotTakenForSamples) {
    testing::write_pcm(path("in.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 8000, samples_);
    testing::write_pcm(path("in.flac"), SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 8000, samples_);
    const std::vector<uint8_t> expected = testing::encode_in_process(samples_);
    const std::string tool = "'" G729A_TOOL_PATH "'";
    const std::string capture = " >" + path(".stdout") + " 2>" + path(".stderr");

    // Redirected from a file, and through a pipe (which cannot seek).
    const run_result redirected = run({"encode", "-q", "-", path("a.g729")}, "in.wav");
    ASSERT_EQ(redirected.status, 0) << redirected.err;
    EXPECT_EQ(read_file(path("a.g729")), expected);
    for (const std::string in : {"in.wav", "in.flac"}) {
        const run_result piped = run_shell("cat '" + path(in) + "' | " + tool + " encode -q - '" + path("b.g729") + "'" + capture);
        ASSERT_EQ(piped.status, 0) << in << piped.err;
        EXPECT_EQ(read_file(path("b.g729")), expected) << in;
    }

    // A WAV given as raw samples would encode its header as noise.
    for (const bool pipe : {false, true}) {
        const run_result r = pipe ? run_shell("cat '" + path("in.wav") + "' | " + tool + " encode -t raw - '" + path("c.g729") + "'" + capture)
                                  : run({"encode", "-t", "raw", "-", path("c.g729")}, "in.wav");
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "g729a: standard input: starts with a WAV header, not headerless samples; read it as WAV (a .wav "
                         "name, --format wav, or no --format on standard input)\n");
    }
    // Headerless samples without -t: libsndfile finds no header.
    const run_result raw = run({"encode", "-", path("c.g729")}, "in.raw");
    EXPECT_EQ(raw.status, 1);
    EXPECT_TRUE(contains(raw.err, "g729a: standard input: cannot read audio: ")) << raw.err;
    EXPECT_TRUE(contains(raw.err, "(headerless samples need --format raw, sln16, ulaw, alaw or gsm)")) << raw.err;
    EXPECT_FALSE(read_file(path("c.g729")).size() > 0);
}

TEST_F(G729aFormats, DecodeWritesEveryFormatAtAnyRate) {
    const std::vector<uint8_t> coded = testing::encode_in_process(samples_);
    write_file(path("in.g729"), coded);
    const std::vector<int16_t> expected = testing::decode_in_process(split_g729(coded));
    const std::size_t n = expected.size();

    for (const std::string out : {"out.ulaw", "out.alaw", "out.pcmu", "out.pcma", "out.flac", "out.gsm", "out.sln16", "out16.wav",
                                  "float.wav"}) {
        std::vector<std::string> args{"decode", "-q", path("in.g729"), path(out)};
        if (out == "out16.wav") args.insert(args.begin() + 2, {"--rate", "16000"});
        if (out == "float.wav") args.insert(args.begin() + 2, "--float");
        const run_result r = run(args);
        ASSERT_EQ(r.status, 0) << out << ": " << r.err;
    }
    // G.711: each byte expands to within its quantisation step of the sample.
    for (const auto& [name, law] : {std::pair{"out.ulaw", ulaw_to_linear}, std::pair{"out.alaw", alaw_to_linear},
                                    std::pair{"out.pcmu", ulaw_to_linear}, std::pair{"out.pcma", alaw_to_linear}}) {
        const std::vector<int16_t> x = expand(read_file(path(name)), law);
        ASSERT_EQ(x.size(), n) << name;
        for (std::size_t i = 0; i < n; ++i)
            ASSERT_LE(std::abs(x[i] - expected[i]), std::abs(expected[i]) / 16 + 16) << name << " sample " << i;
    }
    EXPECT_EQ(testing::read_audio(path("out.flac")).samples, expected);
    const std::vector<int16_t> gsm = sndfile_samples(path("out.gsm"), SF_FORMAT_RAW | SF_FORMAT_GSM610);
    EXPECT_GE(gsm.size(), n);
    EXPECT_LT(gsm.size(), n + 320);

    // 16 kHz: .sln16 is the same samples as --rate 16000 in any container.
    const std::vector<int16_t> sln16 = testing::raw_samples(read_file(path("out.sln16")));
    EXPECT_EQ(sln16.size(), 2 * n);
    const testing::audio_file wav16 = testing::read_audio(path("out16.wav"));
    EXPECT_EQ(wav16.info.samplerate, 16000);
    EXPECT_EQ(wav16.samples, sln16);
    // The upsampled signal still follows the decoded one (every other sample).
    double error = 0.0, energy = 0.0;
    for (std::size_t i = 100; i + 100 < n; ++i) {
        error += std::pow(double(sln16[2 * i]) - expected[i], 2.0);
        energy += std::pow(double(expected[i]), 2.0);
    }
    EXPECT_LT(error, 0.05 * energy);

    // Float WAV: the decoded samples exactly, on the [-1, 1) scale.
    SF_INFO info{};
    SNDFILE* f = sf_open(path("float.wav").c_str(), SFM_READ, &info);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(info.format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    std::vector<float> floats(std::size_t(info.frames));
    sf_readf_float(f, floats.data(), info.frames);
    sf_close(f);
    ASSERT_EQ(floats.size(), n);
    for (std::size_t i = 0; i < n; ++i) ASSERT_EQ(floats[i] * 32768.0f, float(expected[i])) << i;

    if (sndfile_writes(SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III)) {
        ASSERT_EQ(run({"decode", "-q", path("in.g729"), path("out.mp3")}).status, 0);
        SF_INFO mp3{};
        SNDFILE* m = sf_open(path("out.mp3").c_str(), SFM_READ, &mp3);
        ASSERT_NE(m, nullptr);
        EXPECT_EQ(mp3.samplerate, 8000);
        sf_close(m);
    }

    // On standard output, redirected to a file or through a pipe, the same
    // bytes as into a named file.
    const std::string tool = "'" G729A_TOOL_PATH "'";
    for (const std::string format : {"wav", "flac", "ulaw"}) {
        ASSERT_EQ(run({"decode", "-q", path("in.g729"), path("named." + format)}).status, 0);
        const std::string head = tool + " decode -q '" + path("in.g729") + "' -t " + format + " - ";
        ASSERT_EQ(run_shell(head + ">'" + path("redirected." + format) + "'").status, 0) << format;
        ASSERT_EQ(run_shell(head + "| cat >'" + path("piped." + format) + "'").status, 0) << format;
        EXPECT_EQ(read_file(path("redirected." + format)), read_file(path("named." + format))) << format;
        EXPECT_EQ(read_file(path("piped." + format)), read_file(path("named." + format))) << format;
    }

    // Headerless telephony formats have one rate.
    const run_result conflict = run({"decode", "--rate", "16000", path("in.g729"), path("bad.ulaw")});
    EXPECT_EQ(conflict.status, 2);
    EXPECT_TRUE(contains(conflict.err, "--rate 16000 does not fit .ulaw, which holds 8000 Hz only")) << conflict.err;
}

TEST_F(G729aFormats, ABatchCodesEveryGoodFileAndListsTheBadOnes) {
    const std::vector<int16_t> other = speech_samples(6000);
    testing::write_pcm(path("a.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 8000, samples_);
    write_file(path("b.raw"), testing::raw_bytes(other));
    write_file(path("bad.wav"), std::vector<uint8_t>(300, 0x42));
    testing::write_pcm(path("c.flac"), SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 8000, samples_);
    ASSERT_EQ(mkdir(path("out").c_str(), 0755), 0);
    ASSERT_EQ(mkdir(path("one").c_str(), 0755), 0);

    const std::vector<std::string> inputs{path("a.wav"), path("b.raw"), path("bad.wav"), path("c.flac")};
    std::vector<std::string> args{"encode", "-j", "3"};
    args.insert(args.end(), inputs.begin(), inputs.end());
    args.insert(args.end(), {"-d", path("out")});
    const run_result r = run(args);
    EXPECT_EQ(r.status, 1) << r.err;
    for (const std::string name : {"a", "c"})
        EXPECT_EQ(read_file(path("out/" + name + ".g729")), testing::encode_in_process(samples_)) << name;
    EXPECT_EQ(read_file(path("out/b.g729")), testing::encode_in_process(other));
    EXPECT_TRUE(contains(r.err, "g729a: encode: " + path("a.wav") + " -> " + path("out") + "/a.g729: 50 frames, 0.50 s of audio\n"))
        << r.err;
    EXPECT_TRUE(contains(r.err, "g729a: encode: 4 files, 3 done, 1 failed; 175 frames, 1.75 s of audio in ")) << r.err;
    EXPECT_TRUE(contains(r.err, "\ng729a:   failed: " + path("bad.wav") + ": cannot read audio: ")) << r.err;
    const std::string listing = run_shell("ls '" + path("out") + "' >" + path(".stdout")).out;
    EXPECT_EQ(listing, "a.g729\nb.g729\nc.g729\n") << "nothing for the bad file, no temporary files";

    // One worker gives the same files; an existing directory as OUT names
    // the output after the input.
    args[2] = "1";
    args.back() = path("one");
    EXPECT_EQ(run(args).status, 1);
    for (const std::string name : {"a", "b", "c"})
        EXPECT_EQ(read_file(path("one/" + name + ".g729")), read_file(path("out/" + name + ".g729"))) << name;
    ASSERT_EQ(mkdir(path("single").c_str(), 0755), 0);
    ASSERT_EQ(run({"encode", "-q", path("b.raw"), path("single")}).status, 0);
    EXPECT_EQ(read_file(path("single/b.g729")), read_file(path("out/b.g729")));

    // Decoding them back beside themselves in another format.
    const run_result d = run({"decode", "-q", path("out/a.g729"), path("out/b.g729"), "--to", "ulaw"});
    ASSERT_EQ(d.status, 0) << d.err;
    EXPECT_EQ(d.err, "");
    EXPECT_EQ(read_file(path("out/a.ulaw")).size(), 4000u);
    EXPECT_EQ(read_file(path("out/b.ulaw")).size(), 6000u);
}

TEST_F(G729aFormats, MessagesCountInEnglishAndWarnAboutEmptyInput) {
    std::vector<uint8_t> one = read_file(G729A_TEST_DATA "/vectors/speech_male_librivox.g729");
    one.resize(10);
    write_file(path("one.g729"), one);
    write_file(path("empty.raw"), {});
    write_file(path("empty.g729"), {});
    write_file(path("eleven.g729"), std::vector<uint8_t>(11, 0x33));
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string err_part;
        std::string absent;
    };
    const Case cases[] = {
        {{"decode", path("one.g729"), path("one.raw")}, 0, "g729a: decode: 1 frame, 0.01 s of audio in ", ""},
        {{"info", path("one.g729")}, 0, "g729a: info: 1 frame, 0.01 s of audio\n", "real time"},
        {{"convert", path("one.g729"), path("one.bit")}, 0, "g729a: convert: 1 frame, 0.01 s of audio\n", "real time"},
        {{"encode", path("empty.raw"), path("nothing.g729")}, 0, path("empty.raw") + ": warning: holds no audio; ", ""},
        {{"decode", "-q", path("empty.g729"), path("empty.wav")}, 0, path("empty.g729") + ": warning: holds no audio; ", ""},
        {{"info", path("empty.g729")}, 0, path("empty.g729") + ": warning: holds no frames\n", "real time"},
        {{"decode", "--strict", path("eleven.g729"), path("x.raw")}, 1, ": malformed at byte offset 10: 1 byte at the end is not a frame", ""},
        {{"decode", path("eleven.g729"), path("x.raw")}, 0, ": malformed at byte offset 10: 1 byte at the end is not a frame (10 bytes, or 2 for a final SID frame); decoded the 1 complete frame before it\n", ""},
    };
    for (const Case& c : cases) {
        const run_result r = run(c.args);
        EXPECT_EQ(r.status, c.status) << c.args[0] << " " << c.args[1] << r.err;
        EXPECT_TRUE(contains(r.err, c.err_part)) << c.err_part << "\nin: " << r.err;
        if (!c.absent.empty()) {
            EXPECT_FALSE(contains(r.err, c.absent)) << r.err;
        }
    }
}

} // namespace
} // namespace g729::tool
