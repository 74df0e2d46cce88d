#include "codec/codec.h"

#include <cmath>

#include "codec/dsp/filters.h"
#include "codec/dsp/simd.h"

namespace g729 {

namespace {

bool all_finite(const double* v, int n) {
    // x - x is +0 for every finite x and NaN for infinities and NaN, and a
    // NaN survives any sum: adding the differences, without a branch per
    // value and two at a time, answers the same question as testing each.
    using simd::lanes2;
    lanes2 a = simd::splat2(0.0);
    lanes2 b = a;
    int i = 0;
    for (; i + 4 <= n; i += 4) {
        const lanes2 x = simd::load<lanes2>(v + i);
        const lanes2 y = simd::load<lanes2>(v + i + 2);
        a += x - x;
        b += y - y;
    }
    double rest = 0.0;
    for (; i < n; ++i) rest += v[i] - v[i];
    const lanes2 t = a + b;
    return t[0] + t[1] + rest == 0.0;
}

// Corrupted or hostile payloads (long runs of pitch gains above 1) can make
// the excitation grow until the synthesis overflows. Infinity and NaN would
// then sit in the recursive memories for the rest of the call and every
// later frame would decode to nothing, so such memories start afresh. A
// finite state, however large, is never touched.
bool signal_memories_finite(const decoder_object& decoder) {
    const decoder_state& core = decoder.decoder_state;
    const postfilter_state& post = decoder.postfilter_state;
    const pole_zero_memory& high_pass = decoder.postprocess_memory;
    const double high_pass_values[] = {high_pass.x1, high_pass.x2, high_pass.y1, high_pass.y2};
    const double post_values[] = {post.tilt_memory, post.agc_gain};
    return all_finite(core.excitation_buffer, kExcitationHistory) &&
           all_finite(core.synthesis_filter_memory.data(), kOrder) &&
           all_finite(post.residual_history, kResidualHistory) &&
           all_finite(post.postfilter_synthesis_memory.data(), kOrder) && all_finite(post_values, 2) &&
           all_finite(high_pass_values, 4) && all_finite(decoder.synthesis_buffer, kSynthesisHistory);
}

void reset_signal_memories(decoder_object& decoder) {
    decoder_state& core = decoder.decoder_state;
    set_zero(core.excitation_buffer, kDecoderExcitationBuffer);
    core.synthesis_filter_memory.fill(0.0);
    postfilter_reset(decoder.postfilter_state);
    postprocess_reset(decoder.postprocess_memory);
    set_zero(decoder.synthesis_buffer, kSynthesisHistory);
}

} // namespace

void encoder_init(encoder_object& encoder) {
    preprocess_reset(encoder.state.preprocess_memory);
    encoder_reset(encoder.state);
}

int encode_frame(encoder_object& encoder, const int16_t* samples, uint8_t* out, int& out_length) {
    double* input = encoder.state.speech_buffer + kSpeechNewInput;
    for (int i = 0; i < kFrame; ++i) input[i] = double(samples[i]);
    preprocess_filter(encoder.state.preprocess_memory, input, kFrame);
    frame_parameters params;
    analyse_frame(encoder.state, params);
    pack_frame(params, out, out_length);
    return 0;
}

void decoder_init(decoder_object& decoder) {
    decoder_reset(decoder.decoder_state, decoder.comfort_noise_state);
    postfilter_reset(decoder.postfilter_state);
    postprocess_reset(decoder.postprocess_memory);
    for (int i = 0; i < kSynthesisHistory; ++i) decoder.synthesis_buffer[i] = 0.0;
    comfort_noise_reset(decoder.comfort_noise_state);
}

int16_t to_pcm_sample(double x) {
    // NaN and infinities have no integer value; converting them is undefined.
    if (!std::isfinite(x)) return 0;
    const double r = x >= 0.0 ? x + 0.5 : x - 0.5;
    if (r > 32767.0) return 32767;
    if (r < -32768.0) return -32768;
    return int16_t(r);
}

int decode_frame(decoder_object& decoder, int16_t* out, const uint8_t* in, int length) {
    int frame_type;
    if (length == kSpeechFrameBytes) {
        frame_type = kFrameTypeSpeech;
    } else if (length == kSidFrameBytes) {
        frame_type = kFrameTypeSid;
    } else {
        return -1;
    }
    frame_parameters params;
    unpack_frame(params, in, frame_type);

    double* speech = decoder.synthesis_buffer + kSynthesisHistory;
    decode_to_output(decoder.decoder_state, decoder.comfort_noise_state, decoder.postfilter_state,
                     decoder.postprocess_memory, params, decoder.synthesis_buffer);
    for (int i = 0; i < kFrame; ++i) out[i] = to_pcm_sample(speech[i]);
    if (!signal_memories_finite(decoder)) reset_signal_memories(decoder);
    return 0;
}

} // namespace g729
