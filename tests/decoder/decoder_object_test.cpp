// decode_frame as the host glue sees it: refused lengths, determinism, a
// stream that opens with comfort noise, and recovery from overflow.
#include "codec/decoder/decoder_object.h"
#include "tests/codec_test_support.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace g729 {
namespace {

std::vector<uint8_t> librivox_frames() { return testing::read_vector("speech_male_librivox.g729"); }

using testing::new_decoder;

std::array<int16_t, kFrame> decode(decoder_object& decoder, const uint8_t* bytes, int length) {
    std::array<int16_t, kFrame> out;
    out.fill(0);
    EXPECT_EQ(decode_frame(decoder, out.data(), bytes, length), 0);
    return out;
}

// Speech frames of the reference recording with SID frames spliced in.
std::vector<std::vector<uint8_t>> mixed_stream() {
    const std::vector<uint8_t> speech = librivox_frames();
    std::vector<std::vector<uint8_t>> frames;
    const uint8_t sids[][2] = {{0xa5, 0xc3}, {0x12, 0x34}, {0xff, 0xfe}};
    for (size_t f = 0; f < 120 && (f + 1) * kSpeechFrameBytes <= speech.size(); ++f) {
        frames.emplace_back(speech.begin() + f * kSpeechFrameBytes, speech.begin() + (f + 1) * kSpeechFrameBytes);
        if (f % 30 == 29) {
            for (const auto& sid : sids) frames.emplace_back(sid, sid + 2);
        }
    }
    return frames;
}

TEST(DecoderObject, RefusedLengthChangesNothing) {
    const auto frames = mixed_stream();
    auto reference = new_decoder();
    auto tested = new_decoder();
    for (size_t f = 0; f < frames.size(); ++f) {
        if (f % 7 == 3) {
            for (int length : {0, 1, 5, 9, 11}) {
                std::array<int16_t, kFrame> out;
                out.fill(1234);
                EXPECT_EQ(decode_frame(*tested, out.data(), frames[f].data(), length), -1);
                for (int16_t v : out) ASSERT_EQ(v, 1234) << "refused frame wrote output";
            }
        }
        const int length = int(frames[f].size());
        ASSERT_EQ(decode(*tested, frames[f].data(), length), decode(*reference, frames[f].data(), length))
            << "frame " << f;
    }
}

TEST(DecoderObject, TwoDecodersProduceIdenticalSamples) {
    const auto frames = mixed_stream();
    auto a = new_decoder();
    auto b = new_decoder();
    bool audible = false;
    for (const auto& frame : frames) {
        const auto out_a = decode(*a, frame.data(), int(frame.size()));
        const auto out_b = decode(*b, frame.data(), int(frame.size()));
        ASSERT_EQ(out_a, out_b);
        for (int16_t v : out_a) audible = audible || v != 0;
    }
    EXPECT_TRUE(audible);
}

TEST(DecoderObject, SidAsTheFirstFrameGivesComfortNoise) {
    auto decoder = new_decoder();
    const uint8_t sid[2] = {0xa5, 0xea}; // energy index 21: gain 399.052
    double energy = 0.0;
    for (int f = 0; f < 3; ++f) {
        const auto out = decode(*decoder, sid, kSidFrameBytes);
        for (int16_t v : out) energy += double(v) * v;
    }
    EXPECT_GT(energy / (3 * kFrame), 100.0);
}

// Frames whose pitch gain exceeds 1 on a short lag make the excitation grow
// without bound until the synthesis overflows.
std::array<uint8_t, kSpeechFrameBytes> runaway_frame() {
    // Lag 20 in both subframes; gain index 5 is pitch gain 1.35594.
    speech_parameters p{};
    p.subframes[0] = {2, 1234, 5, 5};
    p.subframes[1] = {2, 4321, 10, 5};
    p.pitch_parity = pitch_parity(2);
    std::array<uint8_t, kSpeechFrameBytes> bytes;
    int length = 0;
    pack_frame(p, bytes.data(), length);
    return bytes;
}

bool bounded_signal_memories(const decoder_object& d) {
    auto finite = [](const double* v, int n) {
        for (int i = 0; i < n; ++i) {
            if (!(std::fabs(v[i]) <= 1e6)) return false;
        }
        return true;
    };
    const pole_zero_memory& m = d.postprocess_memory;
    const double high_pass[] = {m.x1, m.x2, m.y1, m.y2};
    const double post[] = {d.postfilter_state.tilt_memory, d.postfilter_state.agc_gain};
    return finite(d.decoder_state.excitation_buffer, kExcitationHistory) &&
           finite(d.decoder_state.synthesis_filter_memory.data(), kOrder) &&
           finite(d.postfilter_state.residual_history, kResidualHistory) &&
           finite(d.postfilter_state.postfilter_synthesis_memory.data(), kOrder) && finite(post, 2) &&
           finite(high_pass, 4) && finite(d.synthesis_buffer, kSynthesisHistory);
}

TEST(DecoderObject, RecoversAfterTheSynthesisOverflows) {
    auto decoder = new_decoder();
    const auto runaway = runaway_frame();
    bool saturated = false;
    for (int f = 0; f < 1000; ++f) {
        const auto out = decode(*decoder, runaway.data(), kSpeechFrameBytes);
        for (int16_t v : out) saturated = saturated || v == 32767 || v == -32768;
        ASSERT_TRUE(bounded_signal_memories(*decoder)) << "frame " << f;
    }
    EXPECT_TRUE(saturated) << "the stream is not hostile enough";
}

struct speech_match {
    double level_difference_db;
    double correlation;
};

// Level difference and normalised correlation of two decodes of the same
// frames, from the given sample on.
speech_match compare_decodes(const std::vector<int16_t>& a, const std::vector<int16_t>& b, size_t from) {
    double aa = 0.0, bb = 0.0, ab = 0.0;
    for (size_t i = from; i < a.size(); ++i) {
        aa += double(a[i]) * a[i];
        bb += double(b[i]) * b[i];
        ab += double(a[i]) * b[i];
    }
    return {10.0 * std::log10((aa + 1.0) / (bb + 1.0)), ab / std::sqrt(aa * bb + 1.0)};
}

// A burst of hostile frames (pitch gain 1.356 at lag 20) drives the signal
// memories towards overflow. Whatever its length, the speech after it must
// sound as it does from a clean decoder once a few frames have passed,
// instead of seconds of saturated noise.
TEST(DecoderObject, SpeechAfterAHostileBurstMatchesACleanDecode) {
    const std::vector<uint8_t> speech = librivox_frames();
    const size_t frames = speech.size() / kSpeechFrameBytes;
    auto clean = new_decoder();
    std::vector<int16_t> want;
    for (size_t f = 0; f < frames; ++f) {
        const auto out = decode(*clean, &speech[f * kSpeechFrameBytes], kSpeechFrameBytes);
        want.insert(want.end(), out.begin(), out.end());
    }
    // The frame as a hostile sender would put it on the wire.
    const uint8_t hostile[kSpeechFrameBytes] = {0x00, 0x00, 0x00, 0xa0, 0x00, 0xf0, 0xa2, 0x00, 0x07, 0x85};
    const size_t settle = 10 * kFrame;
    std::vector<int> bursts;
    for (int n = 1; n <= 24; ++n) bursts.push_back(n);
    for (int n : {50, 100, 566, 1500}) bursts.push_back(n);
    for (int burst : bursts) {
        auto decoder = new_decoder();
        int saturated_frames = 0;
        for (int f = 0; f < burst; ++f) decode(*decoder, hostile, kSpeechFrameBytes);
        std::vector<int16_t> got;
        for (size_t f = 0; f < frames; ++f) {
            const auto out = decode(*decoder, &speech[f * kSpeechFrameBytes], kSpeechFrameBytes);
            bool saturated = false;
            for (int16_t v : out) saturated = saturated || v == 32767 || v == -32768;
            saturated_frames += saturated ? 1 : 0;
            got.insert(got.end(), out.begin(), out.end());
        }
        const speech_match m = compare_decodes(got, want, settle);
        EXPECT_LT(std::fabs(m.level_difference_db), 1.0) << "burst of " << burst;
        EXPECT_GT(m.correlation, 0.95) << "burst of " << burst;
        EXPECT_LE(saturated_frames, 2) << "burst of " << burst;
    }
}

// Whichever memory a non-finite or runaway value reaches, the frame that
// leaves it there also clears it, and the next frame decodes from clean
// memories.
TEST(DecoderObject, EveryPoisonedSignalMemoryIsCleared) {
    const std::vector<uint8_t> speech = librivox_frames();
    using slot = double* (*)(decoder_object&);
    const std::pair<const char*, slot> slots[] = {
        {"oldest excitation", [](decoder_object& d) { return &d.decoder_state.excitation_buffer[0]; }},
        {"newest past excitation",
         [](decoder_object& d) { return &d.decoder_state.excitation_buffer[kExcitationHistory - 1]; }},
        {"synthesis memory", [](decoder_object& d) { return &d.decoder_state.synthesis_filter_memory[kOrder - 1]; }},
        {"residual history", [](decoder_object& d) { return &d.postfilter_state.residual_history[0]; }},
        {"post-filter synthesis memory",
         [](decoder_object& d) { return &d.postfilter_state.postfilter_synthesis_memory[3]; }},
        {"tilt memory", [](decoder_object& d) { return &d.postfilter_state.tilt_memory; }},
        {"gain control", [](decoder_object& d) { return &d.postfilter_state.agc_gain; }},
        {"high-pass input", [](decoder_object& d) { return &d.postprocess_memory.x2; }},
        {"high-pass output", [](decoder_object& d) { return &d.postprocess_memory.y1; }},
        {"synthesis history", [](decoder_object& d) { return &d.synthesis_buffer[0]; }},
    };
    // Non-finite values, and finite ones far beyond anything speech reaches.
    const double poisons[] = {std::nan(""), HUGE_VAL, -HUGE_VAL, 2e6, -1e300};
    for (const auto& [name, where] : slots) {
        for (double poison : poisons) {
            auto decoder = new_decoder();
            for (size_t f = 0; f < 5; ++f) decode(*decoder, &speech[f * kSpeechFrameBytes], kSpeechFrameBytes);
            *where(*decoder) = poison;
            decode(*decoder, &speech[5 * kSpeechFrameBytes], kSpeechFrameBytes);
            EXPECT_TRUE(bounded_signal_memories(*decoder)) << name << " holding " << poison;
        }
    }
}

} // namespace
} // namespace g729
