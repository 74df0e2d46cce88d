// Frames that did not arrive, measured on the decoded bundled recordings.
// The measures:
// - frame level, level-envelope and log-spectral distance, recovery profile
//   and bursts as in audio/loss_measures.h (the concealment benchmark uses
//   the same);
// - level step: a frame's level less the mean of its two neighbours' levels;
// - boundary jump: |y[b] - y[b-1]| at the first sample b of a frame, divided
//   by the largest such difference among the 12 samples before and after b
//   (a click is a jump that stands out from the waveform around it).
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

#include "audio/loss_measures.h"
#include "codec/decoder/decoder_object.h"
#include "codec/decoder/output.h"
#include "codec/dsp/gain.h"
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

using audio::frame_level;
using audio::level_db;
using audio::level_envelope_distance;
using audio::log_spectral_distance;
using audio::mean_square;

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

// The three recordings as the sender coded them.
std::vector<std::vector<uint8_t>> recordings() {
    return {librivox_frames(), testing::read_vector("speech_male_espeak.g729"),
            testing::read_vector("speech_female_espeak.g729")};
}

// Losses of one and of three 20 ms packets starting at every frame of the
// three recordings, word onsets included: no missing frame is heard more
// than 6 dB above the last frame that arrived (levels floored at -50 dBFS,
// where nothing is heard as speech). Repeating the last pitch period of an
// onset would carry its growth on into a burst.
TEST(Concealment, NoMissingFrameIsHeardLouderThanTheLastFrameThatArrived) {
    for (const std::vector<uint8_t>& bytes : recordings()) {
        const size_t frames = bytes.size() / kSpeechFrameBytes;
        std::vector<decoder_object> before(frames);
        std::vector<int16_t> clean(frames * kFrame);
        {
            auto decoder = new_decoder();
            for (size_t f = 0; f < frames; ++f) {
                before[f] = *decoder;
                decode_frame(*decoder, &clean[f * kFrame], &bytes[f * kSpeechFrameBytes], kSpeechFrameBytes);
            }
        }
        double worst = -1e9;
        size_t worst_place = 0;
        for (size_t lost_frames : {size_t(2), size_t(6)}) {
            for (size_t p = 1; p + lost_frames < frames; ++p) {
                // The last frame that arrived, then the missing ones.
                std::vector<int16_t> heard(&clean[(p - 1) * kFrame], &clean[p * kFrame]);
                decoder_object decoder = before[p];
                int16_t pcm[kFrame];
                for (size_t n = 0; n < lost_frames; ++n) {
                    decode_missing_frame(decoder, pcm);
                    heard.insert(heard.end(), pcm, pcm + kFrame);
                }
                const double excess = audio::concealed_excess(heard, {1, 1 + lost_frames, 1 + lost_frames});
                if (excess > worst) worst = excess, worst_place = p;
            }
        }
        std::printf("missing frames above the last one that arrived: at most %+.1f dB (loss from frame %zu)\n",
                    worst, worst_place);
        EXPECT_LE(worst, 6.0) << "loss from frame " << worst_place;
    }
}

// One recording with one pattern of lost 20 ms packets (both its frames).
struct packet_loss_run {
    const std::vector<uint8_t>& bytes;
    const std::vector<int16_t>& clean; // the loss-free decode
    const std::vector<bool>& lost;     // per frame
    const std::vector<audio::loss_span>& losses;
};

// Ten patterns of 10% of the packets lost at random on each recording.
template <typename Visit>
void for_each_packet_loss_pattern(Visit visit) {
    for (const std::vector<uint8_t>& bytes : recordings()) {
        const size_t frames = bytes.size() / kSpeechFrameBytes;
        const std::vector<int16_t> clean = decode_with_losses(bytes, {}, on_loss::conceal);
        for (uint32_t seed = 1; seed <= 10; ++seed) {
            const std::vector<bool> packets = random_losses((frames + 1) / 2, 10, seed);
            std::vector<bool> lost(frames);
            for (size_t f = 0; f < frames; ++f) lost[f] = packets[f / 2];
            const std::vector<audio::loss_span> losses = audio::loss_spans(lost);
            visit(packet_loss_run{bytes, clean, lost, losses});
        }
    }
}

// 10% of the 20 ms packets lost at random, ten patterns on each recording:
// the speech after a loss comes back at its level, the first frame within
// 2 dB of the loss-free decode and the third within 1 dB (medians over the
// losses). Memories that the concealment pulled down leave the frames after
// a loss 5 to 8 dB low for 20 ms and more.
TEST(Concealment, SpeechComesBackAtItsLevelAfterALoss) {
    std::vector<double> first, third;
    for_each_packet_loss_pattern([&](const packet_loss_run& run) {
        const std::vector<int16_t> concealed = decode_with_losses(run.bytes, run.lost, on_loss::conceal);
        audio::recovery_differences(run.clean, concealed, run.losses, 0, first);
        audio::recovery_differences(run.clean, concealed, run.losses, 2, third);
    });
    const double at_first = audio::median(first), at_third = audio::median(third);
    std::printf("after a loss, median level against the loss-free decode: first frame %+.2f dB (%zu losses), "
                "third %+.2f dB (%zu)\n", at_first, first.size(), at_third, third.size());
    EXPECT_LT(std::fabs(at_first), 2.0);
    EXPECT_LT(std::fabs(at_third), 1.0);
}

// 10% of the 20 ms packets lost at random, ten patterns on each recording:
// the spectrum of the first four frames after a loss (log-spectral distance
// to the loss-free decode, mean over the losses) comes back well inside
// that of a decoder never told of the losses, whose memories are those of
// the last frame that arrived, and keeps closing in over the next four.
// Predicting from the concealment's own excitation and the gain entries it
// held left the first four at 7.2 dB and more, the next four at 3.4.
TEST(Concealment, SpectrumComesBackAfterALoss) {
    std::vector<double> concealed_first, concealed_next, silent_first;
    for_each_packet_loss_pattern([&](const packet_loss_run& run) {
        const std::vector<int16_t> concealed = decode_with_losses(run.bytes, run.lost, on_loss::conceal);
        const std::vector<int16_t> silent = decode_with_losses(run.bytes, run.lost, on_loss::insert_silence);
        for (int offset = 0; offset < 4; ++offset) {
            audio::recovery_spectral_distances(run.clean, concealed, run.losses, offset, concealed_first);
            audio::recovery_spectral_distances(run.clean, concealed, run.losses, offset + 4, concealed_next);
            audio::recovery_spectral_distances(run.clean, silent, run.losses, offset, silent_first);
        }
    });
    const double first = audio::mean(concealed_first), next = audio::mean(concealed_next);
    const double silent = audio::mean(silent_first);
    std::printf("after a loss, log-spectral distance to the loss-free decode: frames 1-4 %.2f dB (never told "
                "of the loss %.2f dB), frames 5-8 %.2f dB\n", first, silent, next);
    EXPECT_LT(first, 7.1);
    EXPECT_LT(first, silent - 0.5);
    EXPECT_LT(next, 0.6 * first);
}

// A decoder state in the middle of a loss of lost_frames frames whose last
// good frame left excitation before and lag before_lag, and the first frame
// after it with a first-subframe pitch index.
struct recovery_case {
    const char* name;
    int lost_frames;
    int pitch_index; // 92: lag 50; 122: lag 60
    bool parity_error;
};

// 1000 every period samples from phase on, 0 elsewhere, at sample n.
double pulse(long n, int period, int phase) { return (n - phase) % period == 0 ? 1000.0 : 0.0; }

// Where the first frame after a loss copies its pitch contribution from: a
// steady pitch pulse train through a loss comes back in phase, as if it had
// never stopped; a pitch that moved between the last good frame and the
// first after the loss is followed there; with a damaged pitch index, or
// after more than 80 ms, the concealment's excitation stays.
TEST(Concealment, FirstFrameAfterALossPredictsFromTheLastGoodPeriodCarriedOn) {
    constexpr int kPeriod = 50, kPhase = 7;
    const recovery_case cases[] = {
        {"steady pitch, one packet", 2, 92, false},
        {"steady pitch, two packets", 4, 92, false},
        {"pitch moving to 60", 2, 122, false},
        {"damaged pitch index", 2, 92, true},
        {"longer than 80 ms", 9, 92, false},
    };
    for (const recovery_case& c : cases) {
        SCOPED_TRACE(c.name);
        auto decoder = new_decoder();
        decoder_state& state = decoder->decoder_state;
        for (int i = 0; i < kExcitationHistory; ++i) {
            state.excitation_before_loss[i] = pulse(i, kPeriod, kPhase);
            state.excitation_buffer[i] = 3.0; // what concealment left
        }
        state.lag_before_loss = kPeriod;
        state.lost_frames = c.lost_frames;
        speech_parameters params{};
        params.subframes[0].pitch_index = c.pitch_index;
        params.parity_error = c.parity_error;
        recover_memories(state, params);

        const double* history = state.excitation_buffer;
        if (c.parity_error || c.lost_frames > 8) {
            for (int i = 0; i < kExcitationHistory; ++i) ASSERT_EQ(history[i], 3.0) << i;
        } else if (c.pitch_index == 92) {
            const long shift = long(c.lost_frames) * kFrame;
            for (int i = 0; i < kExcitationHistory; ++i) ASSERT_EQ(history[i], pulse(i + shift, kPeriod, kPhase)) << i;
        } else {
            // The spacing of the last two pulses (the rebuilt pulses spread
            // over neighbouring samples: their peaks).
            auto peak = [&](int from, int to) {
                int at = from;
                for (int i = from; i < to; ++i) {
                    if (history[i] > history[at]) at = i;
                }
                return at;
            };
            const int last = peak(kExcitationHistory - 60, kExcitationHistory);
            const int best_lag = last - peak(last - 70, last - 40);
            EXPECT_GE(best_lag, 57);
            EXPECT_LE(best_lag, 61);
        }
    }
}

// 20 log10 of the correction factor a gain index carries, as the decoder's
// gain predictor records it.
double recorded_energy(int gain_index) {
    energy_memory history{};
    double code[kSubframe] = {1.0};
    double pitch_gain = 0.0, code_gain = 0.0;
    decode_gains(history, gain_index, code, kSubframe, pitch_gain, code_gain);
    return history[0];
}

// The gain predictor's entries of the lost subframes, which the first frame
// after a loss predicts its fixed-codebook gains from, move from those held
// through the loss towards the correction factors that frame carries, up
// or down; after more than 80 ms they stay as the concealment faded them.
TEST(Concealment, FirstFrameAfterALossGuessesTheGainEntriesFromItsOwnGains) {
    int loudest = 0, quietest = 0;
    for (int index = 0; index < 128; ++index) {
        if (recorded_energy(index) > recorded_energy(loudest)) loudest = index;
        if (recorded_energy(index) < recorded_energy(quietest)) quietest = index;
    }
    struct Case {
        const char* name;
        int lost_frames;
        double held;
        int gain_index;
    };
    const Case cases[] = {
        {"one packet, louder", 2, -8.0, loudest},   {"one packet, quieter", 2, 8.0, quietest},
        {"three packets, louder", 6, -8.0, loudest}, {"three packets, quieter", 6, 8.0, quietest},
        {"longer than 80 ms", 9, -8.0, loudest},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto decoder = new_decoder();
        decoder_state& state = decoder->decoder_state;
        state.lost_frames = c.lost_frames;
        state.energy_history.fill(c.held);
        speech_parameters params{};
        params.parity_error = true;
        for (subframe_parameters& s : params.subframes) s.gain_indices = c.gain_index;
        recover_memories(state, params);
        const double received = recorded_energy(c.gain_index);
        for (double entry : state.energy_history) {
            if (c.lost_frames > 8) {
                EXPECT_EQ(entry, c.held);
            } else {
                EXPECT_GT(std::fabs(entry - c.held), 0.4 * std::fabs(received - c.held));
                EXPECT_LT(std::fabs(entry - received), std::fabs(c.held - received));
            }
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
        // The speech after the loss is heard again, without a burst: past
        // 80 ms the excitation and the gain predictor's history fall with
        // what is heard (left as they were, the first frames come out up to
        // 20 dB too loud).
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
        ASSERT_TRUE(std::isfinite(s.last_pitch_gain) && std::isfinite(s.excitation_level) &&
                    std::isfinite(s.heard_gain) && std::isfinite(s.output_level));
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
