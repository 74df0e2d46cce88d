// Silence suppression on the sending side: the encoder's choice of speech,
// SID and untransmitted frames, the comfort noise its SID frames make in a
// decoder, and the memories both ends must keep in step through it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "codec/decoder/decoder.h"
#include "codec/decoder/decoder_object.h"
#include "codec/encoder/encoder.h"
#include "codec/encoder/vad.h"
#include "g729a.h"
#include "tests/codec_test_support.h"

namespace g729 {
namespace {

using testing::read_samples;
using testing::read_vector;

// Deterministic noise of RMS about `rms`, low-passed by a one-pole filter
// with coefficient `smoothing` (0: white).
std::vector<double> noise(size_t n, double rms, double smoothing, uint32_t seed) {
    std::vector<double> v(n);
    double low = 0.0;
    for (double& x : v) {
        double sum = 0.0;
        for (int k = 0; k < 4; ++k) {
            seed = seed * 1664525u + 1013904223u;
            sum += double(seed >> 8) / double(1u << 24) - 0.5;
        }
        low = smoothing * low + (1.0 - smoothing) * sum;
        x = low;
    }
    double ms = 0.0;
    for (double x : v) ms += x * x;
    const double scale = rms / std::sqrt(ms / double(n));
    for (double& x : v) x *= scale;
    return v;
}

std::vector<int16_t> to_pcm(const std::vector<double>& x) {
    std::vector<int16_t> out(x.size());
    for (size_t i = 0; i < x.size(); ++i) out[i] = int16_t(std::lround(x[i]));
    return out;
}

// Speech from the bundled recording with pauses of background noise (quiet
// by default): 1 s of noise, then speech and noise in turn.
std::vector<int16_t> speech_with_noisy_pauses(double rms = 40.0, double smoothing = 0.5) {
    const std::vector<int16_t> speech = read_samples("speech_male_librivox.raw");
    const std::vector<double> background = noise(speech.size() + 4 * 8000, rms, smoothing, 7);
    std::vector<double> out;
    size_t b = 0;
    for (size_t part = 0; part < 3; ++part) {
        for (int i = 0; i < 8000; ++i) out.push_back(background[b++]);
        const size_t begin = part * speech.size() / 3, end = (part + 1) * speech.size() / 3;
        for (size_t i = begin; i < end; ++i) out.push_back(speech[i] + background[b++]);
    }
    for (int i = 0; i < 8000; ++i) out.push_back(background[b++]);
    out.resize(out.size() / kFrame * kFrame);
    return to_pcm(out);
}

struct dtx_stream {
    std::vector<std::vector<uint8_t>> frames; // empty: not transmitted
};

dtx_stream encode_with_dtx(const std::vector<int16_t>& pcm, bool dtx = true) {
    g729a_encoder* enc = g729a_encoder_create(nullptr);
    EXPECT_EQ(g729a_encoder_set_dtx(enc, dtx ? 1 : 0), G729A_OK);
    dtx_stream s;
    for (size_t f = 0; f + kFrame <= pcm.size(); f += kFrame) {
        uint8_t frame[G729A_SPEECH_FRAME_BYTES];
        const int n = g729a_encode(enc, &pcm[f], kFrame, frame, sizeof frame);
        EXPECT_TRUE(n == 0 || n == 2 || n == 10) << n;
        s.frames.emplace_back(frame, frame + (n > 0 ? n : 0));
    }
    g729a_encoder_destroy(enc);
    return s;
}

std::vector<int16_t> decode_stream(const dtx_stream& s) {
    g729a_decoder* dec = g729a_decoder_create(nullptr);
    std::vector<int16_t> out(s.frames.size() * kFrame);
    for (size_t f = 0; f < s.frames.size(); ++f) {
        const std::vector<uint8_t>& bytes = s.frames[f];
        EXPECT_EQ(g729a_decode(dec, bytes.empty() ? nullptr : bytes.data(), bytes.size(), &out[f * kFrame], kFrame),
                  kFrame);
    }
    g729a_decoder_destroy(dec);
    return out;
}

double level_db(const int16_t* x, size_t n) {
    double ms = 0.0;
    for (size_t i = 0; i < n; ++i) ms += double(x[i]) * double(x[i]);
    return 10.0 * std::log10(1.0 + ms / double(n));
}

TEST(Dtx, DecoderHoldsTheEncodersMemoriesThroughSpeechSidAndGaps) {
    const std::vector<int16_t> input = speech_with_noisy_pauses();
    auto encoder = std::make_unique<encoder_state>();
    auto decoder = std::make_unique<decoder_object>();
    encoder_init(*encoder);
    encoder->dtx_enabled = true;
    decoder_init(*decoder);
    int kinds[3] = {0, 0, 0};
    for (size_t f = 0; (f + 1) * kFrame <= input.size(); ++f) {
        uint8_t frame[kSpeechFrameBytes];
        int length = -1;
        encode_frame(*encoder, &input[f * kFrame], frame, length);
        int16_t out[kFrame];
        if (length == 0) {
            decode_missing_frame(*decoder, out);
        } else {
            ASSERT_EQ(decode_frame(*decoder, out, frame, length), 0);
        }
        ++kinds[length == 0 ? 0 : length == kSidFrameBytes ? 1 : 2];
        const decoder_state& d = decoder->decoder_state;
        ASSERT_EQ(encoder->lsf_predictor_memory, d.lsf_predictor_memory) << "frame " << f;
        ASSERT_EQ(encoder->energy_history, d.energy_history) << "frame " << f;
        ASSERT_EQ(encoder->previous_quantized_lsp, d.previous_quantized_lsp) << "frame " << f;
        ASSERT_EQ(0, std::memcmp(encoder->excitation_buffer, d.excitation_buffer, sizeof(double) * kExcitationHistory))
            << "the adaptive codebooks differ after frame " << f;
    }
    EXPECT_GT(kinds[0], 0) << "untransmitted frames";
    EXPECT_GT(kinds[1], 0) << "SID frames";
    EXPECT_GT(kinds[2], 0) << "speech frames";
}

TEST(Dtx, EveryTalkSpurtIsFollowedByASidFrameBeforeAnyGap) {
    const dtx_stream s = encode_with_dtx(speech_with_noisy_pauses());
    bool after_speech = true; // a stream opens as if after speech
    int spurts = 0;
    for (size_t f = 0; f < s.frames.size(); ++f) {
        const size_t n = s.frames[f].size();
        if (n == 0) {
            EXPECT_FALSE(after_speech) << "a gap right after speech at frame " << f;
        }
        if (n == size_t(kSpeechFrameBytes) && !after_speech) ++spurts;
        after_speech = n == size_t(kSpeechFrameBytes);
    }
    EXPECT_GE(spurts, 3) << "the three pieces of speech, and the pauses inside them";
}

TEST(Dtx, SidFramesDecodeToNoiseAtTheInputsLevelAndSpectrum) {
    struct Case {
        const char* name;
        double rms;
        double smoothing;
        bool coded_as_speech; // false: under the detector's first floor, never sent as speech
    };
    const Case cases[] = {
        {"quiet white noise", 20.0, 0.0, false},
        {"white noise", 300.0, 0.0, true},
        {"loud white noise", 3000.0, 0.0, true},
        {"low-pass noise", 300.0, 0.8, true},
    };
    for (const Case& c : cases) {
        // Noise from the first sample is taken as speech until the noise
        // floor has learnt it (1.6 s); the last 3 s are the comfort noise's.
        const std::vector<int16_t> input = to_pcm(noise(500 * kFrame, c.rms, c.smoothing, 11));
        const dtx_stream s = encode_with_dtx(input);
        int sent = 0;
        for (size_t f = 200; f < s.frames.size(); ++f) sent += s.frames[f].empty() ? 0 : 1;
        EXPECT_LT(sent, 30) << c.name << ": steady noise needs few frames";

        const std::vector<int16_t> output = decode_stream(s);
        // The last 2 s: the comfort noise has settled. It plays the noise at
        // the level the speech frames gave it (as coded without suppression,
        // 3 to 4 dB under the input here), so that nothing steps where
        // speech hands over to it; a noise no speech frame carried keeps
        // the input's level.
        const std::vector<int16_t> coded = decode_stream(encode_with_dtx(input, false));
        const size_t from = 300 * kFrame, n = 200 * kFrame;
        const double want = level_db(c.coded_as_speech ? &coded[from] : &input[from], n);
        const double got = level_db(&output[from], n);
        // The energy steps are 2 to 4 dB apart, a new SID frame waits for a
        // 1.5 dB change, and at the loudest the decoder's bound on the pulse
        // amplitude takes about 1 dB; more than that is a fault of the level
        // the SID frames carry.
        EXPECT_NEAR(got, want, 2.5) << c.name;

        // The spectral tilt: the level difference between a low band
        // (mean of neighbours) and the full band.
        auto tilt = [&](const std::vector<int16_t>& x) {
            std::vector<int16_t> low(n);
            for (size_t i = 0; i < n; ++i)
                low[i] = int16_t((int(x[from + i]) + x[from + i - 1] + x[from + i - 2] + x[from + i - 3]) / 4);
            return level_db(low.data(), n) - level_db(&x[from], n);
        };
        EXPECT_NEAR(tilt(output), tilt(input), 2.0) << c.name;
    }
}

TEST(Dtx, AConstantInputGivesComfortNoiseNoLouderThanItsCodedSignal) {
    // The high-passes at both ends leave almost nothing of an offset; the
    // comfort noise must not play what the first one lets through.
    for (const int16_t value : {int16_t(32767), int16_t(-32768), int16_t(1000)}) {
        const std::vector<int16_t> input(500 * kFrame, value);
        const dtx_stream with = encode_with_dtx(input);
        const std::vector<int16_t> suppressed = decode_stream(with);
        const std::vector<int16_t> coded = decode_stream(encode_with_dtx(input, false));
        const size_t from = 100 * kFrame, n = 400 * kFrame;
        EXPECT_LE(level_db(&suppressed[from], n), level_db(&coded[from], n) + 10.0) << value;
        int sid = 0;
        for (size_t f = 250; f < with.frames.size(); ++f) sid += with.frames[f].size() == G729A_SID_FRAME_BYTES;
        EXPECT_LE(sid, 2) << value << ": an unchanging input needs no new SID frames";
    }
}

TEST(Dtx, TheBackgroundKeepsItsLevelWhenSpeechHandsOverToComfortNoise) {
    // Speech frames code a noise quieter than it is; the comfort noise that
    // follows them continues the level they played, not the input's.
    struct Case {
        const char* name;
        double rms;
        double smoothing;
    };
    const Case cases[] = {{"white noise", 300.0, 0.0}, {"low-pass noise", 300.0, 0.8}};
    for (const Case& c : cases) {
        const dtx_stream s = encode_with_dtx(speech_with_noisy_pauses(c.rms, c.smoothing));
        const std::vector<int16_t> output = decode_stream(s);
        std::vector<double> steps;
        for (size_t f = 4; f + 4 <= s.frames.size(); ++f) {
            const bool was_speech = s.frames[f - 1].size() == G729A_SPEECH_FRAME_BYTES;
            if (!was_speech || s.frames[f].size() == G729A_SPEECH_FRAME_BYTES) continue;
            steps.push_back(level_db(&output[f * kFrame], 4 * kFrame) -
                            level_db(&output[(f - 4) * kFrame], 4 * kFrame));
        }
        ASSERT_FALSE(steps.empty()) << c.name;
        std::sort(steps.begin(), steps.end());
        // Measured: within 0.5 dB; the speech frames' loss is several dB.
        EXPECT_NEAR(steps[steps.size() / 2], 0.0, 1.5) << c.name;
    }
}

TEST(Dtx, CodingIsDeterministicAndAResetKeepsTheSetting) {
    const std::vector<int16_t> input = speech_with_noisy_pauses();
    const dtx_stream first = encode_with_dtx(input);
    EXPECT_EQ(encode_with_dtx(input).frames, first.frames);

    g729a_encoder* enc = g729a_encoder_create(nullptr);
    ASSERT_EQ(g729a_encoder_set_dtx(enc, 1), G729A_OK);
    uint8_t frame[G729A_SPEECH_FRAME_BYTES];
    for (size_t f = 0; f < 50; ++f) g729a_encode(enc, &input[f * kFrame], kFrame, frame, sizeof frame);
    ASSERT_EQ(g729a_encoder_reset(enc), G729A_OK);
    for (size_t f = 0; f < first.frames.size(); ++f) {
        const int n = g729a_encode(enc, &input[f * kFrame], kFrame, frame, sizeof frame);
        ASSERT_EQ(std::vector<uint8_t>(frame, frame + n), first.frames[f]) << "frame " << f;
    }
    g729a_encoder_destroy(enc);
    EXPECT_EQ(g729a_encoder_set_dtx(nullptr, 1), G729A_EBADARG);
}

TEST(Dtx, WithSuppressionOffEveryFrameIsTheReferenceSpeechFrame) {
    const std::vector<int16_t> input = read_samples("speech_male_librivox.raw");
    const std::vector<uint8_t> reference = read_vector("speech_male_librivox.g729");
    ASSERT_EQ(reference.size(), input.size() / kFrame * kSpeechFrameBytes);

    // On, then off again before the first frame, and off after some frames
    // coded with it on followed by a reset: both code as a fresh encoder.
    g729a_encoder* toggled = g729a_encoder_create(nullptr);
    g729a_encoder_set_dtx(toggled, 1);
    g729a_encoder_set_dtx(toggled, 0);
    g729a_encoder* reset = g729a_encoder_create(nullptr);
    g729a_encoder_set_dtx(reset, 1);
    uint8_t frame[G729A_SPEECH_FRAME_BYTES];
    for (size_t f = 0; f < 30; ++f) g729a_encode(reset, &input[f * kFrame], kFrame, frame, sizeof frame);
    g729a_encoder_set_dtx(reset, 0);
    g729a_encoder_reset(reset);
    for (g729a_encoder* enc : {toggled, reset}) {
        for (size_t f = 0; f < reference.size() / kSpeechFrameBytes; ++f) {
            ASSERT_EQ(g729a_encode(enc, &input[f * kFrame], kFrame, frame, sizeof frame), kSpeechFrameBytes);
            ASSERT_EQ(0, std::memcmp(frame, &reference[f * kSpeechFrameBytes], kSpeechFrameBytes)) << "frame " << f;
        }
        g729a_encoder_destroy(enc);
    }
}

// The detector alone, on feature sequences built here: levels per band in
// dB, zero crossings and LSFs as a frame of the given background would give.
struct vad_run {
    vad_state state;
    uint32_t seed = 12345;
    vad_run() { vad_reset(state); }

    double uniform() { // 0 ... 1
        seed = seed * 1664525u + 1013904223u;
        return double(seed >> 8) / double(1u << 24);
    }
    // A frame at these levels; `wander` moves the LSFs by up to that much
    // (radians) around an even spread, as a background of talkers does.
    vad_features frame(double low_db, double high_db, double wander = 0.0) {
        vad_features f{low_db, high_db, 0.3, {}};
        for (int i = 0; i < kOrder; ++i) f.lsf[i] = (i + 1) * 3.14159 / 11.0 + wander * (uniform() - 0.5);
        return f;
    }
    bool decide(const vad_features& f) {
        bool raw = false;
        return vad_decide(state, f, raw);
    }
    // Frames sent as speech after a spurt of `spurt` loud frames over a
    // background at `level` dB (both bands, 1 dB of jitter); `blip_at`: a
    // frame of the hold (counted from the spurt's end) rises over the margin.
    // A background with `swing` strays up to that far over its dips (both
    // bands) while it is learnt; `tilt`: its band above 1 kHz lies that much
    // over the band below.
    int held_after_spurt(double level, int spurt = 20, int blip_at = -1, double swing = 0.0, double tilt = 0.0) {
        for (int n = 0; n < 1000; ++n) {
            const double stray = swing * uniform();
            decide(frame(level + uniform() + stray, level + tilt + uniform() + stray));
        }
        for (int n = 0; n < spurt; ++n) decide(frame(level + 30.0, level + tilt + 25.0));
        int held = 0;
        for (int n = 0; n < 80; ++n) {
            const double rise = n == blip_at ? 12.0 : uniform();
            held += decide(frame(level + rise, level + tilt + rise)) ? 1 : 0;
        }
        return held;
    }
};

TEST(Vad, TheHoldAfterASpurtSuitsTheBackground) {
    // Over digital silence a word's end is seen to its last audible frame:
    // only a short hold; in a noise the fading end is buried and held. Behind
    // talkers (wide swings in both bands, the band above 1 kHz a little
    // emptier) the hold bridges the gaps between their louder moments too; a
    // rumble swings as widely but leaves the band above 1 kHz empty, where
    // speech shows at once, and a hiss fills it more: no such hold there.
    struct Case {
        const char* name;
        double level, swing, tilt;
        int least, most;
    };
    const Case cases[] = {{"digital silence", 0.0, 0.0, 0.0, 1, 4},
                          {"steady noise", 35.0, 0.0, 0.0, 12, 30},
                          {"talkers", 35.0, 20.0, -4.0, 40, 60},
                          {"rumble", 45.0, 20.0, -12.0, 8, 30},
                          {"swinging hiss", 35.0, 20.0, 6.0, 12, 30}};
    for (const Case& c : cases) {
        const int held = vad_run().held_after_spurt(c.level, 20, -1, c.swing, c.tilt);
        EXPECT_GE(held, c.least) << c.name;
        EXPECT_LE(held, c.most) << c.name;
    }
}

TEST(Vad, ABlipWithinTheHoldNeverShortensIt) {
    const int plain = vad_run().held_after_spurt(35.0);
    for (const int blip_at : {1, 3, 6}) {
        EXPECT_GE(vad_run().held_after_spurt(35.0, 20, blip_at), plain) << "blip " << blip_at << " frames after the spurt";
    }
}

TEST(Vad, ABackgroundOfTalkersIsLearntAndSpeechStillStandsOutOfIt) {
    // A background whose level strays over every margin (0 to 20 dB above
    // its dips, both bands) and whose spectrum moves like speech: taken as
    // speech at first, it must be learnt within seconds, so that frames are
    // saved, while a talker 25 dB over its dips is still speech.
    vad_run v;
    auto background = [&v] {
        const double level = 30.0 + 20.0 * v.uniform() * v.uniform();
        return v.frame(level, level - 3.0 + 2.0 * v.uniform(), 0.3);
    };
    for (int n = 0; n < 1000; ++n) v.decide(background());
    int saved = 0;
    for (int n = 0; n < 1000; ++n) saved += v.decide(background()) ? 0 : 1;
    EXPECT_GE(saved, 100) << "frames of the background not sent, of 1000";
    int missed = 0;
    for (int n = 0; n < 50; ++n) missed += v.decide(v.frame(58.0 + v.uniform(), 53.0 + v.uniform(), 0.3)) ? 0 : 1;
    EXPECT_EQ(missed, 0);
}

} // namespace
} // namespace g729
