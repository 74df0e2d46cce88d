// The codec_g729a host module: registers the lintog729 and g729tolin
// translators and the "g729 show version" console command, and buffers host
// frames of any length into the codec's 10 ms frames.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "g729a.h"
#include "host/corvane.h"

static constexpr int kBufferSamples = 8000; // capacity of either instance
static constexpr int kOutputBytes = 16000;  // output buffer the host allocates
static constexpr int kFrameSamples = G729A_FRAME_SAMPLES;
static constexpr int kSpeechBytes = G729A_SPEECH_FRAME_BYTES;

static constexpr const char kLogFile[] = "codec_g729a";

// What "g729 show version" prints: the module's own line, which operators'
// scripts match as it stands (the architecture word included), unlike the
// library's g729a_version_line().
// The module's version, said once: in that line and in the manifest.
#define CODEC_G729A_MODULE_VERSION "21.0_3.1.10"
static constexpr const char kVersionLine[] = "Vornade G.729A Module Version " CODEC_G729A_MODULE_VERSION " (optimized for x86_64\n";

// The codec instances live at the start of the private area the host
// allocates; their size is bounded at compile time by the library.
struct encoder_private {
    g729a_encoder_memory encoder;
    int16_t input_buffer[kBufferSamples];
};

struct decoder_private {
    g729a_decoder_memory decoder;
};

static g729a_encoder* encoder_of(encoder_private* area) { return reinterpret_cast<g729a_encoder*>(&area->encoder); }
static g729a_decoder* decoder_of(decoder_private* area) { return reinterpret_cast<g729a_decoder*>(&area->decoder); }

static encoder_private* encoder_area(cvn_trans_pvt* pvt) { return static_cast<encoder_private*>(pvt->pvt); }
static decoder_private* decoder_area(cvn_trans_pvt* pvt) { return static_cast<decoder_private*>(pvt->pvt); }

// A frame whose counts promise more than it carries would make the copy read
// past its data, and a negative count would move the buffer backwards.
static bool slin_frame_is_sound(const cvn_frame* f) {
    if (f->samples < 0) return false;
    if (f->samples > 0 && f->data == nullptr) return false;
    return int64_t(f->datalen) >= 2 * int64_t(f->samples);
}

static void warn_invalid_frame(const cvn_frame* f, const char* function) {
    cvn_log(CVN_LOG_WARNING, kLogFile, __LINE__, function, "Invalid frame (%d samples, %d bytes)\n", f->samples,
            f->datalen);
}

extern "C" int lintog729_new(cvn_trans_pvt* pvt) {
    encoder_private* area = encoder_area(pvt);
    return g729a_encoder_init(encoder_of(area), sizeof area->encoder) == G729A_OK ? 0 : -1;
}

extern "C" int lintog729_framein(cvn_trans_pvt* pvt, cvn_frame* f) {
    if (!slin_frame_is_sound(f)) {
        warn_invalid_frame(f, __func__);
        return -1;
    }
    if (pvt->samples + f->samples > kBufferSamples) {
        cvn_log(CVN_LOG_WARNING, kLogFile, __LINE__, __func__, "Out of buffer space\n");
        return -1;
    }
    if (f->samples > 0) {
        std::memcpy(encoder_area(pvt)->input_buffer + pvt->samples, f->data, size_t(f->samples) * 2);
    }
    pvt->samples += f->samples;
    return 0;
}

// Encodes every complete 80-sample block in one call, back to back into one
// g729 frame, and moves the remainder to the front once.
extern "C" cvn_frame* lintog729_frameout(cvn_trans_pvt* pvt) {
    if (pvt->samples < kFrameSamples) return nullptr;
    encoder_private* area = encoder_area(pvt);
    int blocks = 0;
    while (pvt->samples >= kFrameSamples) {
        g729a_encode(encoder_of(area), area->input_buffer + blocks * kFrameSamples, kFrameSamples,
                     pvt->outbuf.uc + blocks * kSpeechBytes, kSpeechBytes);
        pvt->samples -= kFrameSamples;
        ++blocks;
    }
    if (pvt->samples != 0) {
        std::memmove(area->input_buffer, area->input_buffer + blocks * kFrameSamples, size_t(pvt->samples) * 2);
    }
    return cvn_trans_frameout(pvt, blocks * kSpeechBytes, blocks * kFrameSamples);
}

extern "C" int g729tolin_new(cvn_trans_pvt* pvt) {
    decoder_private* area = decoder_area(pvt);
    return g729a_decoder_init(decoder_of(area), sizeof area->decoder) == G729A_OK ? 0 : -1;
}

// A payload is a run of 10-byte speech frames, optionally ended by one 2-byte
// SID frame; the library walks it. Frames decoded before a refusal stay in
// the output buffer.
extern "C" int g729tolin_framein(cvn_trans_pvt* pvt, cvn_frame* f) {
    if (f->datalen < 0 || (f->datalen > 0 && f->data == nullptr)) {
        warn_invalid_frame(f, __func__);
        return -1;
    }
    size_t consumed = 0;
    const int result = g729a_decode_payload(decoder_of(decoder_area(pvt)), static_cast<const uint8_t*>(f->data),
                                            size_t(f->datalen), pvt->outbuf.i16 + pvt->samples,
                                            size_t(kBufferSamples - pvt->samples), &consumed);
    const int decoded = result >= 0 ? result : int(consumed / kSpeechBytes) * kFrameSamples;
    pvt->samples += decoded;
    pvt->datalen += 2 * decoded;
    if (result == G729A_EBADFRAME) {
        cvn_log(CVN_LOG_WARNING, kLogFile, __LINE__, __func__, "Invalid data (%d bytes at the end)\n",
                f->datalen - int(consumed));
        return -1;
    }
    if (result == G729A_ENOSPACE) {
        cvn_log(CVN_LOG_WARNING, kLogFile, __LINE__, __func__, "Out of buffer space\n");
        return -1;
    }
    return 0;
}

// The sample frames the host measures translation cost with: 30 ms of voiced
// speech, and five speech frames. Their format field is the only thing the
// module writes after load.
static int16_t slin_sample_data[240] = {
    2163, 1753, 908, 1416, 1033, 829, 785, -148, -455, -1492, -2495, -2907,
    -2637, -1924, -736, 416, 1410, 1929, 2000, 1677, 1086, 514, -12, -370,
    -513, -631, -739, -795, -938, -995, -880, -583, -140, 454, 969, 1296,
    1326, 926, 237, -664, -1376, -2010, -2166, -1894, -1462, -706, -123, 313,
    515, 379, 136, -208, -509, -705, -796, -755, -652, -432, -221, 26,
    275, 502, 700, 898, 1136, 1357, 1617, 1929, 2206, 2242, 2021, 1474,
    430, -693, -1735, -2625, -2832, -2531, -1695, -505, 688, 1687, 2233, 2324,
    1965, 1333, 692, 88, -346, -549, -735, -828, -916, -1048, -1070, -993,
    -746, -271, 296, 860, 1307, 1473, 1256, 738, -94, -929, -1648, -2098,
    -2055, -1768, -1148, -480, 72, 410, 517, 336, 60, -185, -477, -531,
    -571, -527, -394, -269, -150, 88, 264, 461, 741, 948, 1243, 1593,
    1919, 2214, 2450, 2378, 1958, 1077, 43, -1276, -2286, -2823, -3000, -2306,
    -1360, -193, 1028, 1821, 2238, 2241, 1819, 1260, 623, 76, -334, -571,
    -680, -775, -862, -965, -1031, -979, -805, -443, 103, 650, 1180, 1449,
    1371, 947, 221, -604, -1391, -1975, -2148, -2020, -1562, -907, -326, 163,
    428, 443, 289, 52, -220, -431, -592, -647, -611, -519, -357, -176,
    54, 297, 579, 857, 1184, 1530, 1830, 2122, 2257, 2225, 1962, 1333,
    400, -580, -1659, -2447, -2752, -2748, -2102, -1150, -117, 974, 1710, 2070,
    2063, 1674, 1123, 473, 24, -357, -610, -630, -764, -810, -887, -1029,
    -1004, -886, -648, -169, 338, 846, 1286, 1433, -11, 25, -83, -4,
};

static uint8_t g729_sample_data[50] = {
    0x8f, 0x65, 0x7d, 0x4e, 0x3e, 0x0a, 0xf2, 0xba, 0xf1, 0x5e, 0x0f, 0xb6, 0x73, 0xb9, 0x33, 0x62, 0xb8,
    0x2b, 0x1a, 0x57, 0x31, 0xf8, 0x37, 0xc4, 0xe0, 0x5a, 0xf0, 0x8c, 0x8d, 0x50, 0xa3, 0xb7, 0xc1, 0x9d,
    0xb5, 0x60, 0x70, 0x36, 0x39, 0x1e, 0x09, 0x4c, 0x2f, 0xc2, 0xa7, 0xb7, 0xee, 0x37, 0x18, 0x52,
};

static cvn_frame slin_sample_frame = {CVN_FRAME_VOICE, nullptr, 240, 480, "lintog729_sample", slin_sample_data};
static cvn_frame g729_sample_frame = {CVN_FRAME_VOICE, nullptr, 400, 50, "g729tolin_sample", g729_sample_data};

extern "C" cvn_frame* lintog729_sample(void) {
    slin_sample_frame.format = cvn_format_slin;
    return &slin_sample_frame;
}

extern "C" cvn_frame* g729tolin_sample(void) {
    g729_sample_frame.format = cvn_format_g729;
    return &g729_sample_frame;
}

// The records below are handed to the host, which fills in its own fields
// (module handle, cost, registration marks, command words); the module only
// reads them.
static cvn_translator lintog729 = {
    "lintog729",
    {"slin", CVN_MEDIA_TYPE_AUDIO, 8000},
    {"g729", CVN_MEDIA_TYPE_AUDIO, 8000},
    "g729",
    lintog729_new,
    lintog729_framein,
    lintog729_frameout,
    nullptr,
    nullptr,
    lintog729_sample,
    kBufferSamples,
    kOutputBytes,
    int(sizeof(encoder_private)),
    0,
    nullptr,
    0,
    0,
};

static cvn_translator g729tolin = {
    "g729tolin",
    {"g729", CVN_MEDIA_TYPE_AUDIO, 8000},
    {"slin", CVN_MEDIA_TYPE_AUDIO, 8000},
    "slin",
    g729tolin_new,
    g729tolin_framein,
    nullptr,
    nullptr,
    nullptr,
    g729tolin_sample,
    kBufferSamples,
    kOutputBytes,
    int(sizeof(decoder_private)),
    0,
    nullptr,
    0,
    0,
};

extern "C" char* handle_g729_show_version(cvn_cli_entry* e, int cmd, cvn_cli_args* a) {
    switch (cmd) {
    case CVN_CLI_INIT:
        e->command = "g729 show version";
        e->usage = "Usage: show g729 version\n"
                   "       Displays G.729 module version\n";
        return nullptr;
    case CVN_CLI_GENERATE:
        return nullptr;
    default:
        cvn_cli(a->fd, "%s", kVersionLine);
        return nullptr;
    }
}

static cvn_cli_entry cli_g729[] = {
    {nullptr, "Show G.729 Module Version", nullptr, handle_g729_show_version, nullptr, 0},
};

extern "C" int load_module(void);
extern "C" int unload_module(void);
extern "C" int reload_module(void);

static cvn_module_info module_info = {
    nullptr,
    load_module,
    reload_module,
    unload_module,
    "codec_g729a",
    "Vornade G.729 Annex A Codec (optimized for x86_64",
    CVN_MODFLAG_GLOBAL_SYMBOLS | CVN_MODFLAG_LOAD_ORDER,
    128,
    CVN_MODULE_SUPPORT_EXTENDED,
    "",
    "",
    "",
};

extern "C" int unload_module(void) {
    cvn_unregister_translator(&lintog729);
    cvn_unregister_translator(&g729tolin);
    cvn_cli_unregister_multiple(cli_g729, 1);
    return 0;
}

// Both registrations are attempted even when the first fails, so that the
// host hears of every failure; a failed load leaves nothing registered.
extern "C" int load_module(void) {
    __cvn_cli_register_multiple(cli_g729, 1, module_info.self);
    const int decoder_result = __cvn_register_translator(&g729tolin, module_info.self);
    const int encoder_result = __cvn_register_translator(&lintog729, module_info.self);
    if (decoder_result != 0 || encoder_result != 0) {
        unload_module();
        return decoder_result | encoder_result;
    }
    return 0;
}

extern "C" int reload_module(void) { return 0; }

static __attribute__((constructor)) void register_module() { cvn_module_register(&module_info); }
static __attribute__((destructor)) void unregister_module() { cvn_module_unregister(&module_info); }

// Module name, an empty field and the module version, read by the host's
// loader straight from the file.
__asm__(".pushsection .cvn_manifest,\"a\",@progbits\n"
        ".ascii \"codec_g729a,," CODEC_G729A_MODULE_VERSION "\\n\"\n"
        ".popsection\n");
