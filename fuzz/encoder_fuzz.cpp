// The encoder over any PCM, full-scale extremes included, and a decoder
// over what it codes.
//
// Input: one mode byte, then the signal:
//   mode % 4 == 0  16-bit little-endian samples as they come;
//   mode % 4 == 1  one byte per run: an extreme value (full scale either way,
//                  zero, +-1, half scale) held for 1 to 32 samples;
//   mode % 4 == 2  16-bit samples amplified by 2^(mode / 4 % 8), saturated;
//   mode % 4 == 3  one byte per sample, as the top byte of the sample.
// With mode & 0x80 every frame is also offered once with a wrong sample
// count and once with too little room, which must be refused untouched.
// With mode & 0x40 both encoders suppress silence: frames are then 10, 2 or
// 0 bytes, a gap never follows speech directly, and a gap is decoded as an
// untransmitted frame.
//
// Two encoders (caller memory and g729a_encoder_create()) must code every
// frame alike; each frame must carry a correct pitch parity bit and lags in
// range, decode to 80 samples, and leave both the encoder's and the
// decoder's state finite.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "codec/decoder/decoder_object.h"
#include "codec/encoder/encoder.h"
#include "fuzz/fuzz_input.h"
#include "g729a.h"

namespace {

using g729_fuzz::finite;

constexpr size_t kMaxFrames = 100;

bool encoder_is_finite(const g729a_encoder* handle) {
    const auto& s = *reinterpret_cast<const g729::encoder_state*>(handle);
    return finite(s.speech_buffer) && finite(s.weighted_speech_buffer) && finite(s.excitation_buffer) &&
           finite(s.previous_lsp) && finite(s.previous_quantized_lsp) && finite(s.target_filter_memory) &&
           finite(s.weighting_filter_memory) && finite(s.zero_memory) && finite(s.pitch_sharpening_factor) &&
           finite(s.lsf_predictor_memory) && finite(s.taming_errors) && finite(s.energy_history) &&
           finite(s.preprocess_memory.x1) && finite(s.preprocess_memory.x2) && finite(s.preprocess_memory.y1) &&
           finite(s.preprocess_memory.y2) && finite(s.dtx.noise_statistics) && finite(s.dtx.current_noise_gain) &&
           finite(s.dtx.sid_lsp) && finite(s.dtx.vad.noise_lsf) && finite(s.dtx.vad.noise_zero_crossings) &&
           finite(s.dtx.vad.noise_spectral_spread) && finite(s.dtx.vad.noise_crossing_spread) && finite(s.dtx.vad.low_band.fluctuation_db) &&
           finite(s.dtx.vad.high_band.fluctuation_db) && finite(s.dtx.noise_level) &&
           finite(s.dtx.coded_background) && finite(s.dtx.heard_background) && finite(s.dtx.recent_background) &&
           finite(s.dtx.synthesis_memory) && finite(s.dtx.sid_level) && finite(s.dtx.sid_power_gain);
}

bool decoder_is_finite(const g729a_decoder* handle) {
    const auto& d = *reinterpret_cast<const g729::decoder_object*>(handle);
    return finite(d.decoder_state.excitation_buffer) && finite(d.decoder_state.synthesis_filter_memory) &&
           finite(d.decoder_state.energy_history) &&
           finite(d.decoder_state.last_pitch_gain) && finite(d.postfilter_state.residual_history) &&
           finite(d.postfilter_state.postfilter_synthesis_memory) && finite(d.postfilter_state.agc_gain) &&
           finite(d.synthesis_buffer);
}

std::vector<int16_t> signal_from(g729_fuzz::input_reader& in, uint8_t mode) {
    static const int16_t extremes[8] = {-32768, 32767, 0, -1, 1, -32767, 16384, -16384};
    std::vector<int16_t> pcm;
    const size_t limit = kMaxFrames * 80;
    while (!in.empty() && pcm.size() < limit) {
        switch (mode % 4) {
        case 0: pcm.push_back(int16_t(in.word())); break;
        case 1: {
            const uint8_t b = in.byte();
            pcm.insert(pcm.end(), size_t(b >> 3) + 1, extremes[b & 7]);
            break;
        }
        case 2: {
            const int32_t x = int32_t(int16_t(in.word())) * (1 << (mode / 4 % 8));
            pcm.push_back(int16_t(std::clamp<int32_t>(x, -32768, 32767)));
            break;
        }
        default: pcm.push_back(int16_t(uint16_t(in.byte()) << 8)); break;
        }
    }
    pcm.resize(std::min(limit, (pcm.size() + 79) / 80 * 80), 0);
    return pcm;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    g729_fuzz::input_reader in(data, size);
    const uint8_t mode = in.byte();
    const std::vector<int16_t> pcm = signal_from(in, mode);

    g729a_encoder_memory memory;
    g729a_encoder* a = reinterpret_cast<g729a_encoder*>(&memory);
    FUZZ_CHECK(g729a_encoder_init(a, sizeof memory) == G729A_OK);
    g729a_encoder* b = g729a_encoder_create(nullptr);
    FUZZ_CHECK(b != nullptr);
    g729a_decoder* decoder = g729a_decoder_create(nullptr);
    FUZZ_CHECK(decoder != nullptr);
    const bool dtx = (mode & 0x40) != 0;
    FUZZ_CHECK(g729a_encoder_set_dtx(a, dtx) == G729A_OK && g729a_encoder_set_dtx(b, dtx) == G729A_OK);
    int previous_length = 10;

    for (size_t start = 0; start < pcm.size(); start += 80) {
        const int16_t* block = pcm.data() + start;
        uint8_t frame_a[12], frame_b[12];
        std::memset(frame_a, 0xEE, sizeof frame_a);
        std::memset(frame_b, 0x11, sizeof frame_b);
        if (mode & 0x80) {
            FUZZ_CHECK(g729a_encode(a, block, 79, frame_a, 10) == G729A_EBADARG);
            FUZZ_CHECK(g729a_encode(a, block, 80, frame_a, 9) == G729A_ENOSPACE);
            FUZZ_CHECK(frame_a[0] == 0xEE && frame_a[9] == 0xEE);
        }
        const int length = g729a_encode(a, block, 80, frame_a, sizeof frame_a);
        FUZZ_CHECK(length == 10 || (dtx && (length == 2 || length == 0)));
        FUZZ_CHECK(!(length == 0 && previous_length == 10));
        previous_length = length;
        FUZZ_CHECK(g729a_encode(b, block, 80, frame_b, sizeof frame_b) == length);
        FUZZ_CHECK(std::memcmp(frame_a, frame_b, size_t(length)) == 0);
        FUZZ_CHECK(frame_a[10] == 0xEE && frame_b[10] == 0x11);
        FUZZ_CHECK(encoder_is_finite(a));

        int16_t out[80];
        if (length == 0) {
            FUZZ_CHECK(g729a_decode(decoder, nullptr, 0, out, 80) == 80);
            FUZZ_CHECK(decoder_is_finite(decoder));
            continue;
        }
        g729a_frame_info info;
        FUZZ_CHECK(g729a_frame_inspect(frame_a, size_t(length), &info) == G729A_OK);
        if (length == 10) {
            FUZZ_CHECK(info.type == G729A_FRAME_SPEECH && info.parity_error == 0);
            for (int s = 0; s < 2; ++s) {
                FUZZ_CHECK(info.pitch_lag[s] >= 19 && info.pitch_lag[s] <= 143);
                FUZZ_CHECK(info.pitch_fraction[s] >= -1 && info.pitch_fraction[s] <= 1);
            }
        } else {
            FUZZ_CHECK(info.type == G729A_FRAME_SID && (frame_a[1] & 1) == 0);
        }
        FUZZ_CHECK(g729a_decode(decoder, frame_a, size_t(length), out, 80) == 80);
        FUZZ_CHECK(decoder_is_finite(decoder));
    }
    g729a_decoder_destroy(decoder);
    g729a_encoder_destroy(b);
    return 0;
}
