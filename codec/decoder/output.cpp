// The decoder's output stage. Every frame ends here: rounding to 16 bits and
// the restart of signal memories that a hostile stream drove out of range
// (round_and_check). SID and concealed frames also take their post-filter and
// output high-pass here (output_frame); a speech frame runs those two inside
// its synthesis, interleaved with it, in decoder.cpp (decode_speech_to_output
// and decode_speech_channels), and joins at round_and_check.
#include "codec/decoder/output.h"

#include <cmath>

#include "codec/decoder/postfilter.h"
#include "codec/dsp/filters.h"
#include "codec/dsp/simd.h"

namespace g729 {

namespace {

// The largest magnitude any of the decoder's signal memories reaches on
// legitimate input is about 7e4 (a full-scale square wave) and 3e5 on long
// random streams of well-formed frames. Frames with pitch gains above 1 at
// short lags make them grow without bound, 1e6 within a few frames: past
// this bound the memories hold nothing but the runaway, and only a restart
// lets the speech that follows be heard again.
constexpr double kSignalMemoryBound = 1e6;

// True when every value lies within the bound, eight at a time with no
// branch per value: |x| <= bound is false for infinities and NaN as well as
// for values beyond it, so one comparison mask per value says it all, and
// the masks are combined with &.
bool within_bound(const double* v, int n) {
    using simd::lanes2;
    using simd::masks2;
    const lanes2 bound = simd::splat2(kSignalMemoryBound);
    masks2 within0 = simd::splat2(0.0) == simd::splat2(0.0), within1 = within0, within2 = within0, within3 = within0;
    int i = 0;
    for (; i + 8 <= n; i += 8) {
        const lanes2 x0 = simd::load<lanes2>(v + i), x1 = simd::load<lanes2>(v + i + 2);
        const lanes2 x2 = simd::load<lanes2>(v + i + 4), x3 = simd::load<lanes2>(v + i + 6);
        within0 &= (x0 < 0.0 ? -x0 : x0) <= bound;
        within1 &= (x1 < 0.0 ? -x1 : x1) <= bound;
        within2 &= (x2 < 0.0 ? -x2 : x2) <= bound;
        within3 &= (x3 < 0.0 ? -x3 : x3) <= bound;
    }
    const masks2 within = within0 & within1 & within2 & within3;
    bool all = within[0] != 0 && within[1] != 0;
    for (; i < n; ++i) all = all && (v[i] < 0.0 ? -v[i] : v[i]) <= kSignalMemoryBound;
    return all;
}

bool signal_memories_sound(const decoder_object& decoder) {
    const decoder_state& core = decoder.decoder_state;
    const postfilter_state& post = decoder.postfilter_state;
    const pole_zero_memory& high_pass = decoder.postprocess_memory;
    const double high_pass_values[] = {high_pass.x1, high_pass.x2, high_pass.y1, high_pass.y2};
    const double post_values[] = {post.tilt_memory, post.agc_gain};
    return within_bound(core.excitation_buffer, kExcitationHistory) &&
           within_bound(core.synthesis_filter_memory.data(), kOrder) &&
           within_bound(post.residual_history, kResidualHistory) &&
           within_bound(post.postfilter_synthesis_memory.data(), kOrder) && within_bound(post_values, 2) &&
           within_bound(high_pass_values, 4) && within_bound(decoder.synthesis_buffer, kSynthesisHistory);
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

int16_t to_pcm_sample(double x) {
    // NaN and infinities have no integer value; converting them is undefined.
    if (!std::isfinite(x)) return 0;
    const double r = x >= 0.0 ? x + 0.5 : x - 0.5;
    if (r > 32767.0) return 32767;
    if (r < -32768.0) return -32768;
    return int16_t(r);
}

void round_to_pcm(const double* x, int16_t* out, int n) {
    // to_pcm_sample eight at a time without a branch per sample: the same
    // rounding, saturation and zero for values that are not finite (x - x
    // is NaN for them, so the comparison with 0 is false). The rounded and
    // saturated values are whole numbers within 16 bits, so converting them
    // to int and narrowing (vector instructions) gives what the cast of each
    // gives.
    using simd::lanes2;
    using simd::masks2;
    typedef int ints2 __attribute__((vector_size(8)));
    const lanes2 half = simd::splat2(0.5), zero = simd::splat2(0.0);
    const lanes2 top = simd::splat2(32767.0), bottom = simd::splat2(-32768.0);
    int i = 0;
    for (; i + 8 <= n; i += 8) {
        int16_t rounded[8];
#pragma GCC unroll 4
        for (int j = 0; j < 8; j += 2) {
            const lanes2 v = simd::load<lanes2>(x + i + j);
            const masks2 finite = (v - v) == zero;
            const masks2 positive = v >= zero;
            const lanes2 up = v + half, down = v - half;
            lanes2 r = positive ? up : down;
            r = r > top ? top : r;
            r = r < bottom ? bottom : r;
            r = finite ? r : zero;
            const ints2 whole = __builtin_convertvector(r, ints2);
            rounded[j] = int16_t(whole[0]);
            rounded[j + 1] = int16_t(whole[1]);
        }
        __builtin_memcpy(out + i, rounded, sizeof rounded);
    }
    for (; i < n; ++i) out[i] = to_pcm_sample(x[i]);
}

// The chain after the synthesis of a SID or concealed frame: post-filter,
// output high-pass, then round_and_check. A speech frame gets the same
// post-filter and high-pass from decode_speech_to_output, interleaved with
// its synthesis.
void output_frame(decoder_object& decoder, const lp_filter_pair& filters, const pitch_lags& lags, frame_type type,
                  int16_t* out) {
    double* speech = decoder.synthesis_buffer + kSynthesisHistory;
    postfilter_frame(decoder.postfilter_state, decoder.synthesis_buffer, filters, lags, type);
    postprocess_filter(decoder.postprocess_memory, speech, kFrame);
    round_and_check(decoder, out);
}

void round_and_check(decoder_object& decoder, int16_t* out) {
    round_to_pcm(decoder.synthesis_buffer + kSynthesisHistory, out, kFrame);
    // A corrupted or hostile stream that drove the memories out of range
    // would otherwise be heard for seconds after it ends (or for the rest of
    // the call once a value overflows): such memories start afresh.
    if (!signal_memories_sound(decoder)) reset_signal_memories(decoder);
}

} // namespace g729
