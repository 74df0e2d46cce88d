// The real codec_g729a.so in the real host, driven with any frame records:
// sample and byte counts of any sign and size, null data, payloads of any
// length, and frame-in / frame-out calls in any order on one encoder step
// and one decoder step.
//
// Input: records of one operation byte and its arguments.
//   op & 7 == 0  slin frame into lintog729: samples (16-bit signed word),
//                datalen (16-bit signed word), flags (bit 0: null data;
//                bit 1: ignore the words and send datalen = 2 * samples for
//                samples = first word % 1024), then the data;
//   op & 7 == 1  lintog729 frame-out (also 7);
//   op & 7 == 2  g729 frame into g729tolin: datalen (16-bit signed word),
//                flags (bit 0: null data), samples (16-bit signed word,
//                which the decoder ignores), then the data;
//   op & 7 == 6  the same with datalen op >> 3 (0 to 31 bytes);
//   op & 7 == 3  g729tolin frame-out (the host's standard one);
//   op & 7 == 4  the last lintog729 output into g729tolin;
//   op & 7 == 5  lintog729 frame-out repeated until it has nothing.
// Data is exactly datalen bytes long: the input's next bytes, then zeros.
// Whatever is read past datalen is a fault the sanitizers report.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "host/host.h"

namespace {

constexpr int kCapacity = 8000; // samples either translator buffers

cvn_translator* encoder_translator = nullptr;
cvn_translator* decoder_translator = nullptr;

void load_once() {
    if (encoder_translator != nullptr) return;
    corvane::set_log_echo(false);
    std::string error;
    if (!corvane::load_module(G729A_MODULE_PATH, error)) {
        std::fprintf(stderr, "module_fuzz: %s\n", error.c_str());
        std::abort();
    }
    encoder_translator = corvane::find_translator("slin", "g729");
    decoder_translator = corvane::find_translator("g729", "slin");
    FUZZ_CHECK(encoder_translator != nullptr && decoder_translator != nullptr);
}

std::vector<uint8_t> data_of(g729_fuzz::input_reader& in, int datalen) {
    std::vector<uint8_t> data(datalen > 0 ? size_t(datalen) : 0);
    size_t taken = 0;
    const uint8_t* bytes = in.bytes(data.size(), &taken);
    if (taken > 0) std::memcpy(data.data(), bytes, taken);
    return data;
}

cvn_frame frame_of(cvn_format* format, int samples, int datalen, void* data) {
    cvn_frame f{};
    f.frametype = CVN_FRAME_VOICE;
    f.format = format;
    f.samples = samples;
    f.datalen = datalen;
    f.src = "module_fuzz";
    f.data = data;
    return f;
}

// What g729tolin must do with a payload of `length` bytes when `room`
// samples are left: decode whole frames in front of a fault, then accept or
// refuse.
void expected_decode(int length, int room, int& decoded, int& result) {
    decoded = 0;
    result = 0;
    int offset = 0;
    while (offset < length) {
        const int rest = length - offset;
        const int next = rest >= 10 ? 10 : rest == 2 ? 2 : 0;
        if (next == 0 || room - decoded < 80) {
            result = -1;
            return;
        }
        decoded += 80;
        offset += next;
    }
}

void check_decoder_step(corvane::translation_step& step) {
    FUZZ_CHECK(step.pvt().samples >= 0 && step.pvt().samples <= kCapacity && step.pvt().samples % 80 == 0);
    FUZZ_CHECK(step.pvt().datalen == 2 * step.pvt().samples);
}

void decoder_framein(corvane::translation_step& step, cvn_frame& f) {
    const int before = step.pvt().samples;
    const bool sound = f.datalen >= 0 && (f.datalen == 0 || f.data != nullptr);
    int decoded = 0, result = -1;
    if (sound) expected_decode(f.datalen, kCapacity - before, decoded, result);
    FUZZ_CHECK(step.framein(&f) == result);
    FUZZ_CHECK(step.pvt().samples == before + decoded);
    check_decoder_step(step);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    load_once();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    load_once();
    g729_fuzz::input_reader in(data, size);
    corvane::translation_step encoder(encoder_translator);
    corvane::translation_step decoder(decoder_translator);
    std::vector<uint8_t> last_coded;

    while (!in.empty()) {
        const uint8_t op = in.byte();
        switch (op & 7) {
        case 0: {
            int samples = int16_t(in.word());
            int datalen = int16_t(in.word());
            const uint8_t flags = in.byte();
            if (flags & 2) {
                samples = int(uint16_t(samples)) % 1024;
                datalen = 2 * samples;
            }
            std::vector<uint8_t> bytes = data_of(in, datalen);
            cvn_frame f = frame_of(cvn_format_slin, samples, datalen, (flags & 1) ? nullptr : bytes.data());
            if (bytes.empty() && !(flags & 1)) f.data = nullptr;
            const int before = encoder.pvt().samples;
            const bool sound = samples >= 0 && int64_t(datalen) >= 2 * int64_t(samples) && (samples == 0 || f.data != nullptr);
            const bool fits = sound && before + samples <= kCapacity;
            FUZZ_CHECK(encoder.framein(&f) == (fits ? 0 : -1));
            FUZZ_CHECK(encoder.pvt().samples == before + (fits ? samples : 0));
            break;
        }
        case 1:
        case 5:
        case 7: {
            do {
                const int before = encoder.pvt().samples;
                cvn_frame* out = encoder.frameout();
                if (before < 80) {
                    FUZZ_CHECK(out == nullptr && encoder.pvt().samples == before);
                    break;
                }
                FUZZ_CHECK(out != nullptr);
                FUZZ_CHECK(out->samples == before / 80 * 80 && out->datalen == out->samples / 8);
                FUZZ_CHECK(out->data == encoder.pvt().outbuf.c && out->format == cvn_format_g729);
                FUZZ_CHECK(encoder.pvt().samples == before % 80);
                const uint8_t* coded = static_cast<const uint8_t*>(out->data);
                last_coded.assign(coded, coded + out->datalen);
            } while ((op & 7) == 5);
            break;
        }
        case 2:
        case 6: {
            const int datalen = (op & 7) == 6 ? op >> 3 : int16_t(in.word());
            const uint8_t flags = in.byte();
            const int samples = int16_t(in.word());
            std::vector<uint8_t> bytes = data_of(in, datalen);
            cvn_frame f = frame_of(cvn_format_g729, samples, datalen,
                                   (flags & 1) || bytes.empty() ? nullptr : bytes.data());
            decoder_framein(decoder, f);
            break;
        }
        case 3: {
            const int before = decoder.pvt().samples;
            cvn_frame* out = decoder.frameout();
            if (before == 0) {
                FUZZ_CHECK(out == nullptr);
            } else {
                FUZZ_CHECK(out != nullptr && out->samples == before && out->datalen == 2 * before);
                FUZZ_CHECK(out->format == cvn_format_slin && out->data == decoder.pvt().outbuf.c);
            }
            FUZZ_CHECK(decoder.pvt().samples == 0 && decoder.pvt().datalen == 0);
            break;
        }
        case 4: {
            cvn_frame f = frame_of(cvn_format_g729, int(last_coded.size()) * 8, int(last_coded.size()),
                                   last_coded.empty() ? nullptr : last_coded.data());
            decoder_framein(decoder, f);
            break;
        }
        }
        FUZZ_CHECK(encoder.pvt().samples >= 0 && encoder.pvt().samples <= kCapacity);
        check_decoder_step(decoder);
    }
    corvane::take_log();
    return 0;
}
