// The public C face of the codec: opaque handles that are the encoder and
// decoder objects, argument checks, the payload walk, the decoder's frame
// kind, frame inspection and the library's version line. Nothing here
// computes a sample; every call ends in encode_frame, decode_frame or
// decode_missing_frame.
#include "g729a.h"

#include <cstdint>
#include <cstdlib>

#include "codec/bitstream.h"
#include "codec/decoder/decoder.h"
#include "codec/decoder/decoder_object.h"
#include "codec/dsp/cpu.h"
#include "codec/encoder/encoder.h"

// The opaque handles are the codec's own records under their public names,
// with nothing added: a g729a_encoder is an encoder_state, a g729a_decoder
// a decoder_object.
struct g729a_encoder : g729::encoder_state {};
struct g729a_decoder : g729::decoder_object {};

static_assert(sizeof(g729a_encoder) <= G729A_ENCODER_SIZE_MAX, "G729A_ENCODER_SIZE_MAX is too small");
static_assert(sizeof(g729a_decoder) <= G729A_DECODER_SIZE_MAX, "G729A_DECODER_SIZE_MAX is too small");
static_assert(alignof(g729a_encoder) <= alignof(g729a_encoder_memory), "encoder memory alignment");
static_assert(alignof(g729a_decoder) <= alignof(g729a_decoder_memory), "decoder memory alignment");
static_assert(G729A_FRAME_SAMPLES == g729::kFrame && G729A_SPEECH_FRAME_BYTES == g729::kSpeechFrameBytes &&
                  G729A_SID_FRAME_BYTES == g729::kSidFrameBytes,
              "public sizes");
static_assert(G729A_FRAME_NONE == int(g729::frame_kind::none) && G729A_FRAME_SPEECH == int(g729::frame_kind::speech) &&
                  G729A_FRAME_SID == int(g729::frame_kind::sid) &&
                  G729A_FRAME_COMFORT_NOISE == int(g729::frame_kind::comfort_noise) &&
                  G729A_FRAME_CONCEALED == int(g729::frame_kind::concealed),
              "public frame kinds");

namespace {

void start(g729a_encoder& encoder) { g729::encoder_init(encoder); }
void start(g729a_decoder& decoder) { g729::decoder_init(decoder); }

// Both instances are made, placed and reset the same way.
template <typename Handle> int init_in(Handle* memory, size_t size) {
    if (memory == nullptr || size < sizeof(Handle) ||
        reinterpret_cast<std::uintptr_t>(memory) % alignof(Handle) != 0)
        return G729A_EBADARG;
    start(*memory);
    return G729A_OK;
}

template <typename Handle> Handle* create(int* error) {
    Handle* handle = static_cast<Handle*>(std::malloc(sizeof(Handle)));
    if (handle != nullptr) start(*handle);
    if (error != nullptr) *error = handle != nullptr ? G729A_OK : G729A_ENOMEM;
    return handle;
}

template <typename Handle> int reset(Handle* handle) {
    if (handle == nullptr) return G729A_EBADARG;
    start(*handle);
    return G729A_OK;
}

// Frame lengths the decoder takes: a speech frame, a SID frame, or nothing
// (a frame that did not arrive).
bool decodable_length(const uint8_t* frame, size_t length) {
    if (frame == nullptr || length == 0) return true;
    return length == size_t(g729::kSpeechFrameBytes) || length == size_t(g729::kSidFrameBytes);
}

void decode_one(g729a_decoder* decoder, const uint8_t* frame, size_t length, int16_t* pcm) {
    if (frame == nullptr || length == 0) {
        g729::decode_missing_frame(*decoder, pcm);
    } else {
        g729::decode_frame(*decoder, pcm, frame, int(length));
    }
}

} // namespace

extern "C" {

const char* g729a_version(void) { return G729A_VERSION_STRING; }

const char* g729a_version_line(void) {
    switch (g729::active_instruction_set()) {
    case g729::instruction_set::avx2: return "libg729a " G729A_VERSION_STRING " (avx2 kernels)\n";
    case g729::instruction_set::portable: break;
    }
    return "libg729a " G729A_VERSION_STRING " (portable kernels)\n";
}

const char* g729a_strerror(int error) {
    switch (error) {
    case G729A_OK: return "success";
    case G729A_EBADARG: return "bad argument";
    case G729A_EBADFRAME: return "not a G.729 frame or payload";
    case G729A_ENOSPACE: return "output buffer too small";
    case G729A_ENOMEM: return "out of memory";
    default: return "unknown error";
    }
}

size_t g729a_encoder_size(void) { return sizeof(g729a_encoder); }
int g729a_encoder_init(g729a_encoder* encoder, size_t size) { return init_in(encoder, size); }
g729a_encoder* g729a_encoder_create(int* error) { return create<g729a_encoder>(error); }
void g729a_encoder_destroy(g729a_encoder* encoder) { std::free(encoder); }
// The silence-suppression setting is the caller's choice, not coding state:
// a reset keeps it.
int g729a_encoder_reset(g729a_encoder* encoder) {
    if (encoder == nullptr) return G729A_EBADARG;
    const bool dtx = encoder->dtx_enabled;
    g729::encoder_init(*encoder);
    encoder->dtx_enabled = dtx;
    return G729A_OK;
}

int g729a_encoder_set_dtx(g729a_encoder* encoder, int enable) {
    if (encoder == nullptr) return G729A_EBADARG;
    // The detector starts afresh when suppression is turned on: what it
    // learnt of the noise before may be stale.
    if (enable != 0 && !encoder->dtx_enabled) g729::dtx_restart_detection(encoder->dtx);
    encoder->dtx_enabled = enable != 0;
    return G729A_OK;
}

int g729a_encode(g729a_encoder* encoder, const int16_t* pcm, size_t samples, uint8_t* frame, size_t capacity) {
    if (encoder == nullptr || pcm == nullptr || frame == nullptr) return G729A_EBADARG;
    if (samples != size_t(g729::kFrame)) return G729A_EBADARG;
    if (capacity < size_t(g729::kSpeechFrameBytes)) return G729A_ENOSPACE;
    int length = 0;
    g729::encode_frame(*encoder, pcm, frame, length);
    return length;
}

size_t g729a_decoder_size(void) { return sizeof(g729a_decoder); }
int g729a_decoder_init(g729a_decoder* decoder, size_t size) { return init_in(decoder, size); }
g729a_decoder* g729a_decoder_create(int* error) { return create<g729a_decoder>(error); }
void g729a_decoder_destroy(g729a_decoder* decoder) { std::free(decoder); }
int g729a_decoder_reset(g729a_decoder* decoder) { return reset(decoder); }

int g729a_decode(g729a_decoder* decoder, const uint8_t* frame, size_t length, int16_t* pcm, size_t capacity) {
    if (decoder == nullptr || pcm == nullptr) return G729A_EBADARG;
    if (frame == nullptr && length > 0) return G729A_EBADARG;
    if (capacity < size_t(g729::kFrame)) return G729A_ENOSPACE;
    if (!decodable_length(frame, length)) return G729A_EBADFRAME;
    decode_one(decoder, frame, length, pcm);
    return g729::kFrame;
}

int g729a_encode_many(g729a_encoder* const* encoders, const int16_t* const* pcm, uint8_t* const* frames, size_t count,
                      int* results) {
    if (count > 0 && (encoders == nullptr || pcm == nullptr || frames == nullptr)) return G729A_EBADARG;
    // Each channel is checked as g729a_encode checks it; the channels that
    // pass go to the codec in batches, in array order.
    constexpr size_t kBatch = 64;
    g729::encoder_state* batch_encoders[kBatch];
    const int16_t* batch_pcm[kBatch];
    uint8_t* batch_frames[kBatch];
    int batch_lengths[kBatch];
    size_t batch_channel[kBatch];
    int first_error = G729A_OK;
    for (size_t start = 0; start < count; start += kBatch) {
        const size_t end = count - start < kBatch ? count : start + kBatch;
        int n = 0;
        for (size_t i = start; i < end; ++i) {
            if (encoders[i] == nullptr || pcm[i] == nullptr || frames[i] == nullptr) {
                if (first_error == G729A_OK) first_error = G729A_EBADARG;
                if (results != nullptr) results[i] = G729A_EBADARG;
            } else {
                batch_encoders[n] = encoders[i];
                batch_pcm[n] = pcm[i];
                batch_frames[n] = frames[i];
                batch_channel[n] = i;
                ++n;
            }
        }
        g729::encode_frames(batch_encoders, batch_pcm, batch_frames, batch_lengths, n);
        if (results != nullptr) {
            for (int k = 0; k < n; ++k) results[batch_channel[k]] = batch_lengths[k];
        }
    }
    return first_error;
}

int g729a_decode_many(g729a_decoder* const* decoders, const uint8_t* const* frames, const size_t* lengths,
                      int16_t* const* pcm, size_t count, int* results) {
    if (count > 0 && (decoders == nullptr || frames == nullptr || lengths == nullptr || pcm == nullptr))
        return G729A_EBADARG;
    // Each channel is checked as g729a_decode checks it; the channels that
    // pass go to the codec in batches, in array order.
    constexpr size_t kBatch = 64;
    g729::decoder_object* batch_decoders[kBatch];
    const uint8_t* batch_frames[kBatch];
    int batch_lengths[kBatch];
    int16_t* batch_out[kBatch];
    int first_error = G729A_OK;
    for (size_t start = 0; start < count; start += kBatch) {
        const size_t end = count - start < kBatch ? count : start + kBatch;
        int n = 0;
        for (size_t i = start; i < end; ++i) {
            int result = int(g729::kFrame);
            if (decoders[i] == nullptr || pcm[i] == nullptr || (frames[i] == nullptr && lengths[i] > 0)) {
                result = G729A_EBADARG;
            } else if (!decodable_length(frames[i], lengths[i])) {
                result = G729A_EBADFRAME;
            } else {
                batch_decoders[n] = decoders[i];
                batch_frames[n] = frames[i];
                batch_lengths[n] = frames[i] == nullptr ? 0 : int(lengths[i]);
                batch_out[n] = pcm[i];
                ++n;
            }
            if (result < 0 && first_error == G729A_OK) first_error = result;
            if (results != nullptr) results[i] = result;
        }
        g729::decode_frames(batch_decoders, batch_frames, batch_lengths, batch_out, n);
    }
    return first_error;
}

int g729a_decoder_frame_kind(const g729a_decoder* decoder) {
    if (decoder == nullptr) return G729A_EBADARG;
    return int(decoder->last_frame_kind);
}

int g729a_payload_frame_length(size_t remaining) {
    if (remaining >= size_t(g729::kSpeechFrameBytes)) return g729::kSpeechFrameBytes;
    if (remaining == size_t(g729::kSidFrameBytes)) return g729::kSidFrameBytes;
    return remaining == 0 ? 0 : G729A_EBADFRAME;
}

// A payload is a run of 10-byte speech frames, optionally ended by one
// 2-byte SID frame. Each frame is checked before it is decoded, so a fault
// stops the walk with every earlier frame decoded and nothing after it.
int g729a_decode_payload(g729a_decoder* decoder, const uint8_t* payload, size_t length, int16_t* pcm,
                         size_t capacity, size_t* consumed) {
    if (consumed != nullptr) *consumed = 0;
    if (decoder == nullptr || pcm == nullptr || (payload == nullptr && length > 0)) return G729A_EBADARG;
    size_t offset = 0;
    size_t written = 0;
    int result = G729A_OK;
    while (offset < length) {
        const int next = g729a_payload_frame_length(length - offset);
        if (next < 0) {
            result = next;
            break;
        }
        const size_t size = size_t(next);
        if (capacity - written < size_t(g729::kFrame)) {
            result = G729A_ENOSPACE;
            break;
        }
        g729::decode_frame(*decoder, pcm + written, payload + offset, int(size));
        written += size_t(g729::kFrame);
        offset += size;
    }
    if (consumed != nullptr) *consumed = offset;
    return result == G729A_OK ? int(written) : result;
}

int g729a_frame_inspect(const uint8_t* frame, size_t length, g729a_frame_info* info) {
    if (frame == nullptr || info == nullptr) return G729A_EBADARG;
    if (length != size_t(g729::kSpeechFrameBytes) && length != size_t(g729::kSidFrameBytes)) return G729A_EBADFRAME;
    *info = g729a_frame_info{};
    g729::frame_parameters params;
    if (length == size_t(g729::kSidFrameBytes)) {
        g729::unpack_frame(params, frame, g729::frame_type::sid);
        info->type = G729A_FRAME_SID;
        info->sid_predictor = params.sid.predictor_switch;
        info->sid_lsf_first = params.sid.lsf_first_stage;
        info->sid_lsf_second = params.sid.lsf_second_stage;
        info->sid_energy = params.sid.energy_index;
        return G729A_OK;
    }
    g729::unpack_frame(params, frame, g729::frame_type::speech);
    const g729::speech_parameters& speech = params.speech;
    info->type = G729A_FRAME_SPEECH;
    info->lsp_predictor = speech.lsp_first >> 7;
    info->lsp_first = speech.lsp_first & 0x7F;
    info->lsp_second_low = speech.lsp_second >> 5;
    info->lsp_second_high = speech.lsp_second & 0x1F;
    info->pitch_parity = speech.pitch_parity;
    info->parity_error = speech.parity_error ? 1 : 0;
    int reference_lag = 0;
    for (int s = 0; s < g729::kSubframes; ++s) {
        const g729::subframe_parameters& coded = speech.subframes[s];
        info->pitch_index[s] = coded.pitch_index;
        g729::decode_pitch_lag(coded.pitch_index, s, reference_lag, info->pitch_lag[s], info->pitch_fraction[s]);
        reference_lag = info->pitch_lag[s];
        info->code_positions[s] = coded.code_positions;
        info->code_signs[s] = coded.code_signs;
        info->gain_first[s] = coded.gain_indices >> 4;
        info->gain_second[s] = coded.gain_indices & 0xF;
    }
    return G729A_OK;
}

} // extern "C"
