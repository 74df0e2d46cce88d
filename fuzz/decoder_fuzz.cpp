// The decoder through its public API, over a sequence of payloads, frames
// and lost frames of any length, on one decoder kept from call to call.
//
// Input: records of one control byte and its data. The control byte's top
// two bits choose the call, the low six give a length n:
//   0  g729a_decode_payload() over the next n bytes, room to spare;
//   1  g729a_decode_payload() over the next n bytes with the room (in
//      samples) given by the byte before them;
//   2  g729a_decode() of one frame of n & 31 bytes; with n & 32 the frame
//      pointer is NULL (a lost frame whatever the length);
//   3  n % 4: reset; g729a_decode() with too little room (n samples);
//      g729a_decode_payload() of NULL with a length; an empty payload.
//
// Two decoders, one placed in caller memory and one from
// g729a_decoder_create(), take every call; their output buffers are
// pre-filled with different patterns. Every call must return exactly what
// the payload rules say, the samples it reports must be equal in both (so
// each was written, and decoding is deterministic), nothing past them may
// change, the decoder's state must stay finite, and the frame kind each
// decoder reports must be what the calls so far make it.
#include <cstdint>
#include <cstring>

#include "codec/decoder/decoder_object.h"
#include "fuzz/fuzz_input.h"
#include "g729a.h"

namespace {

using g729_fuzz::finite;

constexpr size_t kRoom = 1024; // samples per output buffer
constexpr int16_t kPatternA = 0x5A5A;
constexpr int16_t kPatternB = int16_t(0xA5A5);

// The handle is the decoder object: the library's instance record holds
// nothing else.
bool state_is_finite(const g729a_decoder* handle) {
    const auto& d = *reinterpret_cast<const g729::decoder_object*>(handle);
    const g729::decoder_state& s = d.decoder_state;
    const g729::comfort_noise_state& n = d.comfort_noise_state;
    const g729::postfilter_state& p = d.postfilter_state;
    const g729::pole_zero_memory& m = d.postprocess_memory;
    return finite(s.excitation_buffer) && finite(s.previous_quantized_lsp) && finite(s.synthesis_filter_memory) &&
           finite(s.pitch_sharpening_factor) && finite(s.lsf_predictor_memory) && finite(s.energy_history) &&
           finite(s.last_pitch_gain) && finite(s.last_code_gain) &&
           finite(n.current_noise_gain) && finite(n.sid_gain) && finite(n.sid_lsp) && finite(p.residual_history) &&
           finite(p.postfilter_synthesis_memory) && finite(p.tilt_memory) && finite(p.agc_gain) && finite(m.x1) &&
           finite(m.x2) && finite(m.y1) && finite(m.y2) && finite(d.synthesis_buffer);
}

// What g729a_decode_payload() must answer, walked independently.
struct payload_outcome {
    int result;
    size_t consumed;
    size_t written;
};

payload_outcome expected_payload(size_t length, size_t capacity) {
    size_t offset = 0, written = 0;
    while (offset < length) {
        const size_t rest = length - offset;
        const size_t next = rest >= 10 ? 10 : rest == 2 ? 2 : 0;
        if (next == 0) return {G729A_EBADFRAME, offset, written};
        if (capacity - written < 80) return {G729A_ENOSPACE, offset, written};
        written += 80;
        offset += next;
    }
    return {int(written), length, written};
}

struct pair_of_decoders {
    g729a_decoder_memory memory;
    g729a_decoder* a = nullptr;
    g729a_decoder* b = nullptr;
    int16_t out_a[kRoom];
    int16_t out_b[kRoom];
    // The frame kind both must report, and whether the last frame that
    // arrived was a SID frame (a missing frame then carries comfort noise on).
    int kind = G729A_FRAME_NONE;
    bool after_sid = false;

    pair_of_decoders() {
        a = reinterpret_cast<g729a_decoder*>(&memory);
        FUZZ_CHECK(g729a_decoder_init(a, sizeof memory) == G729A_OK);
        int error = -99;
        b = g729a_decoder_create(&error);
        FUZZ_CHECK(b != nullptr && error == G729A_OK);
    }
    ~pair_of_decoders() { g729a_decoder_destroy(b); }

    void fill() {
        for (size_t i = 0; i < kRoom; ++i) {
            out_a[i] = kPatternA;
            out_b[i] = kPatternB;
        }
    }
    // The first `written` samples agree, the rest still hold the patterns.
    void check_output(size_t written) const {
        FUZZ_CHECK(written <= kRoom);
        FUZZ_CHECK(std::memcmp(out_a, out_b, written * sizeof(int16_t)) == 0);
        for (size_t i = written; i < kRoom; ++i) FUZZ_CHECK(out_a[i] == kPatternA && out_b[i] == kPatternB);
        FUZZ_CHECK(state_is_finite(a));
        FUZZ_CHECK(state_is_finite(b));
        check_kind();
    }
    void check_kind() const {
        FUZZ_CHECK(g729a_decoder_frame_kind(a) == kind && g729a_decoder_frame_kind(b) == kind);
    }
    void arrived(bool sid) {
        kind = sid ? G729A_FRAME_SID : G729A_FRAME_SPEECH;
        after_sid = sid;
    }

    void payload(const uint8_t* bytes, size_t length, size_t capacity) {
        fill();
        size_t consumed_a = 12345, consumed_b = 54321;
        const int ra = g729a_decode_payload(a, bytes, length, out_a, capacity, &consumed_a);
        const int rb = g729a_decode_payload(b, bytes, length, out_b, capacity, &consumed_b);
        const payload_outcome want = expected_payload(length, capacity);
        FUZZ_CHECK(ra == want.result && rb == want.result);
        FUZZ_CHECK(consumed_a == want.consumed && consumed_b == want.consumed);
        // The kind is the last decoded frame's; a payload whose first frame
        // was refused leaves it alone.
        if (want.consumed > 0) arrived(want.consumed % 10 == 2);
        check_output(want.written);
    }

    void frame(const uint8_t* bytes, size_t length) {
        fill();
        const int ra = g729a_decode(a, bytes, length, out_a, 80);
        const int rb = g729a_decode(b, bytes, length, out_b, 80);
        // Length 0 is a frame that did not arrive, with or without a
        // pointer; no pointer behind a positive length is a bad argument.
        const int want = length == 0                       ? 80
                         : bytes == nullptr                  ? G729A_EBADARG
                         : length == 2 || length == 10       ? 80
                                                             : G729A_EBADFRAME;
        FUZZ_CHECK(ra == want && rb == ra);
        if (want == 80 && length == 0) {
            kind = after_sid ? G729A_FRAME_COMFORT_NOISE : G729A_FRAME_CONCEALED;
        } else if (want == 80) {
            arrived(length == 2);
        }
        check_output(want == 80 ? 80 : 0);
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    g729_fuzz::input_reader in(data, size);
    pair_of_decoders d;
    while (!in.empty()) {
        const uint8_t control = in.byte();
        const int kind = control >> 6;
        const size_t n = control & 63;
        size_t taken = 0;
        switch (kind) {
        case 0: {
            const uint8_t* bytes = in.bytes(n, &taken);
            d.payload(bytes, taken, kRoom);
            break;
        }
        case 1: {
            const size_t capacity = in.byte();
            const uint8_t* bytes = in.bytes(n, &taken);
            d.payload(bytes, taken, capacity);
            break;
        }
        case 2: {
            if (n & 32) {
                d.frame(nullptr, n & 31);
            } else {
                const uint8_t* bytes = in.bytes(n & 31, &taken);
                d.frame(bytes, taken);
            }
            break;
        }
        default:
            switch (n % 4) {
            case 0:
                FUZZ_CHECK(g729a_decoder_reset(d.a) == G729A_OK && g729a_decoder_reset(d.b) == G729A_OK);
                d.kind = G729A_FRAME_NONE;
                d.after_sid = false;
                d.check_kind();
                break;
            case 1: {
                // Too little room: refused, nothing written, state untouched
                // (the two decoders stay in step because both are refused).
                d.fill();
                const size_t room = n / 4 % 80;
                const uint8_t frame[10] = {};
                FUZZ_CHECK(g729a_decode(d.a, frame, 10, d.out_a, room) == G729A_ENOSPACE);
                FUZZ_CHECK(g729a_decode(d.b, nullptr, 0, d.out_b, room) == G729A_ENOSPACE);
                d.check_output(0);
                break;
            }
            case 2: {
                d.fill();
                size_t consumed = 1;
                FUZZ_CHECK(g729a_decode_payload(d.a, nullptr, n, d.out_a, kRoom, &consumed) == G729A_EBADARG);
                FUZZ_CHECK(consumed == 0);
                FUZZ_CHECK(g729a_decode_payload(d.b, nullptr, n + 1, d.out_b, kRoom, nullptr) == G729A_EBADARG);
                d.check_output(0);
                break;
            }
            default:
                d.payload(nullptr, 0, n);
                break;
            }
            break;
        }
    }
    return 0;
}
