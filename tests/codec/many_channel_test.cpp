// The many-channel calls: every channel of g729a_encode_many and
// g729a_decode_many gets exactly what its own single-channel calls give,
// whatever the other channels carry, and a refused channel changes nothing.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "g729a.h"
#include "tests/codec_test_support.h"

namespace g729 {
namespace {

using testing::as_samples;
using testing::expect_same_samples;
using testing::read_vector;

constexpr size_t kSamples = G729A_FRAME_SAMPLES;


// Decoders or encoders on the heap, released with the set.
template <typename Handle, Handle* (*create)(int*), void (*destroy)(Handle*)>
struct instance_set {
    std::vector<Handle*> handles;
    explicit instance_set(size_t n) {
        for (size_t i = 0; i < n; ++i) handles.push_back(create(nullptr));
    }
    ~instance_set() {
        for (Handle* h : handles) destroy(h);
    }
    instance_set(const instance_set&) = delete;
    instance_set& operator=(const instance_set&) = delete;
};
using decoder_set = instance_set<g729a_decoder, g729a_decoder_create, g729a_decoder_destroy>;
using encoder_set = instance_set<g729a_encoder, g729a_encoder_create, g729a_encoder_destroy>;

// One frame of a channel's stream: its bytes, possibly none (a frame that
// did not arrive).
struct coded_frame {
    std::vector<uint8_t> bytes;
};
using stream = std::vector<coded_frame>;

// The speech and SID frames of a decoder vector (the records of other
// lengths produce nothing, so they are left out) and the samples the
// reference decoder gave for them.
struct decoder_vector {
    stream frames;
    std::vector<int16_t> want;
};

decoder_vector load_decoder_vector(const std::string& name) {
    decoder_vector v;
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".pay") == 0) {
        const std::vector<uint8_t> records = read_vector(name);
        for (size_t pos = 0; pos < records.size();) {
            const size_t length = records[pos];
            if (length == G729A_SPEECH_FRAME_BYTES || length == G729A_SID_FRAME_BYTES)
                v.frames.push_back({std::vector<uint8_t>(&records[pos + 1], &records[pos + 1 + length])});
            pos += 1 + length;
        }
    } else {
        const std::vector<uint8_t> bits = read_vector(name);
        for (size_t pos = 0; pos + G729A_SPEECH_FRAME_BYTES <= bits.size(); pos += G729A_SPEECH_FRAME_BYTES)
            v.frames.push_back({std::vector<uint8_t>(&bits[pos], &bits[pos + G729A_SPEECH_FRAME_BYTES])});
    }
    v.want = as_samples(read_vector(name + ".raw"));
    return v;
}

// Decodes the channels' streams side by side with g729a_decode_many, all
// channels starting together; a channel whose stream has ended is left out
// of the calls from then on, so the count shrinks as the streams end. kinds,
// when given, receives each channel's g729a_decoder_frame_kind after every
// frame.
std::vector<std::vector<int16_t>> decode_side_by_side(const std::vector<stream>& streams,
                                                      std::vector<std::vector<int>>* kinds = nullptr) {
    decoder_set set(streams.size());
    std::vector<std::vector<int16_t>> out(streams.size());
    if (kinds != nullptr) kinds->assign(streams.size(), {});
    for (size_t f = 0;; ++f) {
        std::vector<g729a_decoder*> decoders;
        std::vector<const uint8_t*> frames;
        std::vector<size_t> lengths;
        std::vector<int16_t*> pcm;
        std::vector<size_t> channel;
        for (size_t c = 0; c < streams.size(); ++c) {
            if (f >= streams[c].size()) continue;
            const std::vector<uint8_t>& b = streams[c][f].bytes;
            out[c].resize(out[c].size() + kSamples);
            decoders.push_back(set.handles[c]);
            frames.push_back(b.empty() ? nullptr : b.data());
            lengths.push_back(b.size());
            channel.push_back(c);
        }
        if (decoders.empty()) break;
        for (size_t c : channel) pcm.push_back(&out[c][out[c].size() - kSamples]);
        std::vector<int> results(decoders.size(), 0);
        EXPECT_EQ(g729a_decode_many(decoders.data(), frames.data(), lengths.data(), pcm.data(), decoders.size(),
                                    results.data()),
                  G729A_OK);
        for (int r : results) EXPECT_EQ(r, int(kSamples));
        if (kinds != nullptr) {
            for (size_t c : channel) (*kinds)[c].push_back(g729a_decoder_frame_kind(set.handles[c]));
        }
    }
    return out;
}

// The same stream through one decoder of its own, frame by frame.
std::vector<int16_t> decode_alone(const stream& s, std::vector<int>* kinds = nullptr) {
    decoder_set set(1);
    std::vector<int16_t> out(s.size() * kSamples);
    for (size_t f = 0; f < s.size(); ++f) {
        if (kinds != nullptr && f > 0) kinds->push_back(g729a_decoder_frame_kind(set.handles[0]));
        const std::vector<uint8_t>& b = s[f].bytes;
        EXPECT_EQ(g729a_decode(set.handles[0], b.empty() ? nullptr : b.data(), b.size(), &out[f * kSamples], kSamples),
                  int(kSamples));
    }
    if (kinds != nullptr && !s.empty()) kinds->push_back(g729a_decoder_frame_kind(set.handles[0]));
    return out;
}


const char* const kDecoderVectors[] = {
    "speech_male_librivox.g729", "random_frames.pay",     "speech_sid_mix.pay",     "parity_errors.pay",
    "speech_male_espeak.g729",   "tone_1kHz.g729",        "square_fullscale.g729",  "silence.g729",
    "speech_female_espeak.g729",
};

// Every vector in every lane position: channel c of a call of n decodes
// vector (c + shift) % 9, so each vector meets every kind of neighbour, and
// the streams end at different frames.
TEST(ManyChannelDecoding, EveryChannelReproducesTheReferenceVectorsWhateverItsNeighboursCarry) {
    std::vector<decoder_vector> vectors;
    for (const char* name : kDecoderVectors) vectors.push_back(load_decoder_vector(name));
    const size_t n_vectors = vectors.size();
    for (size_t n : {size_t(1), size_t(4), size_t(5), size_t(9), size_t(16)}) {
        for (size_t shift : {size_t(0), size_t(3)}) {
            std::vector<stream> streams;
            for (size_t c = 0; c < n; ++c) streams.push_back(vectors[(c + shift) % n_vectors].frames);
            const std::vector<std::vector<int16_t>> out = decode_side_by_side(streams);
            for (size_t c = 0; c < n; ++c) {
                const size_t v = (c + shift) % n_vectors;
                expect_same_samples(out[c], vectors[v].want,
                                    std::string(kDecoderVectors[v]) + " in channel " + std::to_string(c) + " of " +
                                        std::to_string(n));
            }
        }
    }
}

// Random streams: well-formed speech frames of random bits, SID frames and
// missing frames in runs, different in every channel, so that each call
// mixes every kind of frame across its lanes and every kind of transition
// within a channel (concealment after speech and after SID, SID after lost
// frames, speech after a long loss).
stream random_stream(std::mt19937& random, size_t frames) {
    stream s;
    std::uniform_int_distribution<int> byte(0, 255), kind(0, 9), run(1, 12);
    while (s.size() < frames) {
        const int k = kind(random);
        const int length = k < 6 ? G729A_SPEECH_FRAME_BYTES : k < 8 ? G729A_SID_FRAME_BYTES : 0;
        for (int r = run(random); r > 0 && s.size() < frames; --r) {
            coded_frame f;
            for (int b = 0; b < length; ++b) f.bytes.push_back(uint8_t(byte(random)));
            s.push_back(f);
        }
    }
    return s;
}

// Each channel's frame kind (g729a_decoder_frame_kind) follows its stream
// as well.
TEST(ManyChannelDecoding, EveryChannelOfRandomStreamsMatchesItsOwnDecoder) {
    std::mt19937 random(20);
    for (size_t n : {size_t(2), size_t(4), size_t(7), size_t(8), size_t(16)}) {
        std::vector<stream> streams;
        for (size_t c = 0; c < n; ++c) streams.push_back(random_stream(random, 150 + 13 * c));
        std::vector<std::vector<int>> kinds;
        const std::vector<std::vector<int16_t>> out = decode_side_by_side(streams, &kinds);
        for (size_t c = 0; c < n; ++c) {
            const std::string what = "random stream in channel " + std::to_string(c) + " of " + std::to_string(n);
            std::vector<int> want_kinds;
            expect_same_samples(out[c], decode_alone(streams[c], &want_kinds), what);
            EXPECT_EQ(kinds[c], want_kinds) << what;
        }
    }
}

// Hostile frames drive the memories out of range until the decoder
// restarts them; a lane doing so must not disturb its neighbours, and must
// itself restart exactly as a single decoder does.
TEST(ManyChannelDecoding, AChannelThatRestartsItsMemoriesLeavesItsNeighboursAlone) {
    const decoder_vector speech = load_decoder_vector("speech_male_librivox.g729");
    // Pitch gain 1.356 at lag 20: bursts of this frame drive the memories
    // towards overflow, and the speech between the bursts is heard only
    // once they have been restarted.
    const coded_frame hostile{{0x00, 0x00, 0x00, 0xa0, 0x00, 0xf0, 0xa2, 0x00, 0x07, 0x85}};
    stream runaway;
    for (size_t f = 0; f < speech.frames.size(); ++f) runaway.push_back(f % 100 < 40 ? hostile : speech.frames[f]);
    const std::vector<stream> streams = {speech.frames, runaway, speech.frames, runaway, speech.frames};
    const std::vector<std::vector<int16_t>> out = decode_side_by_side(streams);
    for (size_t c = 0; c < streams.size(); ++c)
        expect_same_samples(out[c], decode_alone(streams[c]), "channel " + std::to_string(c));
}

// The encoder vectors, each input in several lanes starting at different
// frames, against the single encoder of the same channel.
TEST(ManyChannelEncoding, EveryChannelCodesAsItsOwnEncoder) {
    const char* const inputs[] = {"speech_male_librivox.raw", "tone_1kHz.raw", "square_fullscale.raw",
                                  "speech_female_espeak.raw", "silence.raw"};
    std::vector<std::vector<int16_t>> pcm;
    for (const char* name : inputs) pcm.push_back(as_samples(read_vector(name)));
    for (size_t n : {size_t(1), size_t(3), size_t(4), size_t(8), size_t(16)}) {
        const size_t frames = 200;
        encoder_set many(n), alone(n);
        // Every third channel suppresses silence: it sends SID frames or
        // nothing in the silent input, and is coded beside the others.
        for (size_t c = 2; c < n; c += 3) {
            ASSERT_EQ(g729a_encoder_set_dtx(many.handles[c], 1), G729A_OK);
            ASSERT_EQ(g729a_encoder_set_dtx(alone.handles[c], 1), G729A_OK);
        }
        for (size_t f = 0; f < frames; ++f) {
            std::vector<const int16_t*> in(n);
            std::vector<std::vector<uint8_t>> bits(n, std::vector<uint8_t>(G729A_SPEECH_FRAME_BYTES));
            std::vector<uint8_t*> out(n);
            for (size_t c = 0; c < n; ++c) {
                const std::vector<int16_t>& p = pcm[c % pcm.size()];
                in[c] = &p[((f + 37 * c) % (p.size() / kSamples)) * kSamples];
                out[c] = bits[c].data();
            }
            std::vector<int> results(n, 0);
            ASSERT_EQ(g729a_encode_many(many.handles.data(), in.data(), out.data(), n, results.data()), G729A_OK);
            for (size_t c = 0; c < n; ++c) {
                uint8_t want[G729A_SPEECH_FRAME_BYTES];
                const int length = g729a_encode(alone.handles[c], in[c], kSamples, want, sizeof want);
                ASSERT_GE(length, 0);
                ASSERT_EQ(results[c], length) << "channel " << c << " of " << n << ", frame " << f;
                ASSERT_EQ(std::memcmp(bits[c].data(), want, size_t(length)), 0)
                    << "channel " << c << " of " << n << ", frame " << f;
            }
        }
    }
}

// An encoder named twice codes both frames in array order, and a channel
// without an output buffer is refused without disturbing the others.
TEST(ManyChannelEncoding, AnEncoderNamedTwiceCodesInOrderAndARefusedChannelCodesNothing) {
    const std::vector<int16_t> pcm = as_samples(read_vector("speech_male_librivox.raw"));
    encoder_set many(2), alone(2);
    for (size_t f = 0; f + 2 < 60; f += 2) {
        uint8_t bits[4][G729A_SPEECH_FRAME_BYTES];
        g729a_encoder* encoders[4] = {many.handles[0], many.handles[1], many.handles[0], many.handles[1]};
        const int16_t* in[4] = {&pcm[f * kSamples], &pcm[f * kSamples], &pcm[(f + 1) * kSamples],
                                &pcm[(f + 1) * kSamples]};
        uint8_t* out[4] = {bits[0], bits[1], bits[2], nullptr};
        int results[4] = {};
        ASSERT_EQ(g729a_encode_many(encoders, in, out, 4, results), G729A_EBADARG);
        EXPECT_EQ(results[0], G729A_SPEECH_FRAME_BYTES);
        EXPECT_EQ(results[1], G729A_SPEECH_FRAME_BYTES);
        EXPECT_EQ(results[2], G729A_SPEECH_FRAME_BYTES);
        EXPECT_EQ(results[3], G729A_EBADARG);
        // Encoder 0 took frames f and f + 1; encoder 1 only frame f, so its
        // twin skips frame f + 1 as well.
        uint8_t want[G729A_SPEECH_FRAME_BYTES];
        ASSERT_EQ(g729a_encode(alone.handles[0], in[0], kSamples, want, sizeof want), G729A_SPEECH_FRAME_BYTES);
        ASSERT_EQ(std::memcmp(bits[0], want, sizeof want), 0) << "frame " << f;
        ASSERT_EQ(g729a_encode(alone.handles[0], in[2], kSamples, want, sizeof want), G729A_SPEECH_FRAME_BYTES);
        ASSERT_EQ(std::memcmp(bits[2], want, sizeof want), 0) << "frame " << f + 1;
        ASSERT_EQ(g729a_encode(alone.handles[1], in[1], kSamples, want, sizeof want), G729A_SPEECH_FRAME_BYTES);
        ASSERT_EQ(std::memcmp(bits[1], want, sizeof want), 0) << "frame " << f << ", second encoder";
    }
}

// A refused channel is left as it was and its output unwritten, while the
// channels beside it decode; the call reports the first refusal.
TEST(ManyChannelDecoding, ARefusedChannelIsUntouchedAndTheOthersGoAhead) {
    const decoder_vector speech = load_decoder_vector("speech_male_librivox.g729");
    decoder_set many(4), alone(4);
    const uint8_t* frame = speech.frames[0].bytes.data();
    int16_t out[4][kSamples];
    std::memset(out, 0x55, sizeof out);
    g729a_decoder* decoders[4] = {many.handles[0], many.handles[1], many.handles[2], many.handles[3]};
    const uint8_t* frames[4] = {frame, frame, nullptr, frame};
    const size_t lengths[4] = {10, 7, 3, 10};
    int16_t* pcm[4] = {out[0], out[1], out[2], out[3]};
    int results[4] = {};
    EXPECT_EQ(g729a_decode_many(decoders, frames, lengths, pcm, 4, results), G729A_EBADFRAME);
    EXPECT_EQ(results[0], int(kSamples));
    EXPECT_EQ(results[1], G729A_EBADFRAME);
    EXPECT_EQ(results[2], G729A_EBADARG);
    EXPECT_EQ(results[3], int(kSamples));
    for (size_t i = 0; i < kSamples; ++i) {
        ASSERT_EQ(out[1][i], 0x5555);
        ASSERT_EQ(out[2][i], 0x5555);
    }
    // The refused decoders go on as fresh ones, the others as after frame 0.
    for (int c : {0, 3}) {
        int16_t scratch[kSamples];
        ASSERT_EQ(g729a_decode(alone.handles[size_t(c)], frame, 10, scratch, kSamples), int(kSamples));
    }
    for (size_t f = 1; f < 50; ++f) {
        for (size_t c = 0; c < 4; ++c) {
            int16_t want[kSamples], got[kSamples];
            ASSERT_EQ(g729a_decode(alone.handles[c], speech.frames[f].bytes.data(), 10, want, kSamples), int(kSamples));
            ASSERT_EQ(g729a_decode(many.handles[c], speech.frames[f].bytes.data(), 10, got, kSamples), int(kSamples));
            ASSERT_EQ(std::memcmp(got, want, sizeof got), 0) << "channel " << c << " frame " << f;
        }
    }
}

TEST(ManyChannelCalls, MissingArraysAreRefusedAndAnEmptyCallDoesNothing) {
    decoder_set d(1);
    encoder_set e(1);
    int16_t samples[kSamples] = {};
    uint8_t bits[G729A_SPEECH_FRAME_BYTES];
    const uint8_t* frames[1] = {nullptr};
    const size_t lengths[1] = {0};
    int16_t* pcm[1] = {samples};
    const int16_t* in[1] = {samples};
    uint8_t* out[1] = {bits};
    int results[1] = {12345};
    EXPECT_EQ(g729a_decode_many(nullptr, frames, lengths, pcm, 1, results), G729A_EBADARG);
    EXPECT_EQ(g729a_decode_many(d.handles.data(), nullptr, lengths, pcm, 1, results), G729A_EBADARG);
    EXPECT_EQ(g729a_decode_many(d.handles.data(), frames, nullptr, pcm, 1, results), G729A_EBADARG);
    EXPECT_EQ(g729a_decode_many(d.handles.data(), frames, lengths, nullptr, 1, results), G729A_EBADARG);
    EXPECT_EQ(g729a_encode_many(nullptr, in, out, 1, results), G729A_EBADARG);
    EXPECT_EQ(g729a_encode_many(e.handles.data(), nullptr, out, 1, results), G729A_EBADARG);
    EXPECT_EQ(g729a_encode_many(e.handles.data(), in, nullptr, 1, results), G729A_EBADARG);
    EXPECT_EQ(results[0], 12345);
    EXPECT_EQ(g729a_decode_many(nullptr, nullptr, nullptr, nullptr, 0, nullptr), G729A_OK);
    EXPECT_EQ(g729a_encode_many(nullptr, nullptr, nullptr, 0, nullptr), G729A_OK);
    g729a_encoder* no_encoder[1] = {nullptr};
    EXPECT_EQ(g729a_encode_many(no_encoder, in, out, 1, results), G729A_EBADARG);
    EXPECT_EQ(results[0], G729A_EBADARG);
}

// An instance named twice in one call is advanced twice, in array order,
// exactly as two single calls would.
TEST(ManyChannelDecoding, ADecoderNamedTwiceDecodesBothFramesInOrder) {
    const decoder_vector speech = load_decoder_vector("speech_male_librivox.g729");
    decoder_set many(2);
    std::vector<int16_t> got;
    stream s;
    for (size_t next = 0; next + 3 <= 60; next += 3) {
        // many.handles[0] takes three frames in lanes 0, 2 and 3 of one call, then
        // a lost frame in a call of its own.
        int16_t out[4][kSamples];
        g729a_decoder* decoders[4] = {many.handles[0], many.handles[1], many.handles[0], many.handles[0]};
        const uint8_t* frames[4] = {speech.frames[next].bytes.data(), speech.frames[next].bytes.data(),
                                    speech.frames[next + 1].bytes.data(), speech.frames[next + 2].bytes.data()};
        const size_t lengths[4] = {10, 10, 10, 10};
        int16_t* pcm[4] = {out[0], out[1], out[2], out[3]};
        ASSERT_EQ(g729a_decode_many(decoders, frames, lengths, pcm, 4, nullptr), G729A_OK);
        for (int lane : {0, 2, 3}) got.insert(got.end(), out[lane], out[lane] + kSamples);
        ASSERT_EQ(g729a_decode(many.handles[0], nullptr, 0, out[0], kSamples), int(kSamples));
        got.insert(got.end(), out[0], out[0] + kSamples);
        for (size_t k = 0; k < 3; ++k) s.push_back(speech.frames[next + k]);
        s.push_back(coded_frame{});
    }
    expect_same_samples(got, decode_alone(s), "the decoder named three times per call");
}

} // namespace
} // namespace g729
