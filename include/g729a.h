/*
 * g729a.h -- G.729 Annex A speech codec, with Annex B comfort noise on decode.
 *
 * The codec turns 10 ms of 16-bit linear PCM at 8000 Hz (80 samples) into one
 * 10-byte frame (8 kbit/s) and back. The decoder also accepts the 2-byte
 * silence-description (SID) frames that a G.729 Annex B sender transmits
 * during silence, and answers each with 80 samples of comfort noise. The
 * encoder codes every frame as speech unless silence suppression is turned
 * on (g729a_encoder_set_dtx()): then it sends SID frames and gaps in
 * silence.
 *
 * Every computation is specified to the last bit, so any two builds of this
 * library -- and any other implementation of the same arithmetic -- give
 * identical frames and identical samples.
 *
 * Usage
 * -----
 *
 *     #include <g729a.h>
 *
 *     int error;
 *     g729a_encoder *enc = g729a_encoder_create(&error);
 *     g729a_decoder *dec = g729a_decoder_create(&error);
 *     int16_t pcm[G729A_FRAME_SAMPLES], out[G729A_FRAME_SAMPLES];
 *     uint8_t frame[G729A_SPEECH_FRAME_BYTES];
 *
 *     while (read_80_samples(pcm)) {
 *         int bytes = g729a_encode(enc, pcm, G729A_FRAME_SAMPLES, frame, sizeof frame);
 *         int samples = g729a_decode(dec, frame, (size_t)bytes, out, G729A_FRAME_SAMPLES);
 *         ...
 *     }
 *     g729a_decoder_destroy(dec);
 *     g729a_encoder_destroy(enc);
 *
 * A caller that owns its memory (a media host handing each channel a
 * pre-sized area, say) places an instance there instead of on the heap:
 *
 *     static union g729a_decoder_memory area;      // or g729a_decoder_size() bytes
 *     g729a_decoder *dec = (g729a_decoder *)&area;
 *     g729a_decoder_init(dec, sizeof area);
 *
 * An RTP payload of G.729 carries several frames back to back, possibly
 * ended by one SID frame; g729a_decode_payload() walks it. A packet that was
 * lost is decoded with g729a_decode(dec, NULL, 0, out, 80).
 *
 * After each call the decoder can say what it produced: decoded speech,
 * comfort noise from a SID frame, comfort noise carried on through a gap, or
 * speech concealed for a lost frame (g729a_decoder_frame_kind()).
 *
 * Rules that hold throughout
 * --------------------------
 * - Instances are independent: any number of them may run in any threads,
 *   each used by one thread at a time. Every instance keeps all its state in
 *   its own memory, and the library allocates memory only in the *_create()
 *   functions.
 * - The library's one piece of global mutable state is its choice of
 *   kernels: on first use it picks, once for the whole process, the widest
 *   instruction set of this processor it has kernels for (AVX2 on x86-64,
 *   else the portable kernels); every choice gives the same bits. The
 *   environment variable G729A_INSTRUCTION_SET=portable, set before the
 *   first call, forces the portable kernels. The choice is made safely from
 *   any thread and never changes afterwards; nothing else is shared between
 *   instances.
 * - A call that fails returns a negative G729A_E* code, writes nothing and
 *   leaves the instance exactly as it was (the payload walk is the one
 *   exception, and says so).
 * - Samples are native-endian int16_t; frames are bytes as they travel in RTP.
 *
 * What may change between versions
 * --------------------------------
 * Within major version 1 (soname libg729a.so.1) a program built against an
 * older header keeps working with a newer library:
 * - no function disappears or changes its arguments or meaning;
 * - the encoder's frames and the samples decoded from frames that arrived
 *   stay bit for bit as they are; the samples that fill a frame that did not
 *   arrive (concealment, comfort noise carried on) may improve;
 * - g729a_encoder_size() and g729a_decoder_size() may grow, but never beyond
 *   G729A_ENCODER_SIZE_MAX and G729A_DECODER_SIZE_MAX, which hold for every
 *   1.x release: memory sized with them (or with the g729a_*_memory unions)
 *   stays large enough;
 * - functions, error codes and frame kinds may be added; a caller should
 *   treat an unknown negative code as a failure (g729a_strerror() names it
 *   "unknown error") and an unknown frame kind as decoded output;
 * - the texts of g729a_strerror() and g729a_version_line() may change;
 * - the layout of g729a_frame_info stays as it is.
 */
#ifndef G729A_H
#define G729A_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32) && defined(G729A_BUILDING_SHARED)
#define G729A_API __declspec(dllexport)
#elif defined(__GNUC__)
#define G729A_API __attribute__((visibility("default")))
#else
#define G729A_API
#endif

/* The library's version. g729a_version() gives the version of the library
 * actually linked, which may be newer than the header's. */
#define G729A_VERSION_MAJOR 1
#define G729A_VERSION_MINOR 0
#define G729A_VERSION_PATCH 0
#define G729A_VERSION_STRING "1.0.0"

/* Sizes of the things the codec works on. */
#define G729A_SAMPLE_RATE 8000      /* samples per second */
#define G729A_FRAME_SAMPLES 80      /* samples in one 10 ms frame */
#define G729A_SPEECH_FRAME_BYTES 10 /* one speech frame */
#define G729A_SID_FRAME_BYTES 2     /* one silence-description frame */
#define G729A_ENCODER_DELAY 40      /* samples of encoder look-ahead: decoded output lags the input by this */

/* Error codes: every failing call returns one of these (all negative). */
#define G729A_OK 0
#define G729A_EBADARG (-1)   /* NULL handle or buffer, a sample count that is not 80, instance memory too small */
#define G729A_EBADFRAME (-2) /* a length that is not a frame, or a payload that cannot be split into frames */
#define G729A_ENOSPACE (-3)  /* the output buffer has too little room for what the call would write */
#define G729A_ENOMEM (-4)    /* an allocation in a *_create() function failed */

/* Compile-time upper bounds of g729a_encoder_size() and g729a_decoder_size(),
 * for callers that size instance memory statically. The library checks at
 * build time that its instances fit. */
#define G729A_ENCODER_SIZE_MAX 7168
#define G729A_DECODER_SIZE_MAX 8192

/* Opaque instances. */
typedef struct g729a_encoder g729a_encoder;
typedef struct g729a_decoder g729a_decoder;

/* Memory suitably sized and aligned for one instance, for static or
 * automatic placement with g729a_encoder_init() / g729a_decoder_init(). */
union g729a_encoder_memory {
    unsigned char bytes[G729A_ENCODER_SIZE_MAX];
    double align_double;
    void *align_pointer;
};
union g729a_decoder_memory {
    unsigned char bytes[G729A_DECODER_SIZE_MAX];
    double align_double;
    void *align_pointer;
};

/* ---- Library ------------------------------------------------------------ */

/* The library's version, "MAJOR.MINOR.PATCH". Never NULL. */
G729A_API const char *g729a_version(void);

/* A one-line description of the library linked: its version and the kernels
 * it chose for this processor, ending in a newline, such as
 * "libg729a 1.0.0 (avx2 kernels)\n". Making the line makes the kernel choice
 * if no call has made it yet. Never NULL. */
G729A_API const char *g729a_version_line(void);

/* A short English description of an error code ("bad argument", ...); an
 * unknown code gives "unknown error". Never NULL. */
G729A_API const char *g729a_strerror(int error);

/* ---- Encoder ------------------------------------------------------------ */

/* Bytes of memory one encoder needs (at most G729A_ENCODER_SIZE_MAX). */
G729A_API size_t g729a_encoder_size(void);

/* Sets up an encoder in caller-owned memory of `size` bytes, aligned at least
 * as malloc() aligns. The memory needs no release other than the caller's own.
 * Returns G729A_OK, or G729A_EBADARG for a NULL pointer, a size below
 * g729a_encoder_size() or misaligned memory (nothing is written then). */
G729A_API int g729a_encoder_init(g729a_encoder *encoder, size_t size);

/* Allocates and sets up an encoder. Returns NULL on failure, with *error (if
 * error is not NULL) set to G729A_ENOMEM; on success *error is G729A_OK. */
G729A_API g729a_encoder *g729a_encoder_create(int *error);

/* Frees an encoder made by g729a_encoder_create(). NULL is ignored. Never call
 * it on memory given to g729a_encoder_init(). */
G729A_API void g729a_encoder_destroy(g729a_encoder *encoder);

/* Returns the encoder to its state just after init: the next frames code
 * exactly as a fresh encoder's would. The silence-suppression setting is
 * kept (it is the caller's configuration, not coding state).
 * G729A_OK, or G729A_EBADARG for NULL. */
G729A_API int g729a_encoder_reset(g729a_encoder *encoder);

/* Silence suppression (discontinuous transmission), off by default: with
 * `enable` non-zero the encoder detects speech frame by frame, and in the
 * pauses describes the background noise in 2-byte SID frames, sent when the
 * noise changes (and always first after speech), or sends nothing at all.
 * With 0 every frame is coded as speech again. The setting survives
 * g729a_encoder_reset(). G729A_OK, or G729A_EBADARG for NULL. */
G729A_API int g729a_encoder_set_dtx(g729a_encoder *encoder, int enable);

/* Codes one frame: `samples` must be G729A_FRAME_SAMPLES, `capacity` at least
 * G729A_SPEECH_FRAME_BYTES. Writes one 10-byte speech frame to `frame` and
 * returns 10. With silence suppression on it returns 10 (a speech frame),
 * 2 (a SID frame) or 0: nothing is to be transmitted for this frame, and the
 * receiver treats the gap as an untransmitted frame, decoding it with
 * g729a_decode(dec, NULL, 0, ...) (the comfort noise goes on). The encoder
 * delays its input by G729A_ENCODER_DELAY samples (5 ms) of look-ahead.
 * Errors: G729A_EBADARG (NULL pointer, another sample count), G729A_ENOSPACE
 * (capacity below 10, also with silence suppression on, since the caller
 * cannot know beforehand which frame comes); the encoder is then left
 * untouched and nothing is written. */
G729A_API int g729a_encode(g729a_encoder *encoder, const int16_t *pcm, size_t samples, uint8_t *frame,
                           size_t capacity);

/* ---- Decoder ------------------------------------------------------------ */

/* Bytes of memory one decoder needs (at most G729A_DECODER_SIZE_MAX). */
G729A_API size_t g729a_decoder_size(void);

/* Sets up a decoder in caller-owned memory, as g729a_encoder_init() does. */
G729A_API int g729a_decoder_init(g729a_decoder *decoder, size_t size);

/* Allocates and sets up a decoder, as g729a_encoder_create() does. */
G729A_API g729a_decoder *g729a_decoder_create(int *error);

/* Frees a decoder made by g729a_decoder_create(). NULL is ignored. */
G729A_API void g729a_decoder_destroy(g729a_decoder *decoder);

/* Returns the decoder to its state just after init. G729A_OK or G729A_EBADARG. */
G729A_API int g729a_decoder_reset(g729a_decoder *decoder);

/* Decodes one frame into G729A_FRAME_SAMPLES samples and returns 80.
 * - length 10: a speech frame; length 2: a SID frame (comfort noise);
 * - length 0 (frame may be NULL): a frame that did not arrive (a lost packet,
 *   or a frame the sender did not transmit during silence): the decoder fills
 *   the gap from what it has already decoded, and the stream stays on time.
 *   After a SID frame the comfort noise goes on at that frame's level; after
 *   speech the lost frame is concealed (pitch and spectrum carried on,
 *   fading to silence over about 200 ms of consecutive losses), and the
 *   next frame that arrives decodes without a burst. Deterministic: two
 *   decoders fed the same calls give the same samples.
 * `capacity` is the room in `pcm`, in samples (at least 80).
 * Errors: G729A_EBADARG (NULL decoder or pcm, NULL frame with a positive
 * length), G729A_ENOSPACE (capacity below 80), G729A_EBADFRAME (any other
 * length); the decoder is then left untouched and nothing is written. */
G729A_API int g729a_decode(g729a_decoder *decoder, const uint8_t *frame, size_t length, int16_t *pcm,
                           size_t capacity);

/* Decodes an RTP payload: 10-byte speech frames back to back, optionally
 * ended by one 2-byte SID frame; 80 samples per frame go to `pcm`, which has
 * room for `capacity` samples. An empty payload decodes to nothing.
 * Returns the number of samples written (a multiple of 80), or:
 * - G729A_EBADARG: NULL decoder, NULL payload with a positive length, NULL
 *   pcm; nothing is decoded;
 * - G729A_EBADFRAME: a remainder of 1 or 3 to 9 bytes ends the payload;
 * - G729A_ENOSPACE: the next frame would not fit in `pcm`.
 * On G729A_EBADFRAME and G729A_ENOSPACE the frames before the fault HAVE been
 * decoded (they are all 10-byte frames): their samples are in `pcm`, and
 * *consumed, when consumed is not NULL, says how many payload bytes they took
 * (so consumed / 10 * 80 samples were written). On success *consumed is the
 * payload length. */
G729A_API int g729a_decode_payload(g729a_decoder *decoder, const uint8_t *payload, size_t length, int16_t *pcm,
                                   size_t capacity, size_t *consumed);

/* The length of the frame at the start of a payload of which `remaining`
 * bytes are left: 10 while at least 10 remain, 2 when exactly 2 remain (a
 * final SID frame), 0 when none remain, and G729A_EBADFRAME for 1 or 3 to 9.
 * g729a_decode_payload() walks a payload with it; so can a reader that only
 * needs to split one into frames. */
G729A_API int g729a_payload_frame_length(size_t remaining);

/* What the decoder produced for the last frame it decoded: */
#define G729A_FRAME_NONE 0          /* nothing since init or reset */
#define G729A_FRAME_SPEECH 1        /* a speech frame, decoded */
#define G729A_FRAME_SID 2           /* a SID frame, decoded into comfort noise */
#define G729A_FRAME_COMFORT_NOISE 3 /* no frame arrived, and the comfort noise went on */
#define G729A_FRAME_CONCEALED 4     /* no frame arrived, and speech was concealed */

/* One of the G729A_FRAME_* kinds above, for the last frame decoded by
 * g729a_decode() or g729a_decode_payload() (the last frame of the payload,
 * or of its part decoded before a fault); a call that decodes nothing leaves
 * it as it was. G729A_EBADARG for a NULL decoder. Costs nothing: call it
 * after every frame to count concealed frames, say. */
G729A_API int g729a_decoder_frame_kind(const g729a_decoder *decoder);

/* ---- Many channels at once ---------------------------------------------- */

/* A server transcoding many calls advances all of its channels every 10 ms.
 * These calls take one frame for each of `count` channels (entry i of every
 * array belongs to channel i) and give each channel exactly what its own
 * g729a_encode() / g729a_decode() call would: the same bits, the same state
 * afterwards, for any mix of frame kinds across the channels. They are
 * faster per channel than the single calls, because the filter recursions
 * whose every step waits for the one before run for several channels at
 * once, one channel per vector lane.
 *
 * Every channel stands on its own: a channel with bad arguments is refused
 * as its single call would refuse it (its instance untouched, nothing
 * written to its output) and the others go ahead. The arrays are read in
 * order: an instance named twice is advanced twice, first for the earlier
 * entry. No channel's output may overlap another channel's input or output.
 * The calls work on the stack (under 40 KB, where the single calls take up
 * to 35 KB) and allocate nothing.
 *
 * `results`, when not NULL, has room for `count` ints and receives each
 * channel's result as the single call would return it: the bytes written
 * (encode: 10, or 2 or 0 with silence suppression on) or 80 (decode) for a
 * channel done, a negative G729A_E* code for one refused.
 * Returns G729A_OK when every channel was done, G729A_EBADARG when one of
 * the arrays (other than results) is NULL and count is not 0 (nothing is
 * done then, and results is not written), and otherwise the code of the
 * first refused channel. */

/* Codes one frame of `count` channels: encoders[i] codes the
 * G729A_FRAME_SAMPLES samples at pcm[i] into frames[i], which has room for
 * G729A_SPEECH_FRAME_BYTES bytes, as g729a_encode() does (an encoder with
 * silence suppression on may write a SID frame or nothing; such encoders
 * are coded one by one). A channel with a NULL encoder, pcm or frame
 * pointer is refused with G729A_EBADARG. */
G729A_API int g729a_encode_many(g729a_encoder *const *encoders, const int16_t *const *pcm, uint8_t *const *frames,
                                size_t count, int *results);

/* Decodes one frame of `count` channels: decoders[i] decodes the frame of
 * lengths[i] bytes at frames[i] into the G729A_FRAME_SAMPLES samples at
 * pcm[i], as g729a_decode() with capacity 80 does: length 10 speech, 2 SID,
 * 0 a frame that did not arrive (frames[i] may then be NULL). A NULL decoder
 * or pcm pointer, or a NULL frame with a positive length, is refused with
 * G729A_EBADARG; any other length with G729A_EBADFRAME. */
G729A_API int g729a_decode_many(g729a_decoder *const *decoders, const uint8_t *const *frames, const size_t *lengths,
                                int16_t *const *pcm, size_t count, int *results);

/* ---- Frame inspection --------------------------------------------------- */

/* The coded parameters of one frame, as the bits carry them. */
typedef struct g729a_frame_info {
    int type; /* G729A_FRAME_SPEECH or G729A_FRAME_SID */

    /* Speech frames. */
    int lsp_predictor;      /* L0: MA predictor switch, 1 bit */
    int lsp_first;          /* L1: first-stage LSP index, 7 bits */
    int lsp_second_low;     /* L2: second-stage index, lower half, 5 bits */
    int lsp_second_high;    /* L3: second-stage index, upper half, 5 bits */
    int pitch_index[2];     /* P1 (8 bits, absolute), P2 (5 bits, relative to subframe 1) */
    int pitch_parity;       /* P0: parity bit of P1 as received */
    int parity_error;       /* 1 when P0 does not match P1 (the decoder then reuses the last lag) */
    int pitch_lag[2];       /* integer part of each subframe's pitch lag, in samples */
    int pitch_fraction[2];  /* fractional part: -1, 0 or 1 thirds of a sample */
    int code_positions[2];  /* C1, C2: fixed-codebook pulse positions, 13 bits */
    int code_signs[2];      /* S1, S2: pulse signs, 4 bits */
    int gain_first[2];      /* GA1, GA2: first-stage gain index, 3 bits */
    int gain_second[2];     /* GB1, GB2: second-stage gain index, 4 bits */

    /* SID frames. */
    int sid_predictor;      /* predictor switch, 1 bit */
    int sid_lsf_first;      /* first-stage LSF index, 5 bits */
    int sid_lsf_second;     /* second-stage LSF index, 4 bits */
    int sid_energy;         /* energy index, 5 bits */
} g729a_frame_info;

/* Reads the parameters of one frame (10 bytes speech, 2 bytes SID) without
 * decoding it. Fields of the other frame type are 0. The pitch lags of a
 * frame with a parity error are given as the bits say.
 * Returns G729A_OK, G729A_EBADARG (NULL pointer) or G729A_EBADFRAME (length). */
G729A_API int g729a_frame_inspect(const uint8_t *frame, size_t length, g729a_frame_info *info);

#ifdef __cplusplus
}
#endif

#endif /* G729A_H */
