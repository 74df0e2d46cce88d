/* Codes the first second of a reference input and compares the frames with
 * the reference frames: the library found by find_package(g729a) works. */
#include <g729a.h>

#include <stdio.h>
#include <string.h>

int main(int argc, char **argv) {
    FILE *input, *frames;
    int16_t pcm[G729A_FRAME_SAMPLES];
    uint8_t got[G729A_SPEECH_FRAME_BYTES], want[G729A_SPEECH_FRAME_BYTES];
    int n, error;
    g729a_encoder *encoder = g729a_encoder_create(&error);
    if (argc != 3 || encoder == NULL || strcmp(g729a_version(), G729A_VERSION_STRING) != 0) return 2;
    input = fopen(argv[1], "rb");
    frames = fopen(argv[2], "rb");
    if (input == NULL || frames == NULL) return 2;
    for (n = 0; n < 100; ++n) {
        if (fread(pcm, sizeof pcm, 1, input) != 1 || fread(want, sizeof want, 1, frames) != 1) return 1;
        if (g729a_encode(encoder, pcm, G729A_FRAME_SAMPLES, got, sizeof got) != G729A_SPEECH_FRAME_BYTES) return 1;
        if (memcmp(got, want, sizeof got) != 0) {
            fprintf(stderr, "frame %d differs\n", n);
            return 1;
        }
    }
    g729a_encoder_destroy(encoder);
    fclose(input);
    fclose(frames);
    printf("libg729a %s: 100 frames as the reference codes them\n", g729a_version());
    return 0;
}
