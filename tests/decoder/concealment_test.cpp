// Frames that did not arrive, measured on the decoded bundled recording.
// The measures:
// - frame level: 10 log10 of the mean square of an 80-sample output frame,
//   in dB re one least significant bit (0 dB for a silent frame);
// - level step: a frame's level less the mean of its two neighbours' levels;
// - boundary jump: |y[b] - y[b-1]| at the first sample b of a frame, divided
//   by the largest such difference among the 12 samples before and after b
//   (a click is a jump that stands out from the waveform around it);
// - level-envelope distance: the mean over the active frames (loss-free
//   decode above -50 dBFS) of the absolute difference of frame levels;
// - log-spectral distance: over the same active frames, Hann-windowed, the
//   RMS over the 40 bins (100 ... 4000 Hz) of the difference of the two power
//   spectra in dB (each floored at 0 dB), averaged over the frames.
#include "codec/decoder/concealment.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "audio/frame_measures.h"
#include "codec/decoder/decoder_object.h"
#include "codec/decoder/output.h"
#include "tests/codec_test_support.h"
#include "g729a.h"

namespace g729 {
namespace {

std::vector<uint8_t> librivox_frames() { return testing::read_vector("speech_male_librivox.g729"); }

using testing::new_decoder;

std::array<uint8_t, kSidFrameBytes> sid_frame(int predictor, int first, int second, int energy) {
    const int s = (predictor << 15) | (first << 10) | (second << 6) | (energy << 1);
    return {uint8_t(s >> 8), uint8_t(s & 0xFF)};
}

enum class on_loss { conceal, insert_silence };

// Decodes the speech frames, frame f being missing where lost[f] is set:
// concealed by the decoder, or replaced by silence without the decoder
// seeing it (what a receiver without concealment does).
std::vector<int16_t> decode_with_losses(const std::vector<uint8_t>& bytes, const std::vector<bool>& lost,
                                        on_loss policy) {
    auto decoder = new_decoder();
    const size_t frames = bytes.size() / kSpeechFrameBytes;
    std::vector<int16_t> out(frames * kFrame, 0);
    for (size_t f = 0; f < frames; ++f) {
        int16_t* pcm = out.data() + f * kFrame;
        if (f < lost.size() && lost[f]) {
            if (policy == on_loss::conceal) decode_missing_frame(*decoder, pcm);
        } else {
            EXPECT_EQ(decode_frame(*decoder, pcm, &bytes[f * kSpeechFrameBytes], kSpeechFrameBytes), 0);
        }
    }
    return out;
}

using audio::level_db;
using audio::mean_square;

double frame_level(const std::vector<int16_t>& x, size_t f) { return level_db(mean_square(&x[f * kFrame], kFrame)); }

double level_over(const std::vector<int16_t>& x, size_t first_frame, size_t frames) {
    return level_db(mean_square(&x[first_frame * kFrame], int(frames) * kFrame));
}

double level_step(const std::vector<int16_t>& x, size_t f) {
    return frame_level(x, f) - 0.5 * (frame_level(x, f - 1) + frame_level(x, f + 1));
}

double boundary_jump(const std::vector<int16_t>& x, size_t b) {
    auto step = [&](size_t n) { return std::fabs(double(x[n]) - double(x[n - 1])); };
    double around = 1.0;
    for (size_t n = b - 12; n <= b + 12; ++n) {
        if (n != b) around = std::max(around, step(n));
    }
    return step(b) / around;
}

// Loud frames of the loss-free decode (above 60 dB, -30 dBFS) whose two
// neighbours are loud too: the middle of voiced stretches.
std::vector<size_t> voiced_frames(const std::vector<int16_t>& clean) {
    std::vector<size_t> frames;
    for (size_t f = 2; f + 2 < clean.size() / kFrame; ++f) {
        if (frame_level(clean, f - 1) > 60.0 && frame_level(clean, f) > 60.0 && frame_level(clean, f + 1) > 60.0) {
            frames.push_back(f);
        }
    }
    return frames;
}

// A fixed loss pattern from a plain 31-bit linear congruential generator,
// the same on every platform.
std::vector<bool> random_losses(size_t frames, int percent, uint32_t seed) {
    std::vector<bool> lost(frames, false);
    uint32_t x = seed;
    for (size_t f = 0; f < frames; ++f) {
        x = (x * 1103515245u + 12345u) & 0x7FFFFFFFu;
        lost[f] = f > 0 && int((x >> 16) % 100) < percent;
    }
    return lost;
}

constexpr double kActiveMeanSquare = 32768.0 * 32768.0 * 1e-5; // -50 dBFS

// The frames of the loss-free decode above -50 dBFS.
std::vector<bool> active_frames(const std::vector<int16_t>& reference) {
    std::vector<bool> active(reference.size() / kFrame);
    for (size_t f = 0; f < active.size(); ++f) active[f] = mean_square(&reference[f * kFrame], kFrame) >= kActiveMeanSquare;
    return active;
}

double level_envelope_distance(const std::vector<int16_t>& reference, const std::vector<int16_t>& test) {
    return audio::level_envelope_distance(reference, test, active_frames(reference));
}

double log_spectral_distance(const std::vector<int16_t>& reference, const std::vector<int16_t>& test) {
    return audio::log_spectral_distance(reference, test, active_frames(reference));
}

// One lost frame in the middle of voiced speech, at every such place of
// the recording: the concealed frame sits at the level of its neighbours,
// and neither of its ends jumps out of the waveform.
TEST(Concealment, SingleLossInVoicedSpeechHasNoLevelStepAndNoClick) {
    const std::vector<uint8_t> bytes = librivox_frames();
    const size_t frames = bytes.size() / kSpeechFrameBytes;
    const std::vector<int16_t> clean = decode_with_losses(bytes, {}, on_loss::conceal);
    const std::vector<size_t> places = voiced_frames(clean);
    ASSERT_GT(places.size(), 100u);

    // The decoder as it stands before each frame of the loss-free decode:
    // each loss is decoded from there up to the frame after it.
    std::vector<decoder_object> before(frames);
    {
        auto decoder = new_decoder();
        int16_t pcm[kFrame];
        for (size_t f = 0; f < frames; ++f) {
            before[f] = *decoder;
            decode_frame(*decoder, pcm, &bytes[f * kSpeechFrameBytes], kSpeechFrameBytes);
        }
    }
    auto decode_loss = [&](size_t p, on_loss policy) {
        std::vector<int16_t> out = clean;
        decoder_object decoder = before[p];
        if (policy == on_loss::conceal) {
            decode_missing_frame(decoder, &out[p * kFrame]);
        } else {
            std::fill(&out[p * kFrame], &out[(p + 1) * kFrame], int16_t(0));
        }
        decode_frame(decoder, &out[(p + 1) * kFrame], &bytes[(p + 1) * kSpeechFrameBytes], kSpeechFrameBytes);
        return out;
    };
    double worst_step = 0.0, sum_step = 0.0, worst_jump = 0.0, mildest_silence_step = 1e9;
    for (size_t p : places) {
        const std::vector<int16_t> concealed = decode_loss(p, on_loss::conceal);
        const double step = std::fabs(level_step(concealed, p));
        const double jump = std::max(boundary_jump(concealed, p * kFrame), boundary_jump(concealed, (p + 1) * kFrame));
        EXPECT_LT(step, 8.0) << "frame " << p;
        EXPECT_LT(jump, 1.5) << "frame " << p;
        worst_step = std::max(worst_step, step);
        worst_jump = std::max(worst_jump, jump);
        sum_step += step;

        const std::vector<int16_t> silent = decode_loss(p, on_loss::insert_silence);
        mildest_silence_step = std::min(mildest_silence_step, std::fabs(level_step(silent, p)));
    }
    const double mean_step = sum_step / double(places.size());
    std::printf("single loss in voiced speech, %zu places: level step mean %.2f dB, worst %.2f dB "
                "(silence: at least %.1f dB); boundary jump worst %.2f\n",
                places.size(), mean_step, worst_step, mildest_silence_step, worst_jump);
    EXPECT_LT(mean_step, 2.0);
    EXPECT_GT(mildest_silence_step, 50.0) << "the level step no longer sees a gap";
}

// 5% of the frames lost at random (three fixed patterns): the concealed
// decode is much closer to the loss-free one than silence insertion.
TEST(Concealment, FivePercentLossComesCloserToTheLossFreeDecodeThanSilence) {
    const std::vector<uint8_t> bytes = librivox_frames();
    const size_t frames = bytes.size() / kSpeechFrameBytes;
    const std::vector<int16_t> clean = decode_with_losses(bytes, {}, on_loss::conceal);
    struct Measure {
        const char* name;
        double (*distance)(const std::vector<int16_t>&, const std::vector<int16_t>&);
        double most; // of the silence insertion's distance
    };
    const Measure measures[] = {
        {"level-envelope distance", level_envelope_distance, 0.5},
        {"log-spectral distance", log_spectral_distance, 0.75},
    };
    for (uint32_t seed : {1u, 2u, 3u}) {
        const std::vector<bool> lost = random_losses(frames, 5, seed);
        const std::vector<int16_t> concealed = decode_with_losses(bytes, lost, on_loss::conceal);
        const std::vector<int16_t> silent = decode_with_losses(bytes, lost, on_loss::insert_silence);
        for (const Measure& m : measures) {
            const double c = m.distance(clean, concealed);
            const double s = m.distance(clean, silent);
            std::printf("5%% loss, pattern %u, %s to the loss-free decode: concealed %.2f dB, silence %.2f dB\n", seed,
                        m.name, c, s);
            EXPECT_LT(c, m.most * s) << m.name << ", pattern " << seed;
        }
    }
}

// Thirty lost frames from the middle of voiced speech: after the first
// frames the level falls every 20 ms, is 60 dB down (or silent) by the
// twentieth frame, and the speech after the loss comes back at its level.
TEST(Concealment, LongLossFadesToSilence) {
    const std::vector<uint8_t> bytes = librivox_frames();
    const size_t frames = bytes.size() / kSpeechFrameBytes;
    const std::vector<int16_t> clean = decode_with_losses(bytes, {}, on_loss::conceal);
    constexpr size_t kLost = 30;
    for (size_t p : voiced_frames(clean)) {
        if (p % 5 != 0 || p + kLost + 10 > frames) continue;
        std::vector<bool> lost(frames, false);
        for (size_t f = p; f < p + kLost; ++f) lost[f] = true;
        const std::vector<int16_t> concealed = decode_with_losses(bytes, lost, on_loss::conceal);
        const double before = frame_level(concealed, p - 1);
        for (size_t f = p + 4; f + 1 < p + kLost; f += 2) {
            const double block = level_over(concealed, f, 2);
            const double previous = level_over(concealed, f - 2, 2);
            EXPECT_TRUE(block < previous || block == 0.0)
                << "loss from frame " << p << ": frames " << f << "-" << f + 1 << " at " << block << " dB after "
                << previous << " dB";
        }
        EXPECT_LE(frame_level(concealed, p + 19), std::max(0.0, before - 60.0)) << "loss from frame " << p;
        // The speech after the loss is heard again, without a burst: the
        // gain predictor starts from the history the loss pulled down (left
        // as it was, the first frames come out up to 20 dB too loud).
        for (size_t f = p + kLost; f < p + kLost + 10; ++f) {
            EXPECT_LT(frame_level(concealed, f), frame_level(clean, f) + 6.0) << "loss from frame " << p << ", frame " << f;
            if (f >= p + kLost + 3 && frame_level(clean, f) > 40.0) {
                EXPECT_GT(frame_level(concealed, f), 20.0) << "loss from frame " << p << ", frame " << f;
            }
        }
    }
}

// The pitch lag of the last good frame goes on, one sample longer for each
// lost frame and never past 143, and concealment leaves the comfort-noise
// seed and the type of the last frame that arrived alone.
TEST(Concealment, LostFramesCarryThePitchLagOn) {
    const std::vector<uint8_t> speech = librivox_frames();
    const std::vector<int16_t> clean = decode_with_losses(speech, {}, on_loss::conceal);
    int lags_checked = 0;
    for (size_t p : voiced_frames(clean)) {
        if (p % 10 != 0) continue;
        auto decoder = new_decoder();
        int16_t pcm[kFrame];
        for (size_t f = 0; f < p; ++f) decode_frame(*decoder, pcm, &speech[f * kSpeechFrameBytes], kSpeechFrameBytes);
        const int last_lag = decoder->decoder_state.previous_integer_lag;
        const int16_t noise_seed = decoder->decoder_state.noise_seed;
        for (int n = 0; n < 150; ++n) {
            lp_filter_pair filters;
            pitch_lags lags;
            const frame_type type = conceal_frame(decoder->decoder_state, decoder->comfort_noise_state,
                                                  decoder->synthesis_buffer + kSynthesisHistory, filters, lags);
            // (A last lag of 144, which the second subframe can decode to, is
            // used once and then held at 143.)
            const int want = n == 0 ? last_lag : std::min(last_lag + n, kPitchMax);
            ASSERT_EQ(lags[0], want) << "frame " << p << ", lost frame " << n;
            ASSERT_EQ(lags[1], lags[0]);
            ASSERT_EQ(filters[0], filters[1]);
            ASSERT_EQ(type, frame_type::speech);
            output_frame(*decoder, filters, lags, type, pcm);
            ++lags_checked;
        }
        EXPECT_EQ(decoder->decoder_state.noise_seed, noise_seed);
        EXPECT_EQ(decoder->decoder_state.previous_frame_type, frame_type::speech);
    }
    EXPECT_GT(lags_checked, 0);
}

// A SID frame after speech, then three seconds of frames not transmitted:
// the comfort noise keeps the level of the SID frame's own output. (SID
// frames repeated byte for byte would not do as a reference: each pushes
// its LSF vector into the predictor memory, and the spectrum, with it the
// level, drifts away from what the sender coded.)
TEST(Concealment, ComfortNoiseGoesOnAtTheLevelOfTheSidFrame) {
    const std::vector<uint8_t> speech = librivox_frames();
    constexpr int kSpeechFrames = 60;
    constexpr int kSilence = 300;
    for (int energy : {6, 14, 20, 28}) {
        const auto sid = sid_frame(0, 3, 5, energy);
        auto decoder = new_decoder();
        std::array<int16_t, kFrame> out;
        for (int f = 0; f < kSpeechFrames; ++f) {
            decode_frame(*decoder, out.data(), &speech[f * kSpeechFrameBytes], kSpeechFrameBytes);
        }
        std::vector<int16_t> silence;
        decode_frame(*decoder, out.data(), sid.data(), kSidFrameBytes);
        silence.insert(silence.end(), out.begin(), out.end());
        for (int f = 0; f < kSilence; ++f) {
            decode_missing_frame(*decoder, out.data());
            silence.insert(silence.end(), out.begin(), out.end());
        }
        const double sid_level = frame_level(silence, 0);
        const double gap_level = level_over(silence, 1, kSilence);
        std::printf("comfort noise, energy index %d: SID frame %.2f dB, %d missing frames after it %.2f dB\n", energy,
                    sid_level, kSilence, gap_level);
        EXPECT_NEAR(gap_level, sid_level, 1.0) << "energy index " << energy;
        // No click where the missing frames start, and no drift: the first
        // one sounds like the SID frame, and every 100 ms keeps the level.
        EXPECT_NEAR(frame_level(silence, 1), sid_level, 3.0) << "energy index " << energy;
        for (int f = 1; f + 10 <= kSilence + 1; f += 10) {
            EXPECT_NEAR(level_over(silence, f, 10), gap_level, 2.0) << "energy index " << energy << ", frame " << f;
        }
    }
}

// After missing frames the parameter memories are those the SID frame left,
// so the next SID or speech frame continues from them as it would right
// after that SID; only the noise gain has moved on (towards the same SID
// gain) and the seed has run on.
TEST(Concealment, FrameAfterASilenceContinuesAsAfterTheSid) {
    const std::vector<uint8_t> speech = librivox_frames();
    const auto sid = sid_frame(1, 17, 9, 18);
    auto after_sid = new_decoder();
    auto after_gap = new_decoder();
    std::array<int16_t, kFrame> out;
    for (int f = 0; f < 40; ++f) {
        decode_frame(*after_sid, out.data(), &speech[f * kSpeechFrameBytes], kSpeechFrameBytes);
        decode_frame(*after_gap, out.data(), &speech[f * kSpeechFrameBytes], kSpeechFrameBytes);
    }
    decode_frame(*after_sid, out.data(), sid.data(), kSidFrameBytes);
    decode_frame(*after_gap, out.data(), sid.data(), kSidFrameBytes);
    for (int f = 0; f < 50; ++f) decode_missing_frame(*after_gap, out.data());

    const decoder_state& a = after_sid->decoder_state;
    const decoder_state& b = after_gap->decoder_state;
    EXPECT_EQ(a.lsf_predictor_memory, b.lsf_predictor_memory);
    EXPECT_EQ(a.previous_quantized_lsp, b.previous_quantized_lsp);
    EXPECT_EQ(a.energy_history, b.energy_history);
    EXPECT_EQ(a.previous_integer_lag, b.previous_integer_lag);
    EXPECT_EQ(a.previous_frame_type, frame_type::sid);
    EXPECT_EQ(b.previous_frame_type, frame_type::sid);
    EXPECT_EQ(after_sid->comfort_noise_state.sid_gain, after_gap->comfort_noise_state.sid_gain);
    EXPECT_NEAR(after_gap->comfort_noise_state.current_noise_gain, after_sid->comfort_noise_state.current_noise_gain,
                1e-9 * after_sid->comfort_noise_state.current_noise_gain);

    // A quieter SID frame then moves the gain an eighth of the way, as after
    // the SID itself.
    const auto quieter = sid_frame(1, 17, 9, 10);
    decode_frame(*after_sid, out.data(), quieter.data(), kSidFrameBytes);
    decode_frame(*after_gap, out.data(), quieter.data(), kSidFrameBytes);
    const double g = sid_gain_table[18];
    EXPECT_NEAR(after_gap->comfort_noise_state.current_noise_gain, 0.875 * g + 0.125 * sid_gain_table[10], 1e-9 * g);
    EXPECT_EQ(a.lsf_predictor_memory, b.lsf_predictor_memory);

    // Speech afterwards decodes from the same parameter memories and
    // quickly sounds the same.
    std::vector<int16_t> x, y;
    for (int f = 40; f < 140; ++f) {
        decode_frame(*after_sid, out.data(), &speech[f * kSpeechFrameBytes], kSpeechFrameBytes);
        x.insert(x.end(), out.begin(), out.end());
        decode_frame(*after_gap, out.data(), &speech[f * kSpeechFrameBytes], kSpeechFrameBytes);
        y.insert(y.end(), out.begin(), out.end());
    }
    EXPECT_EQ(a.lsf_predictor_memory, b.lsf_predictor_memory);
    EXPECT_EQ(a.energy_history, b.energy_history);
    EXPECT_NEAR(level_over(y, 10, 90), level_over(x, 10, 90), 0.5);
}

// Frame lengths and bits through the public face: one call per frame, 80
// samples each, missing frames anywhere (before the first frame, after
// speech, after SID frames, in long runs, among hostile frames), and two
// decoders agree bit for bit; the memories stay finite.
TEST(Concealment, MissingFramesAreDeterministicAndKeepTheStreamOnTime) {
    const std::vector<uint8_t> speech = librivox_frames();
    const auto sid = sid_frame(0, 9, 2, 16);
    // Lag 20 with pitch gain 1.36 in both subframes: the excitation grows
    // until the decoder restarts its memories.
    speech_parameters hostile{};
    hostile.subframes[0] = {2, 1234, 5, 5};
    hostile.subframes[1] = {2, 4321, 10, 5};
    hostile.pitch_parity = pitch_parity(2);
    uint8_t runaway[kSpeechFrameBytes];
    int runaway_length = 0;
    pack_frame(hostile, runaway, runaway_length);
    std::vector<std::pair<const uint8_t*, size_t>> stream;
    uint32_t x = 7;
    size_t next_speech = 0;
    for (int f = 0; f < 2000; ++f) {
        x = (x * 1103515245u + 12345u) & 0x7FFFFFFFu;
        const int draw = int((x >> 16) % 100);
        if (f < 3 || draw < 8 || (f % 400 > 300 && f % 400 < 330)) {
            stream.emplace_back(nullptr, 0);
        } else if (draw < 14 || (f % 400 > 200 && f % 400 < 260)) {
            stream.emplace_back(sid.data(), kSidFrameBytes);
        } else if (draw < 16) {
            stream.emplace_back(runaway, kSpeechFrameBytes);
        } else {
            stream.emplace_back(&speech[next_speech * kSpeechFrameBytes], kSpeechFrameBytes);
            next_speech = (next_speech + 1) % (speech.size() / kSpeechFrameBytes);
        }
    }
    int error = 0;
    g729a_decoder* a = g729a_decoder_create(&error);
    g729a_decoder* b = g729a_decoder_create(&error);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    std::vector<int16_t> out_a, out_b;
    for (const auto& [frame, length] : stream) {
        int16_t pcm_a[G729A_FRAME_SAMPLES], pcm_b[G729A_FRAME_SAMPLES];
        ASSERT_EQ(g729a_decode(a, frame, length, pcm_a, G729A_FRAME_SAMPLES), G729A_FRAME_SAMPLES);
        ASSERT_EQ(g729a_decode(b, frame, length, pcm_b, G729A_FRAME_SAMPLES), G729A_FRAME_SAMPLES);
        out_a.insert(out_a.end(), pcm_a, pcm_a + G729A_FRAME_SAMPLES);
        out_b.insert(out_b.end(), pcm_b, pcm_b + G729A_FRAME_SAMPLES);
    }
    EXPECT_EQ(out_a.size(), stream.size() * G729A_FRAME_SAMPLES);
    EXPECT_TRUE(out_a == out_b);
    // The first three frames were missing before anything arrived: silence.
    for (int i = 0; i < 3 * kFrame; ++i) ASSERT_EQ(out_a[i], 0) << i;
    g729a_decoder_destroy(a);
    g729a_decoder_destroy(b);

    auto decoder = new_decoder();
    int16_t pcm[kFrame];
    for (const auto& [frame, length] : stream) {
        if (frame == nullptr) {
            decode_missing_frame(*decoder, pcm);
        } else {
            decode_frame(*decoder, pcm, frame, int(length));
        }
        const decoder_state& s = decoder->decoder_state;
        ASSERT_TRUE(std::isfinite(s.last_pitch_gain) && std::isfinite(s.last_code_gain));
        for (double v : s.excitation_buffer) ASSERT_TRUE(std::isfinite(v));
        for (double v : s.synthesis_filter_memory) ASSERT_TRUE(std::isfinite(v));
        for (double v : s.energy_history) ASSERT_TRUE(std::isfinite(v));
        for (const lsf_vector& row : s.lsf_predictor_memory) {
            for (double v : row) ASSERT_TRUE(std::isfinite(v));
        }
    }
}

} // namespace
} // namespace g729
