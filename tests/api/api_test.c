/*
 * The public C interface, used the way a C program uses it: through the
 * installed g729a.h and libg729a.so. Every entry point with good and bad
 * arguments, every error code with the case that gives it, both ways of
 * making an instance, reset, independence of instances (also across
 * threads), and the reference vectors reproduced through the interface.
 *
 * Usage: g729a_api_test VECTOR_DIR   (tests/data/vectors)
 */
#include <g729a.h>

#include <limits.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define FRAME G729A_FRAME_SAMPLES
#define SPEECH G729A_SPEECH_FRAME_BYTES
#define SID G729A_SID_FRAME_BYTES

static int failures;
static const char *vector_dir;

static int check(int ok, const char *what, const char *file, int line) {
    if (!ok) {
        ++failures;
        fprintf(stderr, "%s:%d: failed: %s\n", file, line, what);
    }
    return ok;
}
static int check_int(long got, long want, const char *what, const char *file, int line) {
    if (got != want) {
        ++failures;
        fprintf(stderr, "%s:%d: %s is %ld, want %ld\n", file, line, what, got, want);
    }
    return got == want;
}
#define CHECK(cond) check((cond) != 0, #cond, __FILE__, __LINE__)
#define CHECK_INT(got, want) check_int((long)(got), (long)(want), #got, __FILE__, __LINE__)

/* ---- allocation ------------------------------------------------------------
 * The executable's malloc stands in front of the C library's, so the test can
 * make the next allocation fail and see *_create() report G729A_ENOMEM, and
 * count allocations to see that coding makes none. Not under
 * AddressSanitizer, which owns malloc itself. */
#if defined(__GLIBC__) && !defined(__SANITIZE_ADDRESS__)
#define CAN_FAIL_MALLOC 1
extern void *__libc_malloc(size_t size);
static volatile int fail_next_malloc;
static volatile long malloc_calls;
void *malloc(size_t size) {
    ++malloc_calls;
    if (fail_next_malloc) {
        fail_next_malloc = 0;
        return NULL;
    }
    return __libc_malloc(size);
}
#else
#define CAN_FAIL_MALLOC 0
#endif

/* ---- the reference vectors ---------------------------------------------- */

typedef struct {
    unsigned char *bytes;
    size_t size;
} blob;

/* Reads a vector file; 0 when it cannot. Touches no shared state, so the
 * threads can use it. */
static int load_vector(const char *name, blob *b) {
    char path[1024];
    FILE *f;
    long size;
    b->bytes = NULL;
    b->size = 0;
    snprintf(path, sizeof path, "%s/%s", vector_dir, name);
    f = fopen(path, "rb");
    if (f == NULL) return 0;
    fseek(f, 0, SEEK_END);
    size = ftell(f);
    fseek(f, 0, SEEK_SET);
    b->bytes = malloc(size > 0 ? (size_t)size : 1);
    b->size = fread(b->bytes, 1, size > 0 ? (size_t)size : 0, f);
    fclose(f);
    return size >= 0 && b->size == (size_t)size;
}

static blob read_vector(const char *name) {
    blob b;
    if (!load_vector(name, &b)) check(0, name, __FILE__, __LINE__);
    return b;
}

/* 16-bit little-endian samples, whatever the machine's byte order. */
static int16_t *samples_of(blob b, size_t *count) {
    size_t i;
    int16_t *s = malloc(b.size / 2 * sizeof *s + 1);
    for (i = 0; i < b.size / 2; ++i) s[i] = (int16_t)(uint16_t)(b.bytes[2 * i] | (b.bytes[2 * i + 1] << 8));
    *count = b.size / 2;
    return s;
}

static void release(blob *b) {
    free(b->bytes);
    b->bytes = NULL;
    b->size = 0;
}

/* The first differing sample, not thousands of lines. */
static void check_samples(const int16_t *got, const int16_t *want, size_t count, const char *what) {
    size_t i;
    for (i = 0; i < count; ++i) {
        if (got[i] != want[i]) {
            ++failures;
            fprintf(stderr, "%s: first difference at sample %lu (frame %lu): got %d, want %d\n", what,
                    (unsigned long)i, (unsigned long)(i / FRAME), got[i], want[i]);
            return;
        }
    }
}

static void check_bytes(const uint8_t *got, const uint8_t *want, size_t count, const char *what) {
    size_t i;
    for (i = 0; i < count; ++i) {
        if (got[i] != want[i]) {
            ++failures;
            fprintf(stderr, "%s: first difference at byte %lu (frame %lu): got %02x, want %02x\n", what,
                    (unsigned long)i, (unsigned long)(i / SPEECH), got[i], want[i]);
            return;
        }
    }
}

static const char *const encoder_vectors[] = {
    "speech_male_librivox", "speech_male_espeak", "speech_female_espeak", "tone_1kHz", "square_fullscale", "silence",
};
static const char *const decoder_vectors[] = {"random_frames", "speech_sid_mix", "parity_errors"};
#define COUNT(a) (sizeof(a) / sizeof((a)[0]))

/* Encodes a whole input frame by frame; returns the frames back to back. */
static uint8_t *encode_all(g729a_encoder *enc, const int16_t *pcm, size_t frames) {
    size_t f;
    uint8_t *out = malloc(frames * SPEECH + 1);
    for (f = 0; f < frames; ++f) {
        if (!CHECK_INT(g729a_encode(enc, pcm + f * FRAME, FRAME, out + f * SPEECH, SPEECH), SPEECH)) break;
    }
    return out;
}

/* Decodes a record file (one length byte, then that many bytes) frame by
 * frame. Speech and SID records give 80 samples each; other lengths are
 * refused with G729A_EBADFRAME and give nothing. A zero length is how the
 * interface says "this frame did not arrive" (it conceals), so the vectors'
 * empty records, which only test refusal in the codec's own frame call, are
 * left out here. Returns the samples; *count receives their number. */
static int16_t *decode_records(g729a_decoder *dec, blob records, size_t *count, const char *what) {
    size_t pos = 0, n = 0;
    int16_t *out = malloc((records.size / 2 + 1) * FRAME * sizeof *out);
    while (pos < records.size) {
        const size_t length = records.bytes[pos];
        int result;
        if (!check(pos + 1 + length <= records.size, what, __FILE__, __LINE__)) break;
        if (length != 0) {
            result = g729a_decode(dec, records.bytes + pos + 1, length, out + n, FRAME);
            if (length == SPEECH || length == SID) {
                CHECK_INT(result, FRAME);
                n += FRAME;
            } else {
                CHECK_INT(result, G729A_EBADFRAME);
            }
        }
        pos += 1 + length;
    }
    *count = n;
    return out;
}

/* ---- the library ---------------------------------------------------------- */

static void test_version(void) {
    char expected[64];
    const char *line = g729a_version_line();
    snprintf(expected, sizeof expected, "%d.%d.%d", G729A_VERSION_MAJOR, G729A_VERSION_MINOR, G729A_VERSION_PATCH);
    CHECK(strcmp(G729A_VERSION_STRING, expected) == 0);
    CHECK(g729a_version() != NULL && strcmp(g729a_version(), G729A_VERSION_STRING) == 0);
    /* The library's own line: its version and the kernels it chose, and
     * nothing of the module's words. */
    snprintf(expected, sizeof expected, "libg729a %s (", g729a_version());
    if (!CHECK(line != NULL && strlen(line) > 1 && line[strlen(line) - 1] == '\n')) return;
    CHECK(strncmp(line, expected, strlen(expected)) == 0);
    CHECK(strstr(line, "kernels)\n") != NULL);
    CHECK(strstr(line, "Module") == NULL);
    CHECK(g729a_version_line() == line || strcmp(g729a_version_line(), line) == 0);
}

static void test_strerror(void) {
    static const int codes[] = {G729A_OK, G729A_EBADARG, G729A_EBADFRAME, G729A_ENOSPACE, G729A_ENOMEM};
    static const int unknown[] = {1, -5, 100, -100, INT_MIN, INT_MAX};
    size_t i, j;
    for (i = 0; i < COUNT(codes); ++i) {
        const char *text = g729a_strerror(codes[i]);
        CHECK(i == 0 ? codes[i] == 0 : codes[i] < 0);
        if (!CHECK(text != NULL && text[0] != '\0')) continue;
        CHECK(strcmp(text, "unknown error") != 0);
        for (j = 0; j < i; ++j) {
            CHECK(codes[i] != codes[j]);
            CHECK(strcmp(text, g729a_strerror(codes[j])) != 0);
        }
    }
    for (i = 0; i < COUNT(unknown); ++i) {
        const char *text = g729a_strerror(unknown[i]);
        CHECK(text != NULL && strcmp(text, "unknown error") == 0);
    }
}

/* ---- making instances ----------------------------------------------------- */

static void test_create_and_destroy(void) {
    int error = 12345;
    g729a_encoder *enc = g729a_encoder_create(&error);
    g729a_decoder *dec;
    CHECK(enc != NULL);
    CHECK_INT(error, G729A_OK);
    g729a_encoder_destroy(enc);
    error = 12345;
    dec = g729a_decoder_create(&error);
    CHECK(dec != NULL);
    CHECK_INT(error, G729A_OK);
    g729a_decoder_destroy(dec);

    /* The error pointer is optional; destroying NULL does nothing. */
    enc = g729a_encoder_create(NULL);
    dec = g729a_decoder_create(NULL);
    CHECK(enc != NULL && dec != NULL);
    g729a_encoder_destroy(enc);
    g729a_decoder_destroy(dec);
    g729a_encoder_destroy(NULL);
    g729a_decoder_destroy(NULL);

#if CAN_FAIL_MALLOC
    error = 12345;
    fail_next_malloc = 1;
    CHECK(g729a_encoder_create(&error) == NULL);
    CHECK_INT(error, G729A_ENOMEM);
    error = 12345;
    fail_next_malloc = 1;
    CHECK(g729a_decoder_create(&error) == NULL);
    CHECK_INT(error, G729A_ENOMEM);
    fail_next_malloc = 1;
    CHECK(g729a_encoder_create(NULL) == NULL);
    fail_next_malloc = 0;
#else
    fprintf(stderr, "note: allocation failure not simulated in this build\n");
#endif
}

static int untouched(const unsigned char *memory, size_t size, unsigned char pattern) {
    size_t i;
    for (i = 0; i < size; ++i) {
        if (memory[i] != pattern) return 0;
    }
    return 1;
}

/* init refuses memory it cannot use and then writes nothing into it. */
static void test_init_in_caller_memory(void) {
    static union g729a_encoder_memory enc_area;
    static union g729a_decoder_memory dec_area;
    const size_t enc_size = g729a_encoder_size();
    const size_t dec_size = g729a_decoder_size();
    unsigned char *misaligned;

    CHECK(enc_size > 0 && enc_size <= G729A_ENCODER_SIZE_MAX && enc_size <= sizeof enc_area);
    CHECK(dec_size > 0 && dec_size <= G729A_DECODER_SIZE_MAX && dec_size <= sizeof dec_area);
    printf("instance sizes: encoder %lu bytes (bound %d), decoder %lu bytes (bound %d)\n", (unsigned long)enc_size,
           G729A_ENCODER_SIZE_MAX, (unsigned long)dec_size, G729A_DECODER_SIZE_MAX);

    CHECK_INT(g729a_encoder_init(NULL, enc_size), G729A_EBADARG);
    CHECK_INT(g729a_decoder_init(NULL, dec_size), G729A_EBADARG);

    memset(&enc_area, 0xA5, sizeof enc_area);
    CHECK_INT(g729a_encoder_init((g729a_encoder *)&enc_area, enc_size - 1), G729A_EBADARG);
    CHECK_INT(g729a_encoder_init((g729a_encoder *)&enc_area, 0), G729A_EBADARG);
    CHECK(untouched(enc_area.bytes, sizeof enc_area, 0xA5));
    memset(&dec_area, 0xA5, sizeof dec_area);
    CHECK_INT(g729a_decoder_init((g729a_decoder *)&dec_area, dec_size - 1), G729A_EBADARG);
    CHECK_INT(g729a_decoder_init((g729a_decoder *)&dec_area, 0), G729A_EBADARG);
    CHECK(untouched(dec_area.bytes, sizeof dec_area, 0xA5));

    /* One byte past an aligned address, with room to spare. */
    misaligned = enc_area.bytes + 1;
    CHECK_INT(g729a_encoder_init((g729a_encoder *)(void *)misaligned, sizeof enc_area - 1), G729A_EBADARG);
    CHECK(untouched(enc_area.bytes, sizeof enc_area, 0xA5));
    misaligned = dec_area.bytes + 1;
    CHECK_INT(g729a_decoder_init((g729a_decoder *)(void *)misaligned, sizeof dec_area - 1), G729A_EBADARG);
    CHECK(untouched(dec_area.bytes, sizeof dec_area, 0xA5));

    /* Exactly the size asked for is enough, and init writes only that. */
    CHECK_INT(g729a_encoder_init((g729a_encoder *)&enc_area, enc_size), G729A_OK);
    CHECK(untouched(enc_area.bytes + enc_size, sizeof enc_area - enc_size, 0xA5));
    CHECK_INT(g729a_decoder_init((g729a_decoder *)&dec_area, dec_size), G729A_OK);
    CHECK(untouched(dec_area.bytes + dec_size, sizeof dec_area - dec_size, 0xA5));
}

/* ---- coding one frame -------------------------------------------------- */

static void test_encode_arguments(void) {
    blob raw = read_vector("speech_male_librivox.raw");
    blob coded = read_vector("speech_male_librivox.g729");
    size_t count, f;
    int16_t *pcm = samples_of(raw, &count);
    const size_t frames = count / FRAME > 20 ? 20 : count / FRAME;
    g729a_encoder *enc = g729a_encoder_create(NULL);
    uint8_t frame[SPEECH + 4];

    /* Each refused call between two good frames: the output buffer keeps its
     * bytes, and the frames that follow are those of an undisturbed encoder. */
    for (f = 0; f < frames; ++f) {
        static const size_t bad_samples[] = {0, 1, 79, 81, 160};
        static const size_t bad_capacity[] = {0, 1, 9};
        size_t i;
        memset(frame, 0xEE, sizeof frame);
        CHECK_INT(g729a_encode(NULL, pcm + f * FRAME, FRAME, frame, SPEECH), G729A_EBADARG);
        CHECK_INT(g729a_encode(enc, NULL, FRAME, frame, SPEECH), G729A_EBADARG);
        CHECK_INT(g729a_encode(enc, pcm + f * FRAME, FRAME, NULL, SPEECH), G729A_EBADARG);
        for (i = 0; i < COUNT(bad_samples); ++i) {
            CHECK_INT(g729a_encode(enc, pcm + f * FRAME, bad_samples[i], frame, SPEECH), G729A_EBADARG);
        }
        for (i = 0; i < COUNT(bad_capacity); ++i) {
            CHECK_INT(g729a_encode(enc, pcm + f * FRAME, FRAME, frame, bad_capacity[i]), G729A_ENOSPACE);
        }
        CHECK(untouched(frame, sizeof frame, 0xEE));

        /* More room than a frame: exactly 10 bytes are written. */
        CHECK_INT(g729a_encode(enc, pcm + f * FRAME, FRAME, frame, sizeof frame), SPEECH);
        check_bytes(frame, coded.bytes + f * SPEECH, SPEECH, "encoding between refused calls");
        CHECK(untouched(frame + SPEECH, sizeof frame - SPEECH, 0xEE));
    }
    g729a_encoder_destroy(enc);
    free(pcm);
    release(&raw);
    release(&coded);
}

/* Silence suppression: a setting of the encoder, refused without one, kept
 * by a reset; in digital silence the first frame describes the noise (2
 * bytes) and the next ones are not sent (0). The room asked for stays that
 * of a speech frame, since the caller cannot know which frame comes. */
static void test_dtx_setting(void) {
    static union g729a_encoder_memory area;
    g729a_encoder *enc = (g729a_encoder *)&area;
    int16_t silence[FRAME];
    uint8_t frame[SPEECH];
    int round, f;
    memset(silence, 0, sizeof silence);
    CHECK_INT(g729a_encoder_set_dtx(NULL, 1), G729A_EBADARG);
    CHECK_INT(g729a_encoder_init(enc, sizeof area), G729A_OK);
    CHECK_INT(g729a_encode(enc, silence, FRAME, frame, sizeof frame), SPEECH);
    CHECK_INT(g729a_encoder_set_dtx(enc, 1), G729A_OK);
    CHECK_INT(g729a_encoder_reset(enc), G729A_OK);
    for (round = 0; round < 2; ++round) {
        CHECK_INT(g729a_encode(enc, silence, FRAME, frame, SID), G729A_ENOSPACE);
        CHECK_INT(g729a_encode(enc, silence, FRAME, frame, sizeof frame), SID);
        for (f = 0; f < 20; ++f) CHECK_INT(g729a_encode(enc, silence, FRAME, frame, sizeof frame), 0);
        CHECK_INT(g729a_encoder_reset(enc), G729A_OK);
    }
    CHECK_INT(g729a_encoder_set_dtx(enc, 0), G729A_OK);
    CHECK_INT(g729a_encode(enc, silence, FRAME, frame, sizeof frame), SPEECH);
}

static void test_decode_arguments(void) {
    blob coded = read_vector("speech_male_librivox.g729");
    blob decoded = read_vector("speech_male_librivox.g729.raw");
    size_t count, f;
    int16_t *want = samples_of(decoded, &count);
    const size_t frames = coded.size / SPEECH > 20 ? 20 : coded.size / SPEECH;
    g729a_decoder *dec = g729a_decoder_create(NULL);
    int16_t pcm[FRAME + 4];
    size_t consumed;

    for (f = 0; f < frames; ++f) {
        static const size_t bad_lengths[] = {1, 3, 9, 11, 12, 20};
        const uint8_t *frame = coded.bytes + f * SPEECH;
        size_t i;
        memset(pcm, 0x5A, sizeof pcm);
        CHECK_INT(g729a_decode(NULL, frame, SPEECH, pcm, FRAME), G729A_EBADARG);
        CHECK_INT(g729a_decode(dec, frame, SPEECH, NULL, FRAME), G729A_EBADARG);
        CHECK_INT(g729a_decode(dec, frame, SPEECH, pcm, FRAME - 1), G729A_ENOSPACE);
        CHECK_INT(g729a_decode(dec, frame, SPEECH, pcm, 0), G729A_ENOSPACE);
        CHECK_INT(g729a_decode(dec, NULL, 0, pcm, FRAME - 1), G729A_ENOSPACE);
        CHECK_INT(g729a_decode(dec, NULL, SPEECH, pcm, FRAME), G729A_EBADARG);
        CHECK_INT(g729a_decode(dec, NULL, SID, pcm, FRAME), G729A_EBADARG);
        for (i = 0; i < COUNT(bad_lengths); ++i) {
            CHECK_INT(g729a_decode(dec, frame, bad_lengths[i], pcm, FRAME), G729A_EBADFRAME);
        }
        CHECK_INT(g729a_decode_payload(NULL, frame, SPEECH, pcm, FRAME, &consumed), G729A_EBADARG);
        CHECK_INT(g729a_decode_payload(dec, frame, SPEECH, NULL, FRAME, &consumed), G729A_EBADARG);
        CHECK_INT(g729a_decode_payload(dec, NULL, SPEECH, pcm, FRAME, &consumed), G729A_EBADARG);
        CHECK_INT(consumed, 0);
        CHECK_INT(g729a_decode_payload(dec, frame, 5, pcm, FRAME, &consumed), G729A_EBADFRAME);
        CHECK_INT(consumed, 0);
        CHECK_INT(g729a_decode_payload(dec, frame, SPEECH, pcm, FRAME - 1, &consumed), G729A_ENOSPACE);
        CHECK_INT(consumed, 0);
        CHECK(untouched((const unsigned char *)pcm, sizeof pcm, 0x5A));

        CHECK_INT(g729a_decode(dec, frame, SPEECH, pcm, sizeof pcm / sizeof pcm[0]), FRAME);
        check_samples(pcm, want + f * FRAME, FRAME, "decoding between refused calls");
        CHECK(untouched((const unsigned char *)(pcm + FRAME), sizeof pcm - FRAME * sizeof pcm[0], 0x5A));
    }
    g729a_decoder_destroy(dec);
    free(want);
    release(&coded);
    release(&decoded);
}

/* A frame that did not arrive: NULL or a zero length. The decoder answers
 * with 80 samples carried on from what it has decoded (not silence after
 * speech), keeping the stream on time, and the two spellings are the same
 * thing. */
static void test_lost_frames(void) {
    blob coded = read_vector("speech_male_librivox.g729");
    const size_t frames = 100;
    g729a_decoder *a = g729a_decoder_create(NULL);
    g729a_decoder *b = g729a_decoder_create(NULL);
    int16_t pa[FRAME], pb[FRAME];
    size_t f, i;
    double energy = 0.0;
    if (!CHECK(coded.size >= (frames + 1) * SPEECH)) return;
    CHECK_INT(g729a_decode(a, NULL, 0, pa, FRAME), FRAME); /* on a fresh decoder too */
    CHECK_INT(g729a_decode(b, coded.bytes, 0, pb, FRAME), FRAME);
    check_samples(pa, pb, FRAME, "lost first frame");
    for (f = 0; f < frames; ++f) {
        CHECK_INT(g729a_decode(a, coded.bytes + f * SPEECH, SPEECH, pa, FRAME), FRAME);
        CHECK_INT(g729a_decode(b, coded.bytes + f * SPEECH, SPEECH, pb, FRAME), FRAME);
    }
    CHECK_INT(g729a_decode(a, NULL, 0, pa, FRAME), FRAME);
    CHECK_INT(g729a_decode(b, coded.bytes, 0, pb, FRAME), FRAME);
    check_samples(pa, pb, FRAME, "lost frame, NULL and zero length");
    for (i = 0; i < FRAME; ++i) energy += (double)pa[i] * pa[i];
    CHECK(energy > 0.0);
    CHECK_INT(g729a_decode(a, coded.bytes + frames * SPEECH, SPEECH, pa, FRAME), FRAME);
    CHECK_INT(g729a_decode(b, coded.bytes + frames * SPEECH, SPEECH, pb, FRAME), FRAME);
    check_samples(pa, pb, FRAME, "after a lost frame");
    g729a_decoder_destroy(a);
    g729a_decoder_destroy(b);
    release(&coded);
}

/* ---- what the decoder produced ------------------------------------------ */

/* g729a_decoder_frame_kind() along one stream: nothing on a fresh decoder, the
 * kind of each frame decoded, comfort noise or concealment for a frame that
 * did not arrive depending on what arrived last, and no change from a call
 * that is refused. */
static void test_frame_kind(void) {
    enum { SINGLE, PAYLOAD, RESET };
    static const uint8_t sid[SID] = {0x5A, 0x3C};
    blob coded = read_vector("speech_male_librivox.g729");
    uint8_t payload[3 * SPEECH + SID];
    const uint8_t *speech = coded.bytes;
    struct {
        int call;
        const uint8_t *bytes;
        size_t length, capacity;
        int result, kind;
    } steps[] = {
        {SINGLE, NULL, 0, FRAME, FRAME, G729A_FRAME_CONCEALED}, /* lost before anything arrived */
        {SINGLE, NULL, 0, FRAME, FRAME, G729A_FRAME_CONCEALED},
        {SINGLE, NULL, SPEECH, FRAME, FRAME, G729A_FRAME_SPEECH},
        {SINGLE, NULL, 0, FRAME, FRAME, G729A_FRAME_CONCEALED},
        {SINGLE, sid, SID, FRAME, FRAME, G729A_FRAME_SID},
        {SINGLE, NULL, 0, FRAME, FRAME, G729A_FRAME_COMFORT_NOISE},
        {SINGLE, NULL, 0, FRAME, FRAME, G729A_FRAME_COMFORT_NOISE},
        /* Refused calls leave the kind of the last frame decoded. */
        {SINGLE, NULL, SPEECH, FRAME - 1, G729A_ENOSPACE, G729A_FRAME_COMFORT_NOISE},
        {SINGLE, NULL, 7, FRAME, G729A_EBADFRAME, G729A_FRAME_COMFORT_NOISE},
        {SINGLE, sid, SID, FRAME, FRAME, G729A_FRAME_SID},
        {SINGLE, NULL, SPEECH, FRAME - 1, G729A_ENOSPACE, G729A_FRAME_SID},
        {SINGLE, NULL, 0, 0, G729A_ENOSPACE, G729A_FRAME_SID},
        {SINGLE, NULL, 3, FRAME, G729A_EBADFRAME, G729A_FRAME_SID},
        {PAYLOAD, NULL, 5, 4 * FRAME, G729A_EBADFRAME, G729A_FRAME_SID},
        {PAYLOAD, NULL, SPEECH, FRAME - 1, G729A_ENOSPACE, G729A_FRAME_SID},
        {PAYLOAD, NULL, 0, 4 * FRAME, 0, G729A_FRAME_SID},
        /* A payload tells its last frame, also when a fault stops it. */
        {PAYLOAD, NULL, 2 * SPEECH + SID, 4 * FRAME, 3 * FRAME, G729A_FRAME_SID},
        {PAYLOAD, NULL, 2 * SPEECH, 4 * FRAME, 2 * FRAME, G729A_FRAME_SPEECH},
        {PAYLOAD, NULL, SID, 4 * FRAME, FRAME, G729A_FRAME_SID},
        {PAYLOAD, NULL, 2 * SPEECH + 5, 4 * FRAME, G729A_EBADFRAME, G729A_FRAME_SPEECH},
        {PAYLOAD, NULL, 2 * SPEECH + SID, 2 * FRAME, G729A_ENOSPACE, G729A_FRAME_SPEECH},
        {RESET, NULL, 0, 0, G729A_OK, G729A_FRAME_NONE},
        {SINGLE, sid, SID, FRAME, FRAME, G729A_FRAME_SID}, /* comfort noise from the first frame on */
        {SINGLE, NULL, 0, FRAME, FRAME, G729A_FRAME_COMFORT_NOISE},
        {RESET, NULL, 0, 0, G729A_OK, G729A_FRAME_NONE},
        {SINGLE, NULL, 9, FRAME, G729A_EBADFRAME, G729A_FRAME_NONE},
        {SINGLE, NULL, SPEECH, FRAME, FRAME, G729A_FRAME_SPEECH},
    };
    g729a_decoder *dec = g729a_decoder_create(NULL);
    int16_t pcm[4 * FRAME];
    size_t i, consumed;
    if (!CHECK(coded.size >= 3 * SPEECH)) return;
    memset(payload, 0, sizeof payload);
    memcpy(payload, speech, 2 * SPEECH);
    memcpy(payload + 2 * SPEECH, sid, SID);
    CHECK_INT(g729a_decoder_frame_kind(NULL), G729A_EBADARG);
    CHECK_INT(g729a_decoder_frame_kind(dec), G729A_FRAME_NONE);
    for (i = 0; i < COUNT(steps); ++i) {
        /* Speech frames come from the vector in turn (or the payload built
         * from it); a length that is not a frame points at speech too. */
        const uint8_t *bytes = steps[i].bytes != NULL ? steps[i].bytes : steps[i].length == 0 ? NULL : speech;
        int result;
        if (steps[i].call == RESET) {
            result = g729a_decoder_reset(dec);
        } else if (steps[i].call == PAYLOAD) {
            result = g729a_decode_payload(dec, steps[i].length == SID ? sid : payload, steps[i].length, pcm,
                                          steps[i].capacity, &consumed);
        } else {
            result = g729a_decode(dec, bytes, steps[i].length, pcm, steps[i].capacity);
        }
        if (!CHECK_INT(result, steps[i].result) || !CHECK_INT(g729a_decoder_frame_kind(dec), steps[i].kind)) {
            fprintf(stderr, "  at step %lu\n", (unsigned long)i);
        }
    }
    g729a_decoder_destroy(dec);
    release(&coded);
}

/* ---- payloads ------------------------------------------------------------- */

static void test_payload_frame_length(void) {
    static const struct {
        size_t remaining;
        int length;
    } cases[] = {
        {0, 0}, {1, G729A_EBADFRAME}, {2, SID}, {3, G729A_EBADFRAME}, {4, G729A_EBADFRAME},
        {5, G729A_EBADFRAME}, {6, G729A_EBADFRAME}, {7, G729A_EBADFRAME}, {8, G729A_EBADFRAME},
        {9, G729A_EBADFRAME}, {10, SPEECH}, {11, SPEECH}, {12, SPEECH}, {19, SPEECH}, {1000, SPEECH},
        {(size_t)-1, SPEECH},
    };
    size_t i;
    for (i = 0; i < COUNT(cases); ++i) {
        if (!CHECK_INT(g729a_payload_frame_length(cases[i].remaining), cases[i].length)) {
            fprintf(stderr, "  remaining %lu\n", (unsigned long)cases[i].remaining);
        }
    }
}

/* Three speech frames, then a tail. A tail of 2 is a final SID frame; 1 or 3
 * to 9 bytes is refused after the three frames have been decoded, with
 * *consumed saying so; nothing is written past them. */
static void test_payload_walk(void) {
    blob coded = read_vector("speech_male_librivox.g729");
    blob sid_mix = read_vector("speech_sid_mix.pay");
    uint8_t payload[3 * SPEECH + SPEECH];
    int16_t want[4 * FRAME], got[6 * FRAME];
    size_t tail, consumed;
    g729a_decoder *ref = g729a_decoder_create(NULL);
    g729a_decoder *dec = g729a_decoder_create(NULL);
    size_t f;
    uint8_t sid[SID];

    if (!CHECK(coded.size >= 4 * SPEECH && sid_mix.size > 3 && sid_mix.bytes[0] == SID)) return;
    memcpy(sid, sid_mix.bytes + 1, SID);
    memcpy(payload, coded.bytes, sizeof payload);

    /* What the frames decode to, one at a time, on a fresh decoder. */
    for (f = 0; f < 3; ++f) CHECK_INT(g729a_decode(ref, coded.bytes + f * SPEECH, SPEECH, want + f * FRAME, FRAME), FRAME);

    for (tail = 1; tail <= 9; ++tail) {
        if (tail == SID) continue;
        g729a_decoder_reset(dec);
        memset(got, 0x5A, sizeof got);
        consumed = 12345;
        CHECK_INT(g729a_decode_payload(dec, payload, 3 * SPEECH + tail, got, 6 * FRAME, &consumed), G729A_EBADFRAME);
        if (!CHECK_INT(consumed, 3 * SPEECH)) fprintf(stderr, "  tail %lu\n", (unsigned long)tail);
        check_samples(got, want, 3 * FRAME, "frames before a bad tail");
        CHECK(untouched((const unsigned char *)(got + 3 * FRAME), 3 * FRAME * sizeof got[0], 0x5A));
        /* consumed is optional */
        g729a_decoder_reset(dec);
        CHECK_INT(g729a_decode_payload(dec, payload, 3 * SPEECH + tail, got, 6 * FRAME, NULL), G729A_EBADFRAME);
    }

    /* The decoder goes on from the frames it decoded before the bad tail. */
    g729a_decoder_reset(dec);
    CHECK_INT(g729a_decode_payload(dec, payload, 3 * SPEECH + 7, got, 6 * FRAME, &consumed), G729A_EBADFRAME);
    CHECK_INT(g729a_decode(ref, coded.bytes + 3 * SPEECH, SPEECH, want + 3 * FRAME, FRAME), FRAME);
    CHECK_INT(g729a_decode(dec, coded.bytes + 3 * SPEECH, SPEECH, got, FRAME), FRAME);
    check_samples(got, want + 3 * FRAME, FRAME, "frame after a refused tail");

    /* Speech frames ended by a SID frame. */
    g729a_decoder_reset(dec);
    g729a_decoder_reset(ref);
    memcpy(payload + 3 * SPEECH, sid, SID);
    for (f = 0; f < 3; ++f) g729a_decode(ref, coded.bytes + f * SPEECH, SPEECH, want + f * FRAME, FRAME);
    CHECK_INT(g729a_decode(ref, sid, SID, want + 3 * FRAME, FRAME), FRAME);
    CHECK_INT(g729a_decode_payload(dec, payload, 3 * SPEECH + SID, got, 6 * FRAME, &consumed), 4 * FRAME);
    CHECK_INT(consumed, 3 * SPEECH + SID);
    check_samples(got, want, 4 * FRAME, "speech frames and a SID frame");

    /* A payload that is only a SID frame; an empty one (NULL allowed). */
    g729a_decoder_reset(dec);
    CHECK_INT(g729a_decode_payload(dec, sid, SID, got, FRAME, &consumed), FRAME);
    CHECK_INT(consumed, SID);
    CHECK_INT(g729a_decode_payload(dec, payload, 0, got, 0, &consumed), 0);
    CHECK_INT(consumed, 0);
    CHECK_INT(g729a_decode_payload(dec, NULL, 0, got, FRAME, &consumed), 0);
    CHECK_INT(consumed, 0);

    /* Not enough room: the frames that fit are decoded, the rest is not. */
    g729a_decoder_reset(dec);
    memset(got, 0x5A, sizeof got);
    CHECK_INT(g729a_decode_payload(dec, coded.bytes, 3 * SPEECH, got, 3 * FRAME - 1, &consumed), G729A_ENOSPACE);
    CHECK_INT(consumed, 2 * SPEECH);
    check_samples(got, want, 2 * FRAME, "frames that fit");
    CHECK(untouched((const unsigned char *)(got + 2 * FRAME), 4 * FRAME * sizeof got[0], 0x5A));
    g729a_decoder_reset(dec);
    CHECK_INT(g729a_decode_payload(dec, coded.bytes, 3 * SPEECH, got, 3 * FRAME, &consumed), 3 * FRAME);
    CHECK_INT(consumed, 3 * SPEECH);

    g729a_decoder_destroy(ref);
    g729a_decoder_destroy(dec);
    release(&coded);
    release(&sid_mix);
}

/* ---- frame inspection ----------------------------------------------------- */

static void test_frame_inspect(void) {
    static const uint8_t speech[SPEECH] = {0x8f, 0x65, 0x7d, 0x4e, 0x3e, 0x0a, 0xf2, 0xba, 0xf1, 0x5e};
    static const uint8_t sid[SID] = {0xa5, 0xc3};
    static const size_t bad_lengths[] = {0, 1, 3, 9, 11};
    uint8_t flipped[SPEECH];
    g729a_frame_info info, sentinel;
    size_t i;

    memset(&info, 0x77, sizeof info);
    CHECK_INT(g729a_frame_inspect(speech, SPEECH, &info), G729A_OK);
    CHECK_INT(info.type, G729A_FRAME_SPEECH);
    CHECK_INT(info.lsp_predictor, 1); /* L0 and L1 are the 8-bit word 143 */
    CHECK_INT(info.lsp_first, 15);
    CHECK_INT(info.lsp_second_low, 12); /* L2 and L3 are the 10-bit word 405 */
    CHECK_INT(info.lsp_second_high, 21);
    CHECK_INT(info.pitch_index[0], 245);
    CHECK_INT(info.pitch_parity, 0);
    CHECK_INT(info.parity_error, 0);
    CHECK_INT(info.pitch_lag[0], 133); /* 245 - 112, a whole sample */
    CHECK_INT(info.pitch_fraction[0], 0);
    CHECK_INT(info.code_positions[0], 3646);
    CHECK_INT(info.code_signs[0], 0);
    CHECK_INT(info.gain_first[0], 5); /* GA1 and GB1 are the 7-bit word 87 */
    CHECK_INT(info.gain_second[0], 7);
    CHECK_INT(info.pitch_index[1], 18);
    CHECK_INT(info.pitch_lag[1], 133); /* 128 + (18 + 2) / 3 - 1, and a third */
    CHECK_INT(info.pitch_fraction[1], 1);
    CHECK_INT(info.code_positions[1], 5982);
    CHECK_INT(info.code_signs[1], 2);
    CHECK_INT(info.gain_first[1], 5); /* the word 94 */
    CHECK_INT(info.gain_second[1], 14);
    CHECK_INT(info.sid_predictor, 0);
    CHECK_INT(info.sid_lsf_first, 0);
    CHECK_INT(info.sid_lsf_second, 0);
    CHECK_INT(info.sid_energy, 0);

    /* The parity bit is the bit after P1. */
    memcpy(flipped, speech, SPEECH);
    flipped[3] ^= 0x20;
    CHECK_INT(g729a_frame_inspect(flipped, SPEECH, &info), G729A_OK);
    CHECK_INT(info.pitch_parity, 1);
    CHECK_INT(info.parity_error, 1);
    CHECK_INT(info.pitch_index[0], 245);

    memset(&info, 0x77, sizeof info);
    CHECK_INT(g729a_frame_inspect(sid, SID, &info), G729A_OK);
    CHECK_INT(info.type, G729A_FRAME_SID);
    CHECK_INT(info.sid_predictor, 1);
    CHECK_INT(info.sid_lsf_first, 9);
    CHECK_INT(info.sid_lsf_second, 7);
    CHECK_INT(info.sid_energy, 1);
    CHECK_INT(info.lsp_first, 0);
    CHECK_INT(info.pitch_index[0], 0);
    CHECK_INT(info.code_positions[1], 0);

    memset(&sentinel, 0x77, sizeof sentinel);
    memcpy(&info, &sentinel, sizeof info);
    CHECK_INT(g729a_frame_inspect(NULL, SPEECH, &info), G729A_EBADARG);
    CHECK_INT(g729a_frame_inspect(speech, SPEECH, NULL), G729A_EBADARG);
    for (i = 0; i < COUNT(bad_lengths); ++i) {
        CHECK_INT(g729a_frame_inspect(speech, bad_lengths[i], &info), G729A_EBADFRAME);
    }
    CHECK(memcmp(&info, &sentinel, sizeof info) == 0);
}

/* ---- reset ---------------------------------------------------------------- */

/* After reset, the output is that of a fresh instance: speech, and the
 * comfort noise whose generator a reset must also restart. */
static void test_reset(void) {
    blob raw = read_vector("speech_male_librivox.raw");
    blob coded = read_vector("speech_male_librivox.g729");
    blob sid_mix = read_vector("speech_sid_mix.pay");
    blob sid_mix_out = read_vector("speech_sid_mix.pay.raw");
    static union g729a_encoder_memory enc_area;
    static union g729a_decoder_memory dec_area;
    g729a_encoder *encoders[2];
    g729a_decoder *decoders[2];
    size_t count, want_count, n, k, f;
    int16_t *pcm = samples_of(raw, &count);
    int16_t *want = samples_of(sid_mix_out, &want_count);
    const size_t frames = 60;

    encoders[0] = g729a_encoder_create(NULL);
    encoders[1] = (g729a_encoder *)&enc_area;
    CHECK_INT(g729a_encoder_init(encoders[1], sizeof enc_area), G729A_OK);
    decoders[0] = g729a_decoder_create(NULL);
    decoders[1] = (g729a_decoder *)&dec_area;
    CHECK_INT(g729a_decoder_init(decoders[1], sizeof dec_area), G729A_OK);
    CHECK_INT(g729a_encoder_reset(NULL), G729A_EBADARG);
    CHECK_INT(g729a_decoder_reset(NULL), G729A_EBADARG);
    if (!CHECK(count >= frames * FRAME)) return;

    for (k = 0; k < 2; ++k) {
        int round;
        for (round = 0; round < 2; ++round) {
            uint8_t *out = encode_all(encoders[k], pcm, frames);
            check_bytes(out, coded.bytes, frames * SPEECH, round == 0 ? "fresh encoder" : "encoder after reset");
            free(out);
            CHECK_INT(g729a_encoder_reset(encoders[k]), G729A_OK);
        }
        for (round = 0; round < 2; ++round) {
            int16_t *got = decode_records(decoders[k], sid_mix, &n, "speech_sid_mix");
            CHECK_INT(n, want_count);
            check_samples(got, want, n < want_count ? n : want_count,
                          round == 0 ? "fresh decoder" : "decoder after reset");
            free(got);
            CHECK_INT(g729a_decoder_reset(decoders[k]), G729A_OK);
        }
        /* Reset in the middle of a stream, after a lost frame too. */
        for (f = 0; f < 7; ++f) {
            int16_t out[FRAME];
            g729a_decode(decoders[k], coded.bytes + f * SPEECH, SPEECH, out, FRAME);
            if (f == 6) g729a_decode(decoders[k], NULL, 0, out, FRAME);
        }
        CHECK_INT(g729a_decoder_reset(decoders[k]), G729A_OK);
        {
            int16_t *got = decode_records(decoders[k], sid_mix, &n, "speech_sid_mix");
            check_samples(got, want, n < want_count ? n : want_count, "decoder reset mid-stream");
            free(got);
        }
    }
    g729a_encoder_destroy(encoders[0]);
    g729a_decoder_destroy(decoders[0]);
    free(pcm);
    free(want);
    release(&raw);
    release(&coded);
    release(&sid_mix);
    release(&sid_mix_out);
}

/* ---- independence --------------------------------------------------------- */

/* Two encoders and two decoders used in turns, frame by frame, give what
 * each gives alone (the vectors were made one stream at a time). */
static void test_interleaved_instances(void) {
    blob raw_a = read_vector("speech_male_librivox.raw"), coded_a = read_vector("speech_male_librivox.g729");
    blob raw_b = read_vector("tone_1kHz.raw"), coded_b = read_vector("tone_1kHz.g729");
    blob out_a = read_vector("speech_male_librivox.g729.raw"), out_b = read_vector("tone_1kHz.g729.raw");
    size_t na, nb, wa, wb, f;
    int16_t *pcm_a = samples_of(raw_a, &na), *pcm_b = samples_of(raw_b, &nb);
    int16_t *want_a = samples_of(out_a, &wa), *want_b = samples_of(out_b, &wb);
    const size_t frames = (na < nb ? na : nb) / FRAME;
    static union g729a_encoder_memory placed;
    g729a_encoder *ea = g729a_encoder_create(NULL), *eb = (g729a_encoder *)&placed;
    g729a_decoder *da = g729a_decoder_create(NULL), *db = g729a_decoder_create(NULL);
    uint8_t *got_a = malloc(frames * SPEECH + 1), *got_b = malloc(frames * SPEECH + 1);
    int16_t *dec_a = malloc(frames * FRAME * sizeof *dec_a + 1), *dec_b = malloc(frames * FRAME * sizeof *dec_b + 1);

    CHECK_INT(g729a_encoder_init(eb, sizeof placed), G729A_OK);
    for (f = 0; f < frames; ++f) {
        CHECK_INT(g729a_encode(ea, pcm_a + f * FRAME, FRAME, got_a + f * SPEECH, SPEECH), SPEECH);
        CHECK_INT(g729a_encode(eb, pcm_b + f * FRAME, FRAME, got_b + f * SPEECH, SPEECH), SPEECH);
        CHECK_INT(g729a_decode(db, coded_b.bytes + f * SPEECH, SPEECH, dec_b + f * FRAME, FRAME), FRAME);
        CHECK_INT(g729a_decode(da, coded_a.bytes + f * SPEECH, SPEECH, dec_a + f * FRAME, FRAME), FRAME);
    }
    check_bytes(got_a, coded_a.bytes, frames * SPEECH, "interleaved encoder A");
    check_bytes(got_b, coded_b.bytes, frames * SPEECH, "interleaved encoder B");
    check_samples(dec_a, want_a, frames * FRAME, "interleaved decoder A");
    check_samples(dec_b, want_b, frames * FRAME, "interleaved decoder B");

    g729a_encoder_destroy(ea);
    g729a_decoder_destroy(da);
    g729a_decoder_destroy(db);
    free(got_a), free(got_b), free(dec_a), free(dec_b);
    free(pcm_a), free(pcm_b), free(want_a), free(want_b);
    release(&raw_a), release(&raw_b), release(&coded_a), release(&coded_b), release(&out_a), release(&out_b);
}

/* Only the *_create() functions allocate: coding, decoding, payloads,
 * inspection, reset and init do not. */
static void test_no_allocation_after_creation(void) {
#if CAN_FAIL_MALLOC
    blob raw = read_vector("speech_male_librivox.raw");
    blob coded = read_vector("speech_male_librivox.g729");
    size_t count, f, consumed;
    int16_t *pcm = samples_of(raw, &count);
    g729a_encoder *enc = g729a_encoder_create(NULL);
    g729a_decoder *dec = g729a_decoder_create(NULL);
    static union g729a_encoder_memory enc_area;
    static union g729a_decoder_memory dec_area;
    uint8_t frame[SPEECH];
    int16_t out[4 * FRAME];
    g729a_frame_info info;
    long before;
    if (!CHECK(count >= 100 * FRAME && coded.size >= 100 * SPEECH)) return;
    before = malloc_calls;
    for (f = 0; f < 100; ++f) {
        g729a_encode(enc, pcm + f * FRAME, FRAME, frame, SPEECH);
        g729a_decode(dec, frame, SPEECH, out, FRAME);
        g729a_decode(dec, NULL, 0, out, FRAME);
        g729a_decode_payload(dec, coded.bytes + f * SPEECH, 3 * SPEECH + 5, out, 4 * FRAME, &consumed);
        g729a_frame_inspect(frame, SPEECH, &info);
    }
    g729a_encoder_reset(enc);
    g729a_decoder_reset(dec);
    g729a_encoder_init((g729a_encoder *)&enc_area, sizeof enc_area);
    g729a_decoder_init((g729a_decoder *)&dec_area, sizeof dec_area);
    g729a_strerror(G729A_EBADARG);
    g729a_version();
    CHECK_INT(malloc_calls - before, 0);
    g729a_encoder_destroy(enc);
    g729a_decoder_destroy(dec);
    free(pcm);
    release(&raw);
    release(&coded);
#endif
}

/* ---- the reference vectors ------------------------------------------------ */

/* Encoder vectors: the input coded frame by frame gives the frames (on the
 * heap and in caller memory alike); the frames decoded as one payload give
 * the output. Returns the number of differing results. */
static int run_encoder_vector(const char *name, int placed) {
    char file[256];
    blob raw, coded, decoded;
    size_t count, want_count, consumed = 0;
    int16_t *pcm, *want, *got;
    uint8_t *frames;
    const int before = failures;
    union g729a_encoder_memory *enc_area = NULL;
    union g729a_decoder_memory *dec_area = NULL;
    g729a_encoder *enc;
    g729a_decoder *dec;

    if (placed) {
        enc_area = malloc(sizeof *enc_area);
        dec_area = malloc(sizeof *dec_area);
        enc = (g729a_encoder *)enc_area;
        dec = (g729a_decoder *)dec_area;
        CHECK_INT(g729a_encoder_init(enc, g729a_encoder_size()), G729A_OK);
        CHECK_INT(g729a_decoder_init(dec, g729a_decoder_size()), G729A_OK);
    } else {
        enc = g729a_encoder_create(NULL);
        dec = g729a_decoder_create(NULL);
    }
    snprintf(file, sizeof file, "%s.raw", name);
    raw = read_vector(file);
    snprintf(file, sizeof file, "%s.g729", name);
    coded = read_vector(file);
    snprintf(file, sizeof file, "%s.g729.raw", name);
    decoded = read_vector(file);
    pcm = samples_of(raw, &count);
    want = samples_of(decoded, &want_count);

    CHECK_INT(count % FRAME, 0);
    CHECK_INT(count / FRAME * SPEECH, coded.size);
    frames = encode_all(enc, pcm, count / FRAME);
    check_bytes(frames, coded.bytes, coded.size, name);

    got = malloc(want_count * sizeof *got + 1);
    CHECK_INT(g729a_decode_payload(dec, coded.bytes, coded.size, got, want_count, &consumed), (long)want_count);
    CHECK_INT(consumed, coded.size);
    check_samples(got, want, want_count, name);

    free(frames), free(got), free(pcm), free(want);
    release(&raw), release(&coded), release(&decoded);
    if (placed) {
        free(enc_area);
        free(dec_area);
    } else {
        g729a_encoder_destroy(enc);
        g729a_decoder_destroy(dec);
    }
    return failures - before;
}

static int run_decoder_vector(const char *name) {
    char file[256];
    blob records, decoded;
    size_t want_count, n;
    int16_t *want, *got;
    const int before = failures;
    g729a_decoder *dec = g729a_decoder_create(NULL);
    snprintf(file, sizeof file, "%s.pay", name);
    records = read_vector(file);
    snprintf(file, sizeof file, "%s.pay.raw", name);
    decoded = read_vector(file);
    want = samples_of(decoded, &want_count);
    got = decode_records(dec, records, &n, name);
    CHECK_INT(n, want_count);
    check_samples(got, want, n < want_count ? n : want_count, name);
    free(got), free(want);
    release(&records), release(&decoded);
    g729a_decoder_destroy(dec);
    return failures - before;
}

static void test_vectors(void) {
    size_t i;
    for (i = 0; i < COUNT(encoder_vectors); ++i) {
        const int heap = run_encoder_vector(encoder_vectors[i], 0);
        const int placed = run_encoder_vector(encoder_vectors[i], 1);
        printf("vector %-22s %s\n", encoder_vectors[i], heap == 0 && placed == 0 ? "ok" : "FAILED");
    }
    for (i = 0; i < COUNT(decoder_vectors); ++i) {
        printf("vector %-22s %s\n", decoder_vectors[i], run_decoder_vector(decoder_vectors[i]) == 0 ? "ok" : "FAILED");
    }
}

/* The same vectors on several threads at once. failures is only touched by
 * the main thread; each worker reports its own count. */
typedef struct {
    const char *name;
    size_t mismatches;
} thread_job;

static void *thread_main(void *arg) {
    thread_job *job = arg;
    char file[256];
    blob raw, coded;
    size_t count, f;
    int16_t *pcm;
    uint8_t frame[SPEECH];
    int16_t out[FRAME];
    g729a_encoder *enc = g729a_encoder_create(NULL);
    g729a_decoder *dec = g729a_decoder_create(NULL);
    int ok;
    snprintf(file, sizeof file, "%s.raw", job->name);
    ok = load_vector(file, &raw);
    snprintf(file, sizeof file, "%s.g729", job->name);
    ok = load_vector(file, &coded) && ok;
    pcm = samples_of(raw, &count);
    job->mismatches = ok && coded.size == count / FRAME * SPEECH ? 0 : 1;
    for (f = 0; f < count / FRAME && job->mismatches == 0; ++f) {
        if (g729a_encode(enc, pcm + f * FRAME, FRAME, frame, SPEECH) != SPEECH ||
            memcmp(frame, coded.bytes + f * SPEECH, SPEECH) != 0 ||
            g729a_decode(dec, frame, SPEECH, out, FRAME) != FRAME) {
            job->mismatches++;
        }
    }
    g729a_encoder_destroy(enc);
    g729a_decoder_destroy(dec);
    free(pcm);
    release(&raw);
    release(&coded);
    return NULL;
}

static void test_threads(void) {
    enum { THREADS = 4 };
    pthread_t threads[THREADS];
    thread_job jobs[THREADS];
    int i;
    for (i = 0; i < THREADS; ++i) {
        jobs[i].name = encoder_vectors[i % COUNT(encoder_vectors)];
        jobs[i].mismatches = 0;
        CHECK_INT(pthread_create(&threads[i], NULL, thread_main, &jobs[i]), 0);
    }
    for (i = 0; i < THREADS; ++i) {
        CHECK_INT(pthread_join(threads[i], NULL), 0);
        if (!CHECK_INT(jobs[i].mismatches, 0)) fprintf(stderr, "  thread on %s\n", jobs[i].name);
    }
}

int main(int argc, char **argv) {
    static const struct {
        const char *name;
        void (*run)(void);
    } tests[] = {
        {"version", test_version},
        {"strerror", test_strerror},
        {"create and destroy", test_create_and_destroy},
        {"init in caller memory", test_init_in_caller_memory},
        {"encode arguments", test_encode_arguments},
        {"silence suppression", test_dtx_setting},
        {"decode arguments", test_decode_arguments},
        {"lost frames", test_lost_frames},
        {"frame kind", test_frame_kind},
        {"payload frame length", test_payload_frame_length},
        {"payload walk", test_payload_walk},
        {"frame inspect", test_frame_inspect},
        {"reset", test_reset},
        {"interleaved instances", test_interleaved_instances},
        {"no allocation after creation", test_no_allocation_after_creation},
        {"reference vectors", test_vectors},
        {"threads", test_threads},
    };
    size_t i;
    if (argc != 2) {
        fprintf(stderr, "usage: %s VECTOR_DIR\n", argv[0]);
        return 2;
    }
    vector_dir = argv[1];
    printf("libg729a %s (header %s)\n", g729a_version(), G729A_VERSION_STRING);
    for (i = 0; i < COUNT(tests); ++i) {
        const int before = failures;
        tests[i].run();
        printf("%-30s %s\n", tests[i].name, failures == before ? "ok" : "FAILED");
    }
    if (failures != 0) {
        printf("%d checks failed\n", failures);
        return 1;
    }
    printf("all checks passed\n");
    return 0;
}
