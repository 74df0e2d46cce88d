/* Reads a .g729 stream (10-byte speech frames back to back, optionally one
 * 2-byte SID frame at the end) on standard input and writes raw 8 kHz
 * 16-bit mono PCM to standard output. */
#include <g729a.h>
#include <stdio.h>

int main(void) {
    uint8_t frame[G729A_SPEECH_FRAME_BYTES];
    int16_t pcm[G729A_FRAME_SAMPLES];
    size_t length;
    int error = G729A_OK;
    g729a_decoder *decoder = g729a_decoder_create(&error);
    while (decoder != NULL && (length = fread(frame, 1, sizeof frame, stdin)) > 0) {
        /* A short read is the end of the stream: a SID frame, or a frame cut
         * short, which g729a_decode refuses. */
        int samples = g729a_decode(decoder, frame, length, pcm, G729A_FRAME_SAMPLES);
        if (samples < 0) {
            error = samples;
            break;
        }
        fwrite(pcm, sizeof pcm[0], (size_t)samples, stdout);
    }
    g729a_decoder_destroy(decoder);
    if (error != G729A_OK) fprintf(stderr, "decode: %s\n", g729a_strerror(error));
    return error != G729A_OK ? 1 : 0;
}
