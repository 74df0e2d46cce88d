/* Reads raw 8 kHz 16-bit mono PCM on standard input and writes G.729A
 * frames to standard output. */
#include <g729a.h>
#include <stdio.h>

int main(void) {
    int16_t pcm[G729A_FRAME_SAMPLES];
    uint8_t frame[G729A_SPEECH_FRAME_BYTES];
    g729a_encoder *encoder = g729a_encoder_create(NULL);
    while (encoder != NULL && fread(pcm, sizeof pcm, 1, stdin) == 1) {
        int bytes = g729a_encode(encoder, pcm, G729A_FRAME_SAMPLES, frame, sizeof frame);
        fwrite(frame, 1, (size_t)bytes, stdout);
    }
    g729a_encoder_destroy(encoder);
    return encoder != NULL ? 0 : 1;
}
