// The decoder's frame driver: a received frame is unpacked and synthesized
// (speech in one interleaved chain, SID frames through the comfort-noise
// generator), a missing one concealed, and every frame leaves through the
// output stage.
#include "codec/decoder/decoder_object.h"

#include "codec/bitstream.h"
#include "codec/decoder/concealment.h"
#include "codec/decoder/output.h"

namespace g729 {

void decoder_init(decoder_object& decoder) {
    decoder_reset(decoder.decoder_state);
    concealment_reset(decoder.decoder_state);
    postfilter_reset(decoder.postfilter_state);
    postprocess_reset(decoder.postprocess_memory);
    for (int i = 0; i < kSynthesisHistory; ++i) decoder.synthesis_buffer[i] = 0.0;
    comfort_noise_reset(decoder.comfort_noise_state);
    decoder.last_frame_kind = frame_kind::none;
}

int decode_frame(decoder_object& decoder, int16_t* out, const uint8_t* in, int length) {
    frame_type type;
    if (length == kSpeechFrameBytes) {
        type = frame_type::speech;
    } else if (length == kSidFrameBytes) {
        type = frame_type::sid;
    } else {
        return -1;
    }
    frame_parameters params;
    unpack_frame(params, in, type);
    decoder.last_frame_kind = type == frame_type::speech ? frame_kind::speech : frame_kind::sid;

    if (type == frame_type::speech && decoder.decoder_state.lost_frames > 0) {
        // After concealed speech: what concealment would have gone on with,
        // from a copy, to hand over from.
        decoder_object concealing = decoder;
        int16_t concealed[kFrame];
        decode_missing_frame(concealing, concealed);
        recover_memories(decoder.decoder_state, params.speech);
        decode_speech_to_output(decoder.decoder_state, decoder.postfilter_state, decoder.postprocess_memory,
                                params.speech, decoder.synthesis_buffer);
        round_and_check(decoder, out);
        hand_over_from_concealment(concealed, out);
        return 0;
    }
    if (type == frame_type::speech) {
        // Synthesis and output chain in one, with their independent
        // recursions side by side: the same bits as the stages in turn.
        decode_speech_to_output(decoder.decoder_state, decoder.postfilter_state, decoder.postprocess_memory,
                                params.speech, decoder.synthesis_buffer);
        round_and_check(decoder, out);
        return 0;
    }
    lp_filter_pair filters;
    pitch_lags lags;
    synthesize_sid_frame(decoder.decoder_state, decoder.comfort_noise_state, params.sid,
                         decoder.synthesis_buffer + kSynthesisHistory, filters, lags);
    output_frame(decoder, filters, lags, type, out);
    return 0;
}

void decode_missing_frame(decoder_object& decoder, int16_t* out) {
    lp_filter_pair filters;
    pitch_lags lags;
    const frame_type type = conceal_frame(decoder.decoder_state, decoder.comfort_noise_state,
                                          decoder.synthesis_buffer + kSynthesisHistory, filters, lags);
    // conceal_frame goes on as the last frame that arrived was: comfort
    // noise after a SID frame, concealed speech otherwise.
    decoder.last_frame_kind = type == frame_type::sid ? frame_kind::comfort_noise : frame_kind::concealed;
    output_frame(decoder, filters, lags, type, out);
}

namespace {

// Speech frames waiting to be decoded together.
struct speech_group {
    decoder_object* decoder[kSpeechChannels];
    frame_parameters params[kSpeechChannels];
    int16_t* out[kSpeechChannels];
    int count = 0;

    bool holds(const decoder_object* d) const {
        for (int c = 0; c < count; ++c) {
            if (decoder[c] == d) return true;
        }
        return false;
    }

    void decode() {
        speech_channel channels[kSpeechChannels];
        for (int c = 0; c < count; ++c) {
            decoder_object& d = *decoder[c];
            channels[c] = speech_channel{&d.decoder_state, &d.postfilter_state, &d.postprocess_memory,
                                         &params[c].speech, d.synthesis_buffer};
        }
        decode_speech_channels(channels, count);
        for (int c = 0; c < count; ++c) {
            decoder[c]->last_frame_kind = frame_kind::speech;
            round_and_check(*decoder[c], out[c]);
        }
        count = 0;
    }
};

} // namespace

void decode_frames(decoder_object* const* decoders, const uint8_t* const* frames, const int* lengths,
                   int16_t* const* out, int count) {
    speech_group group;
    for (int i = 0; i < count; ++i) {
        decoder_object* d = decoders[i];
        // A decoder already waiting in the group takes that frame first.
        if (group.holds(d)) group.decode();
        // The first speech frame after a loss hands over from concealment,
        // which is one channel's work; every other speech frame joins the
        // group.
        if (lengths[i] == kSpeechFrameBytes && d->decoder_state.lost_frames == 0) {
            const int c = group.count++;
            group.decoder[c] = d;
            group.out[c] = out[i];
            unpack_frame(group.params[c], frames[i], frame_type::speech);
            if (group.count == kSpeechChannels) group.decode();
        } else if (lengths[i] == kSpeechFrameBytes || lengths[i] == kSidFrameBytes) {
            decode_frame(*d, out[i], frames[i], lengths[i]);
        } else {
            decode_missing_frame(*d, out[i]);
        }
    }
    if (group.count > 0) group.decode();
}

} // namespace g729
