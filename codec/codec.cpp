#include "codec/codec.h"

#include <cmath>

namespace g729 {

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
    lp_filter_pair filters;
    pitch_lags lags;
    int decoded_type;
    synthesize_frame(decoder.decoder_state, decoder.comfort_noise_state, params, speech, filters, lags,
                     decoded_type);
    postfilter_frame(decoder.postfilter_state, decoder.synthesis_buffer, filters, lags, decoded_type);
    postprocess_filter(decoder.postprocess_memory, speech, kFrame);
    for (int i = 0; i < kFrame; ++i) out[i] = to_pcm_sample(speech[i]);
    return 0;
}

} // namespace g729
