/* The public header on its own, compiled as C89 and as C++ with every
 * warning an error: it must need nothing but itself, declare every entry
 * point with a full prototype, and survive being included twice. */
#include <g729a.h>
#include <g729a.h>

static union g729a_encoder_memory encoder_area;
static union g729a_decoder_memory decoder_area;

int main(void) {
    int (*encode)(g729a_encoder *, const int16_t *, size_t, uint8_t *, size_t) = g729a_encode;
    int (*decode)(g729a_decoder *, const uint8_t *, size_t, int16_t *, size_t) = g729a_decode;
    int (*walk)(g729a_decoder *, const uint8_t *, size_t, int16_t *, size_t, size_t *) = g729a_decode_payload;
    int (*inspect)(const uint8_t *, size_t, g729a_frame_info *) = g729a_frame_inspect;
    const char *(*describe)(int) = g729a_strerror;
    int (*kind)(const g729a_decoder *) = g729a_decoder_frame_kind;
    g729a_frame_info info;
    int checks = sizeof encoder_area.bytes == G729A_ENCODER_SIZE_MAX && sizeof decoder_area.bytes == G729A_DECODER_SIZE_MAX;
    int kinds[5];
    kinds[0] = G729A_FRAME_NONE;
    kinds[1] = G729A_FRAME_SPEECH;
    kinds[2] = G729A_FRAME_SID;
    kinds[3] = G729A_FRAME_COMFORT_NOISE;
    kinds[4] = G729A_FRAME_CONCEALED;
    info.type = G729A_FRAME_SPEECH;
    checks = checks && G729A_ENCODER_DELAY > 0 && G729A_ENCODER_DELAY < G729A_FRAME_SAMPLES;
    (void)encode, (void)decode, (void)walk, (void)inspect, (void)describe, (void)kind, (void)info, (void)kinds;
    return checks && G729A_EBADARG < 0 && G729A_EBADFRAME < 0 && G729A_ENOSPACE < 0 && G729A_ENOMEM < 0 ? 0 : 1;
}
