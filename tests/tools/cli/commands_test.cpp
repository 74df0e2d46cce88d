// The g729a executable, driven as a user drives it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include <sys/stat.h>

#include <nlohmann/json.hpp>

#include "g729a.h"
#include "tests/tools/tool_test_support.h"
#include "tools/formats/audio_source.h"
#include "tools/formats/coded_stream.h"

namespace g729::tool {
namespace {

using testing::read_file;
using testing::run_result;
using testing::write_file;
using testing::contains;
using testing::kPi;
using testing::speech_samples;

// Real coded speech and, at the end, one SID frame.
std::vector<uint8_t> coded_speech_with_final_sid(std::size_t frames) {
    std::vector<uint8_t> g729 = read_file(G729A_TEST_DATA "/vectors/speech_male_librivox.g729");
    g729.resize(frames * kSpeechFrameBytes);
    g729.push_back(0xa5);
    g729.push_back(0xc3);
    return g729;
}

std::vector<std::vector<uint8_t>> split_g729(const std::vector<uint8_t>& g729) {
    std::vector<std::vector<uint8_t>> frames;
    for (std::size_t i = 0; i < g729.size();) {
        const std::size_t n = g729.size() - i >= 10 ? 10 : 2;
        frames.emplace_back(g729.begin() + std::ptrdiff_t(i), g729.begin() + std::ptrdiff_t(i + n));
        i += n;
    }
    return frames;
}

std::vector<uint8_t> bit_frames_as_g729(const std::vector<uint8_t>& bit) {
    const coded_stream s = read_bit(bit.data(), bit.size());
    EXPECT_FALSE(s.fault);
    std::vector<uint8_t> g729;
    for (const coded_frame& f : s.frames) append_g729_frame(g729, f);
    return g729;
}

class G729aTool : public testing::ToolTest {};

TEST_F(G729aTool, EncodeOfEveryInputFormatGivesTheFramesEncodeFrameGives) {
    // 4010 samples: 50 frames and a partial one that is padded with zeros.
    const std::vector<int16_t> samples = speech_samples(4010);
    const std::vector<uint8_t> expected = testing::encode_in_process(samples);
    ASSERT_EQ(expected.size(), 51u * 10u);

    write_file(path("in.raw"), testing::raw_bytes(samples));
    write_file(path("in.sln"), testing::raw_bytes(samples));
    testing::write_pcm(path("in.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 8000, samples);
    testing::write_pcm(path("in.flac"), SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 8000, samples);
    for (const std::string in : {"in.raw", "in.sln", "in.wav", "in.flac"}) {
        const run_result g = run({"encode", path(in), path("out.g729")});
        ASSERT_EQ(g.status, 0) << in << ": " << g.err;
        EXPECT_EQ(read_file(path("out.g729")), expected) << in;
        EXPECT_TRUE(contains(g.err, "encode: 51 frames, 0.51 s of audio in")) << g.err;

        const run_result b = run({"encode", "--quiet", path(in), path("out.bit")});
        ASSERT_EQ(b.status, 0) << in << ": " << b.err;
        EXPECT_EQ(b.err, "");
        EXPECT_EQ(bit_frames_as_g729(read_file(path("out.bit"))), expected) << in;
    }
}

TEST_F(G729aTool, EncodeAndDecodeReproduceTheReferenceVectors) {
    const std::string vectors = G729A_TEST_DATA "/vectors/";
    ASSERT_EQ(run({"encode", vectors + "speech_female_espeak.raw", path("out.g729")}).status, 0);
    EXPECT_EQ(read_file(path("out.g729")), read_file(vectors + "speech_female_espeak.g729"));
    ASSERT_EQ(run({"decode", vectors + "speech_female_espeak.g729", path("out.raw")}).status, 0);
    EXPECT_EQ(read_file(path("out.raw")), read_file(vectors + "speech_female_espeak.g729.raw"));
}

TEST_F(G729aTool, EncodeResamplesAndMixesOtherInputsWithANotice) {
    struct Case {
        const char* name;
        int format;
        int rate;
        int channels;
        const char* notice;
    };
    const Case cases[] = {
        {"stereo48k.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 2, "48000 Hz, 2 channels: mixed to mono, resampled to 8000 Hz"},
        {"float16k.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 16000, 1, "16000 Hz, 1 channel: resampled to 8000 Hz"},
    };
    for (const Case& c : cases) {
        std::vector<double> x;
        for (int i = 0; i < c.rate; ++i)
            for (int ch = 0; ch < c.channels; ++ch) x.push_back((0.2 + 0.1 * ch) * std::sin(2.0 * kPi * 300.0 * i / c.rate));
        testing::write_audio(path(c.name), c.format, c.rate, c.channels, x);

        const run_result r = run({"encode", path(c.name), path("out.g729")});
        ASSERT_EQ(r.status, 0) << c.name << ": " << r.err;
        EXPECT_TRUE(contains(r.err, "g729a: " + path(c.name) + ": " + c.notice + "\n")) << r.err;
        // One second of audio: 100 frames, coded from the converted samples.
        audio_source source(operand{path(c.name)}, file_format::wav);
        std::vector<int16_t> converted(9000);
        converted.resize(source.read(converted.data(), converted.size()));
        EXPECT_EQ(read_file(path("out.g729")), testing::encode_in_process(converted)) << c.name;
        EXPECT_EQ(read_file(path("out.g729")).size(), 100u * 10u) << c.name;

        EXPECT_EQ(run({"encode", "-q", path(c.name), path("out.g729")}).err, "") << "--quiet silences the notice";
    }
}

TEST_F(G729aTool, DecodeWritesEveryOutputFormatFromEitherCodedFormat) {
    const std::vector<uint8_t> g729 = coded_speech_with_final_sid(40);
    const std::vector<int16_t> expected = testing::decode_in_process(split_g729(g729));
    ASSERT_EQ(expected.size(), 41u * 80u);
    write_file(path("in.g729"), g729);
    ASSERT_EQ(run({"convert", path("in.g729"), path("in.bit")}).status, 0);

    for (const std::string in : {"in.g729", "in.bit"}) {
        for (const std::string out : {"out.raw", "out.sln", "out.wav"}) {
            const run_result r = run({"decode", path(in), path(out)});
            ASSERT_EQ(r.status, 0) << in << " -> " << out << ": " << r.err;
            EXPECT_TRUE(contains(r.err, "decode: 41 frames, 0.41 s of audio in")) << r.err;
            if (out == "out.wav") {
                const testing::audio_file wav = testing::read_audio(path(out));
                EXPECT_EQ(wav.info.samplerate, 8000);
                EXPECT_EQ(wav.info.channels, 1);
                EXPECT_EQ(wav.info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
                EXPECT_EQ(wav.samples, expected) << in;
            } else {
                EXPECT_EQ(testing::raw_samples(read_file(path(out))), expected) << in << " -> " << out;
            }
        }
    }
}

TEST_F(G729aTool, G729ToBitToG729IsByteIdentical) {
    const std::vector<uint8_t> g729 = coded_speech_with_final_sid(530);
    write_file(path("a.g729"), g729);
    ASSERT_EQ(run({"convert", path("a.g729"), path("a.bit")}).status, 0);
    EXPECT_EQ(read_file(path("a.bit")).size(), 530u * 164u + 36u);
    ASSERT_EQ(run({"convert", path("a.bit"), path("b.g729")}).status, 0);
    EXPECT_EQ(read_file(path("b.g729")), g729);
}

class BitStreamWithGaps : public G729aTool {
protected:
    // speech, SID (15 bits), untransmitted, bad speech, speech with a
    // parity error, SID (16 bits)
    void SetUp() override {
        G729aTool::SetUp();
        const std::vector<uint8_t> speech = read_file(G729A_TEST_DATA "/vectors/speech_male_librivox.g729");
        frames_ = {{speech.begin(), speech.begin() + 10},
                   {0xa5, 0xc2},
                   {},
                   {speech.begin() + 10, speech.begin() + 20},
                   {speech.begin() + 20, speech.begin() + 30},
                   {0x13, 0x57}};
        frames_[4][3] ^= 0x20; // flip P0
        const int bits[] = {80, 15, 0, 80, 80, 16};
        std::vector<uint8_t> bit;
        for (std::size_t i = 0; i < frames_.size(); ++i) {
            put(bit, i == 3 ? 0x6B20 : 0x6B21);
            put(bit, uint16_t(bits[i]));
            for (int b = 0; b < bits[i]; ++b) put(bit, (frames_[i][std::size_t(b / 8)] >> (7 - b % 8)) & 1 ? 0x0081 : 0x007F);
        }
        write_file(path("gaps.bit"), bit);
    }
    static void put(std::vector<uint8_t>& out, uint16_t w) {
        out.push_back(uint8_t(w));
        out.push_back(uint8_t(w >> 8));
    }
    std::vector<std::vector<uint8_t>> frames_;
};

TEST_F(BitStreamWithGaps, InfoCountsEveryKindOfFrame) {
    const run_result r = run({"info", path("gaps.bit")});
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char* line : {"frames:               6\n", "speech frames:        3 (50.0%)\n",
                             "SID frames:           2 (33.3%)\n", "untransmitted frames: 1 (16.7%)\n",
                             "bad frames:           1\n",
                             "pitch parity errors:  1 (33.33% of speech frames)\n", "bit rate:             4517 bit/s\n",
                             "duration:             0.06 s\n", "malformed:            no\n"})
        EXPECT_TRUE(contains(r.out, line)) << line << "in:\n" << r.out;
    EXPECT_FALSE(contains(r.out, "misaligned")) << ".bit keeps frame boundaries:\n" << r.out;
    EXPECT_TRUE(contains(r.err, "info: 6 frames, 0.06 s of audio")) << r.err;
}

TEST_F(BitStreamWithGaps, InfoJsonCarriesTheSameFiguresForScripts) {
    const run_result r = run({"info", "--json", path("gaps.bit")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "") << "nothing but the JSON";
    const nlohmann::json j = nlohmann::json::parse(r.out);
    EXPECT_EQ(j["file"], path("gaps.bit"));
    EXPECT_EQ(j["format"], "bit");
    EXPECT_EQ(j["frames"], 6);
    EXPECT_EQ(j["frame_types"], (nlohmann::json{{"speech", 3}, {"sid", 2}, {"untransmitted", 1}}));
    EXPECT_NEAR(j["frame_shares"]["speech"].get<double>(), 0.5, 1e-4);
    EXPECT_NEAR(j["frame_shares"]["sid"].get<double>(), 2.0 / 6.0, 1e-4);
    EXPECT_NEAR(j["frame_shares"]["untransmitted"].get<double>(), 1.0 / 6.0, 1e-4);
    EXPECT_EQ(j["speech_frames"], 3);
    EXPECT_EQ(j["sid_frames"], 2);
    EXPECT_EQ(j["untransmitted_frames"], 1);
    EXPECT_EQ(j["bad_frames"], 1);
    EXPECT_EQ(j["pitch_parity_errors"], 1);
    EXPECT_NEAR(j["parity_error_rate"].get<double>(), 1.0 / 3.0, 1e-5);
    EXPECT_DOUBLE_EQ(j["duration_seconds"].get<double>(), 0.06);
    EXPECT_EQ(j["probably_misaligned"], false);
    EXPECT_NEAR(j["bit_rate"].get<double>(), 271.0 / 0.06, 0.1); // 80+15+80+80+16 bits in 60 ms
    EXPECT_TRUE(j["malformed"].is_null());

    // A malformed file still gets its JSON, with where it goes wrong.
    std::vector<uint8_t> cut = read_file(path("gaps.bit"));
    cut.resize(cut.size() - 3);
    write_file(path("cut.bit"), cut);
    const run_result m = run({"info", "--json", path("cut.bit")});
    EXPECT_EQ(m.status, 1);
    const nlohmann::json k = nlohmann::json::parse(m.out);
    EXPECT_EQ(k["frames"], 5);
    EXPECT_EQ(k["malformed"]["frame"], 5);
    EXPECT_EQ(k["malformed"]["byte_offset"], 5 * 4 + 2 * (80 + 15 + 80 + 80));
    EXPECT_EQ(k["malformed"]["problem"], "truncated: the size word announces 16 bits, 14 follow");
}

TEST_F(BitStreamWithGaps, DumpShowsEachFrameWithItsParametersAndEnergy) {
    const run_result r = run({"dump", path("gaps.bit")});
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::string> lines;
    for (std::size_t start = 0; start < r.out.size();) {
        const std::size_t end = r.out.find('\n', start);
        const std::string line = r.out.substr(start, end - start);
        if (line[0] != '#') lines.push_back(line);
        start = end + 1;
    }
    ASSERT_EQ(lines.size(), 6u) << r.out;

    // The expected lines, from the frames as the library reads them and the
    // samples a decoder makes of them in order.
    // Untransmitted and bad frames are concealed as missing.
    std::vector<std::vector<uint8_t>> decoded_frames = frames_;
    decoded_frames[2].clear();
    decoded_frames[3].clear();
    const std::vector<int16_t> pcm = testing::decode_in_process(decoded_frames);
    auto energy = [&](std::size_t k) {
        double e = 0.0;
        for (int i = 0; i < 80; ++i) e += double(pcm[k * 80 + std::size_t(i)]) * pcm[k * 80 + std::size_t(i)];
        char text[16];
        std::snprintf(text, sizeof text, "%.1f", 10.0 * std::log10(e / 80.0 / (32768.0 * 32768.0)));
        return std::string(text);
    };
    g729a_frame_info f0{};
    ASSERT_EQ(g729a_frame_inspect(frames_[0].data(), 10, &f0), 0);
    auto lag = [](int l, int f) { return std::to_string(l) + (f == 0 ? "" : f > 0 ? "+1/3" : "-1/3"); };
    char first[200];
    std::snprintf(first, sizeof first, "     0      0.00 speech lsp=%d,%d,%d,%d lag=%s,%s parity=ok gain=%d/%d,%d/%d energy=",
                  f0.lsp_predictor, f0.lsp_first, f0.lsp_second_low, f0.lsp_second_high,
                  lag(f0.pitch_lag[0], f0.pitch_fraction[0]).c_str(), lag(f0.pitch_lag[1], f0.pitch_fraction[1]).c_str(),
                  f0.gain_first[0], f0.gain_second[0], f0.gain_first[1], f0.gain_second[1]);
    EXPECT_EQ(lines[0], first + energy(0));
    g729a_frame_info f1{};
    ASSERT_EQ(g729a_frame_inspect(frames_[1].data(), 2, &f1), 0);
    EXPECT_EQ(lines[1], "     1      0.01 sid lsf=" + std::to_string(f1.sid_predictor) + "," + std::to_string(f1.sid_lsf_first) + "," +
                            std::to_string(f1.sid_lsf_second) + " energy_index=" + std::to_string(f1.sid_energy) + " energy=" + energy(1));
    EXPECT_EQ(lines[2], "     2      0.02 untransmitted concealed energy=" + energy(2));
    EXPECT_TRUE(contains(lines[3], "     3      0.03 speech ") && contains(lines[3], " bad concealed energy=" + energy(3))) << lines[3];
    EXPECT_TRUE(contains(lines[4], " parity=error ") && contains(lines[4], "energy=" + energy(4))) << lines[4];
    EXPECT_TRUE(contains(lines[5], "     5      0.05 sid ")) << lines[5];
}

TEST_F(BitStreamWithGaps, DecodeConcealsUntransmittedAndBadFramesAndKeepsTheTimeline) {
    struct Case {
        std::vector<std::string> options;
        bool bad_as_received;
        const char* bad_notice;
    };
    const Case cases[] = {
        {{}, false, "1 frame marked bad, concealed as missing"},
        {{"--bad-frames=decode"}, true, "1 frame marked bad, decoded as received"},
        {{"--bad-frames", "conceal"}, false, "1 frame marked bad, concealed as missing"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"decode"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        args.push_back(path("gaps.bit"));
        args.push_back(path("out.raw"));
        const run_result r = run(args);
        ASSERT_EQ(r.status, 0) << r.err;
        std::vector<std::vector<uint8_t>> expected = frames_;
        expected[2].clear(); // not transmitted: decoded as missing
        if (!c.bad_as_received) expected[3].clear();
        const std::vector<int16_t> decoded = testing::raw_samples(read_file(path("out.raw")));
        EXPECT_EQ(decoded.size(), 6u * 80u) << "every frame keeps its 10 ms";
        EXPECT_EQ(decoded, testing::decode_in_process(expected)) << c.bad_notice;
        EXPECT_TRUE(contains(r.err, c.bad_notice)) << r.err;
        EXPECT_TRUE(contains(r.err, "1 frame not transmitted, decoded as missing")) << r.err;
        EXPECT_TRUE(contains(r.err, "decode: 6 frames, 0.06 s of audio")) << r.err;
    }
}

TEST_F(G729aTool, SilenceThatWasNotTransmittedKeepsItsPlaceInTime) {
    // 200 speech frames, a SID frame, 200 frames not transmitted, 200 more
    // speech frames: 6.01 s, and the second talk spurt starts at 4.01 s.
    const std::vector<uint8_t> speech = read_file(G729A_TEST_DATA "/vectors/speech_male_librivox.g729");
    ASSERT_GE(speech.size(), 400u * 10u);
    std::vector<std::vector<uint8_t>> frames;
    for (int i = 0; i < 200; ++i) frames.emplace_back(speech.begin() + i * 10, speech.begin() + i * 10 + 10);
    frames.push_back({0xa5, 0xc2});
    for (int i = 0; i < 200; ++i) frames.emplace_back();
    for (int i = 200; i < 400; ++i) frames.emplace_back(speech.begin() + i * 10, speech.begin() + i * 10 + 10);
    std::vector<uint8_t> bit;
    for (const auto& f : frames) {
        const int bits = f.size() == 10 ? 80 : f.size() == 2 ? 15 : 0;
        coded_frame cf;
        cf.kind = bits == 80 ? frame_kind::speech : bits ? frame_kind::sid : frame_kind::untransmitted;
        cf.bits = bits;
        std::copy(f.begin(), f.end(), cf.bytes.begin());
        append_bit_frame(bit, cf);
    }
    write_file(path("dtx.bit"), bit);

    const run_result r = run({"decode", path("dtx.bit"), path("out.wav")});
    ASSERT_EQ(r.status, 0) << r.err;
    const testing::audio_file wav = testing::read_audio(path("out.wav"));
    EXPECT_EQ(wav.samples.size(), 601u * 80u);
    EXPECT_EQ(wav.samples, testing::decode_in_process(frames));
    EXPECT_TRUE(contains(r.err, "decode: 601 frames, 6.01 s of audio")) << r.err;
    const run_result i = run({"info", path("dtx.bit")});
    EXPECT_TRUE(contains(i.out, "untransmitted frames: 200 (")) << i.out;
    EXPECT_TRUE(contains(i.out, "duration:             6.01 s\n")) << i.out;
}

TEST_F(G729aTool, AG729CutShortDecodesItsCompleteFramesWithAWarningUnlessStrict) {
    std::vector<uint8_t> g729 = read_file(G729A_TEST_DATA "/vectors/speech_male_librivox.g729");
    g729.resize(123 * 10 + 4);
    write_file(path("cut.g729"), g729);

    const run_result r = run({"decode", path("cut.g729"), path("out.raw")});
    ASSERT_EQ(r.status, 0) << r.err;
    g729.resize(123 * 10);
    EXPECT_EQ(testing::raw_samples(read_file(path("out.raw"))), testing::decode_in_process(split_g729(g729)));
    EXPECT_TRUE(contains(r.err, "g729a: " + path("cut.g729") +
                                    ": malformed at byte offset 1230: 4 bytes at the end are not a frame (10 bytes, or 2 "
                                    "for a final SID frame); decoded the 123 complete frames before it\n"))
        << r.err;

    const run_result strict = run({"decode", "--strict", path("cut.g729"), path("strict.raw")});
    EXPECT_EQ(strict.status, 1);
    EXPECT_EQ(strict.err, "g729a: " + path("cut.g729") +
                              ": malformed at byte offset 1230: 4 bytes at the end are not a frame (10 bytes, or 2 for a "
                              "final SID frame)\n");
    EXPECT_EQ(files(), (std::set<std::string>{"cut.g729", "out.raw"}));

    const run_result info = run({"info", path("cut.g729")});
    EXPECT_EQ(info.status, 1);
    EXPECT_TRUE(contains(info.out, "malformed:            at byte offset 1230")) << info.out;
}

TEST_F(G729aTool, InfoFlagsAG729WithSidFramesInMidStream) {
    // RTP payloads of a call with silence suppression, concatenated: a SID
    // frame after 50 speech frames shifts every later frame by 2 bytes.
    const std::vector<uint8_t> speech = read_file(G729A_TEST_DATA "/vectors/speech_male_librivox.g729");
    std::vector<uint8_t> clean(speech.begin(), speech.begin() + 300 * 10);
    std::vector<uint8_t> joined(speech.begin(), speech.begin() + 50 * 10);
    joined.push_back(0xa5);
    joined.push_back(0xc3);
    joined.insert(joined.end(), speech.begin() + 50 * 10, speech.begin() + 300 * 10);
    write_file(path("clean.g729"), clean);
    write_file(path("joined.g729"), joined);

    const run_result c = run({"info", path("clean.g729")});
    ASSERT_EQ(c.status, 0) << c.err;
    EXPECT_FALSE(contains(c.out, "misaligned")) << c.out;

    const run_result j = run({"info", path("joined.g729")});
    EXPECT_EQ(j.status, 0) << j.err;
    EXPECT_TRUE(contains(j.out, "warning:              probably misaligned or holding SID frames in mid-stream: ")) << j.out;
    EXPECT_TRUE(contains(j.out, "a .bit file or the packet capture keeps frame boundaries")) << j.out;
    const run_result d = run({"decode", path("joined.g729"), path("out.raw")});
    EXPECT_EQ(d.status, 0) << d.err;
    EXPECT_TRUE(contains(d.err, "probably misaligned or holding SID frames in mid-stream")) << d.err;
}

TEST_F(BitStreamWithGaps, ConvertToG729RefusesASidFrameInTheMiddle) {
    const run_result r = run({"convert", path("gaps.bit"), path("out.g729")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "g729a: " + path("gaps.bit") +
                         ": frame 1 is a SID frame followed by more frames; .g729 holds a SID frame only at the end\n");
    EXPECT_EQ(files(), std::set<std::string>{"gaps.bit"});
}

TEST_F(G729aTool, RoundtripWritesTheDecodedAudioAndComparesItWithTheInput) {
    const std::vector<int16_t> samples = speech_samples(8000);
    write_file(path("in.raw"), testing::raw_bytes(samples));
    const run_result r = run({"roundtrip", path("in.raw"), path("out.raw")});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<uint8_t> coded = testing::encode_in_process(samples);
    EXPECT_EQ(testing::raw_samples(read_file(path("out.raw"))), testing::decode_in_process(split_g729(coded)));
    EXPECT_TRUE(contains(r.out, "compared:         7960 samples (output delayed by 40 samples)\n")) << r.out;
    EXPECT_TRUE(contains(r.out, "\nSNR:              ")) << r.out;
    EXPECT_TRUE(contains(r.out, "\nsegmental SNR:    ")) << r.out;
    EXPECT_TRUE(contains(r.out, "\nlevel difference: ")) << r.out;
    EXPECT_TRUE(contains(r.err, "roundtrip: 100 frames, 1.00 s of audio in")) << r.err;

    // With the audio on standard output the figures move to standard error.
    const run_result piped = run({"roundtrip", "-q", path("in.raw"), "-t", "raw", "-"});
    ASSERT_EQ(piped.status, 0) << piped.err;
    EXPECT_EQ(std::vector<uint8_t>(piped.out.begin(), piped.out.end()), read_file(path("out.raw")));
    EXPECT_TRUE(contains(piped.err, "segmental SNR:")) << piped.err;
}

TEST_F(G729aTool, DashReadsStandardInputAndWritesStandardOutput) {
    const std::vector<int16_t> samples = speech_samples(1600);
    write_file(path("in.raw"), testing::raw_bytes(samples));
    const std::vector<uint8_t> coded = testing::encode_in_process(samples);

    const run_result e = run({"encode", "--format", "raw", "--format=g729", "-", "-"}, "in.raw");
    ASSERT_EQ(e.status, 0) << e.err;
    EXPECT_EQ(std::vector<uint8_t>(e.out.begin(), e.out.end()), coded);

    write_file(path("in.g729"), coded);
    const run_result d = run({"decode", "--format", "g729", "--format", "wav", "-", "-"}, "in.g729");
    ASSERT_EQ(d.status, 0) << d.err;
    write_file(path("piped.wav"), std::vector<uint8_t>(d.out.begin(), d.out.end()));
    EXPECT_EQ(testing::read_audio(path("piped.wav")).samples, testing::decode_in_process(split_g729(coded)));

    testing::write_pcm(path("in.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 8000, samples);
    const run_result w = run({"encode", "--format", "wav", "-", path("out.bit")}, "in.wav");
    ASSERT_EQ(w.status, 0) << w.err;
    EXPECT_EQ(bit_frames_as_g729(read_file(path("out.bit"))), coded);

    const run_result i = run({"info", "--format", "bit", "-"}, "out.bit");
    ASSERT_EQ(i.status, 0) << i.err;
    EXPECT_TRUE(contains(i.out, "file:                 standard input\n")) << i.out;
    EXPECT_TRUE(contains(i.out, "speech frames:        20 (")) << i.out;
}

TEST_F(G729aTool, FileErrorsNameTheFileExitWithOneAndLeaveNoOutput) {
    write_file(path("odd.raw"), {1, 2, 3});
    write_file(path("one.sln"), {1});
    write_file(path("short.g729"), std::vector<uint8_t>(23, 0x55));
    write_file(path("tiny.g729"), std::vector<uint8_t>(5, 0x55));
    write_file(path("bad.bit"), {0x21, 0x6B, 0x50, 0x00, 0x7F, 0x00});
    write_file(path("noise.wav"), std::vector<uint8_t>(100, 0x42));
    write_file(path("in.xyz"), std::vector<uint8_t>(100, 0));
    write_file(path("ok.g729"), std::vector<uint8_t>(20, 0));
    ASSERT_EQ(mkdir(path("folder.wav").c_str(), 0755), 0);
    const std::set<std::string> inputs = files();

    struct Case {
        std::vector<std::string> args;
        std::string message; // after "g729a: "
    };
    const Case cases[] = {
        {{"encode", path("missing.wav"), path("out.g729")}, path("missing.wav") + ": cannot open: No such file or directory"},
        {{"decode", path("missing.g729"), path("out.wav")}, path("missing.g729") + ": cannot open: No such file or directory"},
        // Any other name is offered to libsndfile, which finds no audio in it.
        {{"encode", path("in.xyz"), path("out.g729")}, path("in.xyz") + ": cannot read audio: "},
        {{"decode", path("ok.g729"), path("out.mp4")}, path("out.mp4") + ": unknown extension; decode writes .wav, .raw, "},
        {{"decode", path("ok.g729"), path("out.g729x")}, path("out.g729x") + ": unknown extension; decode writes "},
        {{"decode", path("ok.g729"), path("out.bit")}, path("out.bit") + ": wrong kind of file; decode writes .wav, "},
        {{"encode", path("odd.raw"), path("noise.wav")},
         path("noise.wav") + ": wrong kind of file; encode writes .g729 or .bit (for several inputs give -d DIR or --to FMT)"},
        {{"encode", path("odd.raw"), path("out.g729")},
         path("odd.raw") + ": odd length (3 bytes): not 16-bit samples, as a .raw file must hold"},
        {{"encode", path("one.sln"), path("out.g729")},
         path("one.sln") + ": odd length (1 byte): not 16-bit samples, as a .sln file must hold"},
        {{"decode", "--strict", path("short.g729"), path("out.wav")},
         path("short.g729") +
             ": malformed at byte offset 20: 3 bytes at the end are not a frame (10 bytes, or 2 for a final SID frame)"},
        {{"decode", path("tiny.g729"), path("out.wav")},
         path("tiny.g729") + ": malformed at byte offset 0: 5 bytes at the end are not a frame"},
        {{"decode", path("bad.bit"), path("out.raw")},
         path("bad.bit") + ": malformed at frame 0 (byte offset 0): truncated: the size word announces 80 bits, 1 follows"},
        {{"encode", path("noise.wav"), path("out.g729")}, path("noise.wav") + ": cannot read audio: "},
        {{"encode", path("folder.wav"), path("out.g729")}, path("folder.wav") + ": cannot read: is a directory"},
        {{"info", path("short.g729")}, path("short.g729") + ": malformed at byte offset 20: 3 bytes at the end"},
        {{"decode", path("ok.g729"), path("no/such/dir/out.wav")}, path("no/such/dir/out.wav") + ": cannot create: "},
    };
    for (const Case& c : cases) {
        const run_result r = run(c.args);
        EXPECT_EQ(r.status, 1) << c.message;
        EXPECT_EQ(r.err.rfind("g729a: " + c.message, 0), 0u) << "expected: " << c.message << "\ngot: " << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_EQ(files(), inputs) << c.message;
    }
}

TEST_F(G729aTool, InfoShowsWhereAMalformedFileGoesWrong) {
    write_file(path("short.g729"), std::vector<uint8_t>(23, 0x55));
    const run_result r = run({"info", path("short.g729")});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.out, "speech frames:        2 (")) << r.out;
    EXPECT_TRUE(contains(r.out, "\nmalformed:            at byte offset 20: 3 bytes at the end are not a frame")) << r.out;
    EXPECT_EQ(r.err, "g729a: " + path("short.g729") +
                         ": malformed at byte offset 20: 3 bytes at the end are not a frame (10 bytes, or 2 for a final SID "
                         "frame)\n");
}

TEST_F(G729aTool, BadUsageExitsWithTwo) {
    write_file(path("in.raw"), std::vector<uint8_t>(160, 0));
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"transcode", path("in.raw"), path("out.g729")},
        {"encode", path("in.raw")},
        {"encode", path("in.raw"), path("out.g729"), path("more.g729")},
        {"encode", "--bitrate", "8", path("in.raw"), path("out.g729")},
        {"decode", "-t", "wav", "-", path("out.wav")},
        {"encode", "--format", "g729", "-", path("out.g729")},
        {"encode", "--format", "mp4", "-", path("out.g729")},
        {"encode", path("in.raw"), path("out.g729"), "-t", "raw"},
        {"encode", "-t", "bit", path("in.raw"), path("out.g729")},
        {"decode", "--rate", "12", path("in.g729"), path("out.wav")},
        {"encode", "--rate", "16000", path("in.raw"), path("out.g729")},
        {"encode", "-j", "0", path("in.raw"), "-d", dir_},
        {"info", "--to", "wav", path("in.g729")},
        {"roundtrip", path("in.raw"), path("in.raw")},
        {"decode", "--format"},
    };
    expect_usage_errors(cases);
    EXPECT_EQ(files(), std::set<std::string>{"in.raw"});
}

TEST_F(G729aTool, VersionAndHelp) {
    const run_result v = run({"--version"});
    EXPECT_EQ(v.status, 0);
    // The tool's version, then the line of the library it runs with (the
    // same library, and so the same kernel choice, as this test's).
    EXPECT_EQ(v.out, std::string("g729a " G729A_VERSION_STRING "\n") + g729a_version_line());

    const run_result h = run({"--help"});
    EXPECT_EQ(h.status, 0);
    for (const char* command : {"encode IN OUT", "decode IN OUT", "roundtrip IN OUT", "info IN", "--format", "--quiet"})
        EXPECT_TRUE(contains(h.out, command)) << command;

    const run_result e = run({"encode", "--help"});
    EXPECT_EQ(e.status, 0);
    EXPECT_TRUE(contains(e.out, "Usage: g729a encode")) << e.out;
}

TEST_F(G729aTool, TheManualPageAndCompletionKnowEveryCommandAndOption) {
    const std::vector<uint8_t> man_bytes = read_file(G729A_TEST_DATA "/../../man/g729a.1");
    const std::vector<uint8_t> completion_bytes = read_file(G729A_TEST_DATA "/../../tools/completion/g729a");
    const std::string man(man_bytes.begin(), man_bytes.end());
    const std::string completion(completion_bytes.begin(), completion_bytes.end());
    ASSERT_FALSE(man.empty());
    ASSERT_FALSE(completion.empty());
    const run_result h = run({"--help"});
    ASSERT_EQ(h.status, 0);
    // Every option the help lists (words starting with - on its option lines).
    std::set<std::string> options;
    for (std::size_t start = 0; start < h.out.size();) {
        const std::size_t end = h.out.find('\n', start);
        const std::string line = h.out.substr(start, end - start);
        start = end + 1;
        if (line.rfind("  -", 0) != 0) continue;
        for (std::size_t i = 0; i < line.size() && i < 22; ++i) {
            if (line[i] != '-' || (i > 0 && line[i - 1] != ' ' && line[i - 1] != '-')) continue;
            std::size_t j = i;
            while (j < line.size() && (line[j] == '-' || std::isalpha(static_cast<unsigned char>(line[j])))) ++j;
            options.insert(line.substr(i, j - i));
            i = j;
        }
    }
    for (const char* o : {"--quiet", "--format", "-t", "--directory", "--to", "--jobs", "--rate", "--float", "--json", "--version"})
        EXPECT_TRUE(options.count(o)) << o << " is missing from --help";
    for (const std::string& o : options) {
        std::string roff;
        for (char c : o) roff += c == '-' ? std::string("\\-") : std::string(1, c);
        EXPECT_TRUE(contains(man, roff)) << o << " is missing from the manual page";
        if (o != "--version" && o != "-h" && o != "--help") {
            EXPECT_TRUE(contains(completion, o)) << o << " is missing from the completion";
        }
    }
    for (const char* command : {"encode", "decode", "roundtrip", "info", "dump", "convert"}) {
        EXPECT_TRUE(contains(man, std::string(".B ") + command + "\n")) << command;
        EXPECT_TRUE(contains(completion, command)) << command;
    }
    EXPECT_EQ(std::system(("bash -n '" G729A_TEST_DATA "/../../tools/completion/g729a'")), 0);
}

} // namespace
} // namespace g729::tool
