// The many-channel calls, g729a_encode_many() and g729a_decode_many(),
// against the single-channel calls they stand for: every lane must give
// what g729a_encode() or g729a_decode() gives the same instance, bit for
// bit, call after call.
//
// Input: a setup byte, then rounds.
//   setup: channels 1 + (b % 12), so that more than one group of vector
//          lanes and a partial group are both run.
//   a round: one control byte r.
//     r % 4 == 0  encode: per channel a mode byte m, then its data:
//                   m % 4: 0 80 samples from the input (160 bytes), 1 a
//                   constant sample (2 bytes), 2 the previous channel's
//                   samples amplified (saturating) by 1 + (m >> 2), 3 a
//                   refused channel (m >> 2 & 3: NULL encoder, pcm, frame)
//     r % 4 == 1  decode: per channel a mode byte m, then its data:
//                   m % 8: 0 a speech frame (10 bytes), 1 a SID frame
//                   (2 bytes), 2 a missing frame (NULL), 3 a missing frame
//                   (a pointer, length 0), 4 a bad length (1 + m >> 3 % 15
//                   bytes, never 2 or 10), 5 a NULL decoder, 6 a NULL pcm,
//                   7 a NULL frame with a positive length
//     r % 4 == 2  per channel a byte: which instance the lane names
//                 (b % channels): the next rounds may name one instance
//                 twice, advancing it twice in order
//     r % 4 == 3  (r >> 2) % 4: 0 silence suppression on or off for the
//                 encoder of channel (r >> 4) % channels, by bit 7; 1 reset
//                 that channel's encoder and decoder; 2 a call with a NULL
//                 array (nothing done, results untouched); 3 the next
//                 round passes NULL for results
//
// At most 256 rounds an input. Both sides hold their own instances, fed
// the same calls in the same order. After every round: each lane's result
// and the call's return equal the single calls', every output buffer
// (pre-filled with the same pattern) equal byte for byte, and every
// decoder's frame kind the same.
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "g729a.h"

namespace {

using g729_fuzz::input_reader;

constexpr size_t kMaxChannels = 12;
constexpr uint8_t kPattern = 0xC7;

struct side {
    g729a_encoder* encoders[kMaxChannels] = {};
    g729a_decoder* decoders[kMaxChannels] = {};
    int16_t pcm_out[kMaxChannels][G729A_FRAME_SAMPLES];
    uint8_t frames_out[kMaxChannels][G729A_SPEECH_FRAME_BYTES];
    int results[kMaxChannels];

    explicit side(size_t channels) {
        for (size_t i = 0; i < channels; ++i) {
            encoders[i] = g729a_encoder_create(nullptr);
            decoders[i] = g729a_decoder_create(nullptr);
            FUZZ_CHECK(encoders[i] && decoders[i]);
        }
    }
    ~side() {
        for (size_t i = 0; i < kMaxChannels; ++i) {
            g729a_encoder_destroy(encoders[i]);
            g729a_decoder_destroy(decoders[i]);
        }
    }
    void fill() {
        std::memset(pcm_out, kPattern, sizeof pcm_out);
        std::memset(frames_out, kPattern, sizeof frames_out);
        std::memset(results, kPattern, sizeof results);
    }
};

int16_t saturate(int32_t x) { return int16_t(x > 32767 ? 32767 : x < -32768 ? -32768 : x); }

// What the many-channel call must return: OK when every lane was done,
// otherwise the first refused lane's code.
int overall(const int* results, size_t count) {
    for (size_t i = 0; i < count; ++i)
        if (results[i] < 0) return results[i];
    return G729A_OK;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    input_reader in(data, size);
    const size_t channels = 1 + in.byte() % kMaxChannels;
    side many(channels), single(channels);
    size_t lane_instance[kMaxChannels];
    for (size_t i = 0; i < channels; ++i) lane_instance[i] = i;
    bool null_results = false;

    // Per lane of the current round: its samples and its frame.
    int16_t pcm_in[kMaxChannels][G729A_FRAME_SAMPLES] = {};
    uint8_t frame_in[kMaxChannels][16] = {};
    int untouched;
    std::memset(&untouched, kPattern, sizeof untouched);

    for (int rounds = 0; !in.empty() && rounds < 256; ++rounds) {
        const uint8_t r = in.byte();
        many.fill();
        single.fill();
        int* const results = null_results ? nullptr : many.results;
        switch (r % 4) {
        case 0: {
            g729a_encoder* many_enc[kMaxChannels];
            const int16_t* pcm[kMaxChannels];
            uint8_t* many_frames[kMaxChannels];
            for (size_t i = 0; i < channels; ++i) {
                const uint8_t m = in.byte();
                switch (m % 4) {
                case 0:
                    for (int16_t& s : pcm_in[i]) s = int16_t(in.word());
                    break;
                case 1: {
                    const int16_t v = int16_t(in.word());
                    for (int16_t& s : pcm_in[i]) s = v;
                    break;
                }
                case 2:
                    for (size_t k = 0; k < G729A_FRAME_SAMPLES; ++k)
                        pcm_in[i][k] = i ? saturate(int32_t(pcm_in[i - 1][k]) * (1 + (m >> 2))) : int16_t(k * 409);
                    break;
                default: break;
                }
                const int refused = m % 4 == 3 ? 1 + (m >> 2 & 3) : 0; // 1 encoder, 2 pcm, 3 or 4 frame
                many_enc[i] = refused == 1 ? nullptr : many.encoders[lane_instance[i]];
                pcm[i] = refused == 2 ? nullptr : pcm_in[i];
                many_frames[i] = refused >= 3 ? nullptr : many.frames_out[i];
            }
            const int got = g729a_encode_many(many_enc, pcm, many_frames, channels, results);
            for (size_t i = 0; i < channels; ++i)
                single.results[i] = g729a_encode(many_enc[i] ? single.encoders[lane_instance[i]] : nullptr, pcm[i],
                                                 G729A_FRAME_SAMPLES, many_frames[i] ? single.frames_out[i] : nullptr,
                                                 G729A_SPEECH_FRAME_BYTES);
            FUZZ_CHECK(got == overall(single.results, channels));
            break;
        }
        case 1: {
            g729a_decoder* many_dec[kMaxChannels];
            const uint8_t* frames[kMaxChannels];
            size_t lengths[kMaxChannels];
            int16_t* many_pcm[kMaxChannels];
            for (size_t i = 0; i < channels; ++i) {
                const uint8_t m = in.byte();
                many_dec[i] = many.decoders[lane_instance[i]];
                many_pcm[i] = many.pcm_out[i];
                frames[i] = frame_in[i];
                size_t taken = 0;
                switch (m % 8) {
                case 0: lengths[i] = G729A_SPEECH_FRAME_BYTES; break;
                case 1: lengths[i] = G729A_SID_FRAME_BYTES; break;
                case 2: lengths[i] = 0, frames[i] = nullptr; break;
                case 3: lengths[i] = 0; break;
                case 4: {
                    const size_t n = 1 + (m >> 3) % 15;
                    lengths[i] = n == G729A_SID_FRAME_BYTES || n == G729A_SPEECH_FRAME_BYTES ? n + 1 : n;
                    break;
                }
                case 5: lengths[i] = G729A_SPEECH_FRAME_BYTES, many_dec[i] = nullptr; break;
                case 6: lengths[i] = G729A_SPEECH_FRAME_BYTES, many_pcm[i] = nullptr; break;
                default: lengths[i] = 1 + (m >> 3) % 15, frames[i] = nullptr; break;
                }
                if (frames[i]) {
                    const uint8_t* bytes = in.bytes(lengths[i], &taken);
                    std::memset(frame_in[i], 0, sizeof frame_in[i]);
                    std::memcpy(frame_in[i], bytes, taken);
                }
            }
            const int got = g729a_decode_many(many_dec, frames, lengths, many_pcm, channels, results);
            for (size_t i = 0; i < channels; ++i)
                single.results[i] = g729a_decode(many_dec[i] ? single.decoders[lane_instance[i]] : nullptr, frames[i],
                                                 lengths[i], many_pcm[i] ? single.pcm_out[i] : nullptr, G729A_FRAME_SAMPLES);
            FUZZ_CHECK(got == overall(single.results, channels));
            break;
        }
        case 2:
            for (size_t i = 0; i < channels; ++i) lane_instance[i] = in.byte() % channels;
            continue;
        default: {
            const size_t c = (r >> 4) % channels;
            switch (r >> 2 & 3) {
            case 0:
                FUZZ_CHECK(g729a_encoder_set_dtx(many.encoders[c], r >> 7) == G729A_OK);
                FUZZ_CHECK(g729a_encoder_set_dtx(single.encoders[c], r >> 7) == G729A_OK);
                break;
            case 1:
                FUZZ_CHECK(g729a_encoder_reset(many.encoders[c]) == G729A_OK);
                FUZZ_CHECK(g729a_encoder_reset(single.encoders[c]) == G729A_OK);
                FUZZ_CHECK(g729a_decoder_reset(many.decoders[c]) == G729A_OK);
                FUZZ_CHECK(g729a_decoder_reset(single.decoders[c]) == G729A_OK);
                break;
            case 2: {
                // One NULL array: nothing is done and results stay as they were.
                g729a_encoder* enc[kMaxChannels];
                g729a_decoder* dec[kMaxChannels];
                const int16_t* pcm[kMaxChannels];
                uint8_t* out[kMaxChannels];
                int16_t* pcm_out[kMaxChannels];
                const uint8_t* frames[kMaxChannels] = {};
                size_t lengths[kMaxChannels] = {};
                for (size_t i = 0; i < channels; ++i) {
                    enc[i] = many.encoders[i], dec[i] = many.decoders[i];
                    pcm[i] = pcm_in[i], out[i] = many.frames_out[i], pcm_out[i] = many.pcm_out[i];
                }
                FUZZ_CHECK(g729a_encode_many(enc, pcm, nullptr, channels, many.results) == G729A_EBADARG);
                FUZZ_CHECK(g729a_encode_many(nullptr, pcm, out, channels, many.results) == G729A_EBADARG);
                FUZZ_CHECK(g729a_decode_many(dec, frames, nullptr, pcm_out, channels, many.results) == G729A_EBADARG);
                FUZZ_CHECK(g729a_decode_many(dec, frames, lengths, nullptr, channels, many.results) == G729A_EBADARG);
                FUZZ_CHECK(g729a_encode_many(nullptr, nullptr, nullptr, 0, nullptr) == G729A_OK);
                break;
            }
            default: null_results = true; continue;
            }
            break;
        }
        }
        if (null_results) {
            // Nothing written where no results were asked for.
            for (size_t i = 0; i < channels; ++i) FUZZ_CHECK(std::memcmp(&many.results[i], &untouched, sizeof untouched) == 0);
        } else {
            FUZZ_CHECK(std::memcmp(many.results, single.results, sizeof(int) * channels) == 0);
        }
        null_results = false;
        FUZZ_CHECK(std::memcmp(many.pcm_out, single.pcm_out, sizeof many.pcm_out) == 0);
        FUZZ_CHECK(std::memcmp(many.frames_out, single.frames_out, sizeof many.frames_out) == 0);
        for (size_t i = 0; i < channels; ++i)
            FUZZ_CHECK(g729a_decoder_frame_kind(many.decoders[i]) == g729a_decoder_frame_kind(single.decoders[i]));
    }
    return 0;
}
