#include "tools/formats/page_audio.h"

#include <algorithm>

#include <opus/opusenc.h>

#include "tools/common/shared_library.h"
#include "tools/common/tool_error.h"

namespace g729::tool {

namespace {

#define OPUSENC_FUNCTIONS(F) \
    F(ope_encoder_create_pull) F(ope_encoder_ctl) F(ope_encoder_write) F(ope_encoder_get_page) F(ope_encoder_drain) \
    F(ope_encoder_destroy) F(ope_comments_create) F(ope_comments_destroy)
G729A_FUNCTION_TABLE(opusenc_functions, OPUSENC_FUNCTIONS);

// The library's functions, or null when it cannot be loaded: the page then
// carries WAV, which needs nothing.
const opusenc_functions* opusenc() {
    static const opusenc_functions* const functions = []() -> const opusenc_functions* {
        try {
            static const opusenc_functions f(
                shared_library(G729A_LIBOPUSENC_SONAME, "G729A_LIBOPUSENC", "encoding the audio of a report page"));
            return &f;
        } catch (const tool_error&) {
            return nullptr;
        }
    }();
    return functions;
}

constexpr int kRate = 8000;
constexpr int kPageBitrate = 16000;
// The encoder's effort, and narrowband, which is all that G.729 carries:
// at its defaults (complexity 10, full band) the two players of ten
// minutes of a stream took 21 s of processor time to encode; so 5.5 s.
constexpr int kPageComplexity = 3;

void put_le(std::string& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out += char((value >> (8 * i)) & 0xFF);
}

// Opus in Ogg, or nothing when the encoder refuses.
bool opus_for_page(const opusenc_functions& ope, const int16_t* samples, std::size_t count, std::string& out) {
    OggOpusComments* comments = ope.ope_comments_create();
    if (!comments) return false;
    int error = 0;
    OggOpusEnc* enc = ope.ope_encoder_create_pull(comments, kRate, 1, 0, &error);
    ope.ope_comments_destroy(comments);
    if (!enc) return false;
    bool ok = ope.ope_encoder_ctl(enc, OPUS_SET_BITRATE(kPageBitrate)) == OPE_OK &&
              ope.ope_encoder_ctl(enc, OPUS_SET_SIGNAL(OPUS_SIGNAL_VOICE)) == OPE_OK &&
              ope.ope_encoder_ctl(enc, OPUS_SET_COMPLEXITY(kPageComplexity)) == OPE_OK &&
              ope.ope_encoder_ctl(enc, OPUS_SET_MAX_BANDWIDTH(OPUS_BANDWIDTH_NARROWBAND)) == OPE_OK;
    auto take_pages = [&](int flush) {
        unsigned char* page = nullptr;
        opus_int32 length = 0;
        while (ope.ope_encoder_get_page(enc, &page, &length, flush)) out.append(reinterpret_cast<const char*>(page), std::size_t(length));
    };
    constexpr std::size_t kChunk = 8000;
    for (std::size_t done = 0; ok && done < count; done += kChunk) {
        ok = ope.ope_encoder_write(enc, samples + done, int(std::min(kChunk, count - done))) == OPE_OK;
        take_pages(0);
    }
    ok = ok && ope.ope_encoder_drain(enc) == OPE_OK;
    if (ok) take_pages(1);
    ope.ope_encoder_destroy(enc);
    return ok && !out.empty();
}

} // namespace

page_audio wav_for_page(const int16_t* samples, std::size_t count) {
    // A WAV file counts its bytes in 32 bits; the report's limit on audio
    // keeps far below (2^31 bytes are 37 hours at 8 kHz).
    const uint32_t data_bytes = uint32_t(std::min<std::size_t>(count, 0x7FFFFFF0u / 2) * 2);
    page_audio a{"audio/wav", {}};
    a.bytes.reserve(44 + data_bytes);
    a.bytes += "RIFF";
    put_le(a.bytes, 36 + data_bytes, 4);
    a.bytes += "WAVEfmt ";
    put_le(a.bytes, 16, 4);
    put_le(a.bytes, 1, 2); // PCM
    put_le(a.bytes, 1, 2); // mono
    put_le(a.bytes, kRate, 4);
    put_le(a.bytes, kRate * 2, 4);
    put_le(a.bytes, 2, 2);
    put_le(a.bytes, 16, 2);
    a.bytes += "data";
    put_le(a.bytes, data_bytes, 4);
    for (std::size_t i = 0; i < data_bytes / 2; ++i) put_le(a.bytes, uint16_t(samples[i]), 2);
    return a;
}

page_audio compress_for_page(const int16_t* samples, std::size_t count) {
    if (const opusenc_functions* ope = opusenc()) {
        page_audio a{"audio/ogg", {}};
        if (opus_for_page(*ope, samples, count, a.bytes)) return a;
    }
    return wav_for_page(samples, count);
}

std::string base64(const std::string& bytes) {
    static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const uint32_t v = uint32_t(uint8_t(bytes[i])) << 16 | uint32_t(uint8_t(bytes[i + 1])) << 8 | uint8_t(bytes[i + 2]);
        for (int k = 3; k >= 0; --k) out += kDigits[(v >> (6 * k)) & 63];
    }
    if (i < bytes.size()) {
        const bool two = i + 1 < bytes.size();
        const uint32_t v = uint32_t(uint8_t(bytes[i])) << 16 | (two ? uint32_t(uint8_t(bytes[i + 1])) << 8 : 0);
        out += kDigits[(v >> 18) & 63];
        out += kDigits[(v >> 12) & 63];
        out += two ? kDigits[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

} // namespace g729::tool
