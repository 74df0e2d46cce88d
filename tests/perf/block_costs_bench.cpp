// What each block of the codec costs in one 10 ms frame, on real speech, so
// that whoever works on speed next sees where the time goes. Every block is
// timed on its own, on the inputs it had while the codec coded (or decoded)
// the speech sample; a block that runs once per subframe is timed for both
// subframes of a frame. The closing table gives microseconds and cycles per
// frame (the clock is measured in the same run) and each block's share of
// the whole encoder or decoder frame, timed in the same run as well.
//
// The inputs are recorded by replaying the encoder's and decoder's stages
// in the order the codec runs them; the replay only has to be realistic, the
// reference vectors prove the codec itself.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench/cpu_clock.h"
#include "codec/decoder/decoder_object.h"
#include "codec/dsp/filters.h"
#include "codec/dsp/gain.h"
#include "codec/dsp/interpolation.h"
#include "codec/dsp/lsp.h"
#include "codec/dsp/lsp_codebook.h"
#include "codec/encoder/correlation.h"
#include "codec/encoder/encoder.h"
#include "codec/encoder/fixed_codebook.h"
#include "codec/encoder/gain_quantizer.h"
#include "codec/encoder/lp_analysis.h"
#include "codec/encoder/lsp_quantizer.h"
#include "codec/encoder/pitch.h"
#include "codec/encoder/preprocess.h"
#include "tests/decoder/staged_decoder.h"

namespace g729 {
namespace {

std::vector<uint8_t> read_vector(const std::string& name) {
    std::ifstream in(std::string(G729A_TEST_DATA) + "/vectors/" + name, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// What one subframe of the encoder worked on.
struct encoder_subframe {
    double excitation[kExcitationBuffer]; // before the pitch search of this subframe
    double xn[kSubframe];
    double h[kSubframe];
    int t0_min, t0_max, t0, frac;
    double adaptive[kSubframe]; // the adaptive-codebook vector the search chose
    double xn2[kSubframe];
    double beta;
    gain_correlations correlations;
    double code[kSubframe];
    int taming;
    energy_memory energy;
};

struct encoder_frame {
    double raw[kFrame];
    pole_zero_memory preprocess;
    double speech[kSpeechBuffer]; // after pre-processing
    lp_coefficients a;
    lsp_vector previous_lsp, lsp_new, previous_quantized_lsp, lsp_new_q;
    lsf_memory lsf_predictor;
    lp_filter_pair aq, ap;
    filter_memory weighting_memory, target_memory;
    double weighted[kWeightedSpeechBuffer];
    encoder_subframe sub[kSubframes];
};

// Runs the real encoder over the sample and, frame by frame, replays its
// stages on a copy of its state to record each block's inputs.
std::vector<encoder_frame> record_encoder() {
    const std::vector<uint8_t> bytes = read_vector("speech_male_librivox.raw");
    const int frames = int(bytes.size() / 2 / kFrame);
    std::vector<encoder_frame> out{size_t(frames)};
    auto encoder = std::make_unique<encoder_state>();
    encoder_init(*encoder);
    for (int f = 0; f < frames; ++f) {
        encoder_frame& r = out[size_t(f)];
        int16_t pcm[kFrame];
        for (int i = 0; i < kFrame; ++i) {
            const size_t b = 2 * (size_t(f) * kFrame + size_t(i));
            pcm[i] = int16_t(uint16_t(bytes[b] | bytes[b + 1] << 8));
            r.raw[i] = pcm[i];
        }
        r.preprocess = encoder->preprocess_memory;
        auto st = std::make_unique<encoder_state>(*encoder);
        double* input = st->speech_buffer + kSpeechNewInput;
        for (int i = 0; i < kFrame; ++i) input[i] = r.raw[i];
        preprocess_filter(st->preprocess_memory, input, kFrame);
        std::memcpy(r.speech, st->speech_buffer, sizeof r.speech);

        autocorrelation_vector ac;
        windowed_autocorrelation(st->speech_buffer, kOrder, ac);
        apply_lag_window(kOrder, ac);
        levinson_durbin(ac, r.a);
        r.previous_lsp = st->previous_lsp;
        lp_to_lsp(r.a, st->previous_lsp, r.lsp_new);
        r.lsf_predictor = st->lsf_predictor_memory;
        int w0, w1;
        lsf_memory memory = st->lsf_predictor_memory;
        quantize_lsp(memory, r.lsp_new, r.lsp_new_q, w0, w1);
        r.previous_quantized_lsp = st->previous_quantized_lsp;
        interpolate_lp_filters(st->previous_quantized_lsp, r.lsp_new_q, r.aq);
        for (int s = 0; s < kSubframes; ++s) bandwidth_expand(r.aq[s], r.ap[s], 0.75);

        double* speech = st->speech_buffer + kSpeechFrameStart;
        double* exc = st->excitation_buffer + kExcitationHistory;
        for (int s = 0; s < kSubframes; ++s) residual_filter(r.aq[s], speech + kSubframe * s, exc + kSubframe * s, kSubframe);
        r.weighting_memory = st->weighting_filter_memory;
        r.target_memory = st->target_filter_memory;
        std::memcpy(r.weighted, st->weighted_speech_buffer, sizeof r.weighted);
        double* wsp = r.weighted + kPitchMax;
        filter_memory wm = st->weighting_filter_memory;
        for (int s = 0; s < kSubframes; ++s) {
            lp_coefficients q;
            q[0] = 1.0;
            for (int i = 1; i <= kOrder; ++i) q[i] = r.ap[s][i] - 0.7 * r.ap[s][i - 1];
            synthesis_filter(q, exc + kSubframe * s, wsp + kSubframe * s, kSubframe, wm.data(), 1);
        }
        int t0_min, t0_max;
        first_subframe_pitch_range(open_loop_pitch_search(wsp, kFrame), t0_min, t0_max);
        for (int s = 0; s < kSubframes; ++s) {
            encoder_subframe& u = r.sub[s];
            double* p = exc + kSubframe * s;
            std::memcpy(u.excitation, st->excitation_buffer, sizeof u.excitation);
            u.h[0] = 1.0;
            set_zero(u.h + 1, kSubframe - 1);
            synthesis_filter(r.ap[s], u.h, u.h, kSubframe, u.h + 1, 0);
            synthesis_filter(r.ap[s], p, u.xn, kSubframe, st->target_filter_memory.data(), 0);
            u.t0_min = t0_min;
            u.t0_max = t0_max;
            u.t0 = closed_loop_pitch_search(p, u.xn, u.h, kSubframe, t0_min, t0_max, kSubframe * s, u.frac);
            encode_pitch_lag(u.t0, u.frac, t0_min, t0_max, kPitchMin, kPitchMax, kSubframe * s);
            std::memcpy(u.adaptive, p, sizeof u.adaptive);
            double y1[kSubframe];
            synthesis_filter(r.ap[s], p, y1, kSubframe, st->zero_memory.data(), 0);
            double g_p = pitch_gain(u.xn, y1, u.correlations, kSubframe);
            u.taming = taming_test(st->taming_errors, u.t0, u.frac);
            if (u.taming == 1 && g_p > 0.95) g_p = 0.95;
            for (int k = 0; k < kSubframe; ++k) u.xn2[k] = u.xn[k] - y1[k] * g_p;
            u.beta = st->pitch_sharpening_factor;
            double h[kSubframe], y2[kSubframe];
            std::memcpy(h, u.h, sizeof h);
            int sign_word;
            fixed_codebook_search(u.xn2, h, u.t0, u.code, y2, &sign_word, u.beta);
            code_vector_correlations(u.xn, y1, y2, u.correlations);
            u.energy = st->energy_history;
            // The real encoder moves its state on; the replay only needs
            // each subframe's inputs to be the ones it really had, so it
            // takes the excitation from the real encoder's next frame.
        }
        uint8_t bits[10];
        int length;
        encode_frame(*encoder, pcm, bits, length);
    }
    return out;
}

const std::vector<encoder_frame>& encoder_frames() {
    static const std::vector<encoder_frame> frames = record_encoder();
    return frames;
}

// Runs body(frame) over the recorded frames, one frame per iteration.
template <class Body>
void over_encoder_frames(benchmark::State& state, Body body) {
    const std::vector<encoder_frame>& frames = encoder_frames();
    size_t f = 0;
    for (auto _ : state) {
        body(frames[f]);
        if (++f == frames.size()) f = 0;
    }
}

void BM_EncoderFrame(benchmark::State& state) {
    const std::vector<uint8_t> bytes = read_vector("speech_male_librivox.raw");
    std::vector<int16_t> pcm(bytes.size() / 2);
    for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = int16_t(uint16_t(bytes[2 * i] | bytes[2 * i + 1] << 8));
    auto encoder = std::make_unique<encoder_state>();
    encoder_init(*encoder);
    const size_t frames = pcm.size() / kFrame;
    size_t f = 0;
    uint8_t bits[10];
    for (auto _ : state) {
        int length;
        encode_frame(*encoder, &pcm[f * kFrame], bits, length);
        benchmark::DoNotOptimize(bits);
        if (++f == frames) f = 0;
    }
}
BENCHMARK(BM_EncoderFrame);

void BM_Encoder_PreprocessHighPass(benchmark::State& state) {
    over_encoder_frames(state, [](const encoder_frame& r) {
        pole_zero_memory m = r.preprocess;
        double x[kFrame];
        std::memcpy(x, r.raw, sizeof x);
        preprocess_filter(m, x, kFrame);
        benchmark::DoNotOptimize(x);
    });
}
BENCHMARK(BM_Encoder_PreprocessHighPass);

void BM_Encoder_LpAnalysis(benchmark::State& state) {
    over_encoder_frames(state, [](const encoder_frame& r) {
        autocorrelation_vector ac;
        windowed_autocorrelation(r.speech, kOrder, ac);
        apply_lag_window(kOrder, ac);
        lp_coefficients a;
        levinson_durbin(ac, a);
        benchmark::DoNotOptimize(a);
    });
}
BENCHMARK(BM_Encoder_LpAnalysis);

void BM_Encoder_LpToLsp(benchmark::State& state) {
    over_encoder_frames(state, [](const encoder_frame& r) {
        lsp_vector lsp;
        lp_to_lsp(r.a, r.previous_lsp, lsp);
        benchmark::DoNotOptimize(lsp);
    });
}
BENCHMARK(BM_Encoder_LpToLsp);

void BM_Encoder_LspQuantizer(benchmark::State& state) {
    over_encoder_frames(state, [](const encoder_frame& r) {
        lsf_memory memory = r.lsf_predictor;
        lsp_vector q;
        int w0, w1;
        quantize_lsp(memory, r.lsp_new, q, w0, w1);
        benchmark::DoNotOptimize(q);
    });
}
BENCHMARK(BM_Encoder_LspQuantizer);

void BM_Encoder_LpInterpolation(benchmark::State& state) {
    over_encoder_frames(state, [](const encoder_frame& r) {
        lp_filter_pair aq, ap;
        interpolate_lp_filters(r.previous_quantized_lsp, r.lsp_new_q, aq);
        for (int s = 0; s < kSubframes; ++s) bandwidth_expand(aq[s], ap[s], 0.75);
        benchmark::DoNotOptimize(ap);
    });
}
BENCHMARK(BM_Encoder_LpInterpolation);

void BM_Encoder_Residual(benchmark::State& state) {
    over_encoder_frames(state, [](const encoder_frame& r) {
        double exc[kFrame];
        for (int s = 0; s < kSubframes; ++s) {
            residual_filter(r.aq[s], r.speech + kSpeechFrameStart + kSubframe * s, exc + kSubframe * s, kSubframe);
        }
        benchmark::DoNotOptimize(exc);
    });
}
BENCHMARK(BM_Encoder_Residual);

// The encoder's syntheses as it runs them: the weighted speech with both
// impulse responses and the first target, the rest of the weighted speech,
// the second target, and the filtered adaptive vector of each subframe.
void BM_Encoder_SynthesisRecursions(benchmark::State& state) {
    over_encoder_frames(state, [](const encoder_frame& r) {
        const double* exc = r.sub[0].excitation + kExcitationHistory;
        lp_filter_pair weighting;
        for (int s = 0; s < kSubframes; ++s) {
            weighting[s][0] = 1.0;
            for (int i = 1; i <= kOrder; ++i) weighting[s][i] = r.ap[s][i] - 0.7 * r.ap[s][i - 1];
        }
        double h[kSubframes][kSubframe] = {{1.0}, {1.0}};
        double xn[kSubframe], wsp[kFrame], y1[kSubframe];
        filter_memory wm = r.weighting_memory;
        const synthesis_lane lanes[4] = {
            {&weighting[0], exc, wsp, wm.data(), wm.data()},
            {&r.ap[0], h[0], h[0], h[0] + 1, nullptr},
            {&r.ap[1], h[1], h[1], h[1] + 1, nullptr},
            {&r.ap[0], exc, xn, r.target_memory.data(), nullptr},
        };
        synthesis_filter_lanes(lanes, 4, kSubframe);
        synthesis_filter(weighting[1], exc + kSubframe, wsp + kSubframe, kSubframe, wm.data(), 1);
        filter_memory target = r.target_memory;
        synthesis_filter(r.ap[1], exc + kSubframe, xn, kSubframe, target.data(), 0);
        filter_memory zero{};
        for (int s = 0; s < kSubframes; ++s) synthesis_filter(r.ap[s], r.sub[s].adaptive, y1, kSubframe, zero.data(), 0);
        benchmark::DoNotOptimize(wsp);
        benchmark::DoNotOptimize(xn);
        benchmark::DoNotOptimize(y1);
    });
}
BENCHMARK(BM_Encoder_SynthesisRecursions);

void BM_Encoder_OpenLoopPitch(benchmark::State& state) {
    over_encoder_frames(state, [](const encoder_frame& r) {
        benchmark::DoNotOptimize(open_loop_pitch_search(r.weighted + kPitchMax, kFrame));
    });
}
BENCHMARK(BM_Encoder_OpenLoopPitch);

void BM_Encoder_ClosedLoopPitch(benchmark::State& state) {
    over_encoder_frames(state, [](const encoder_frame& r) {
        for (int s = 0; s < kSubframes; ++s) {
            const encoder_subframe& u = r.sub[s];
            double exc[kExcitationBuffer];
            std::memcpy(exc, u.excitation, sizeof exc);
            int frac;
            benchmark::DoNotOptimize(closed_loop_pitch_search(exc + kExcitationHistory + kSubframe * s, u.xn, u.h,
                                                              kSubframe, u.t0_min, u.t0_max, kSubframe * s, frac));
        }
    });
}
BENCHMARK(BM_Encoder_ClosedLoopPitch);

void BM_Encoder_FixedCodebookSearch(benchmark::State& state) {
    over_encoder_frames(state, [](const encoder_frame& r) {
        for (int s = 0; s < kSubframes; ++s) {
            const encoder_subframe& u = r.sub[s];
            double h[kSubframe], code[kSubframe], y2[kSubframe];
            std::memcpy(h, u.h, sizeof h);
            int sign_word;
            benchmark::DoNotOptimize(fixed_codebook_search(u.xn2, h, u.t0, code, y2, &sign_word, u.beta));
        }
    });
}
BENCHMARK(BM_Encoder_FixedCodebookSearch);

void BM_Encoder_GainQuantizer(benchmark::State& state) {
    over_encoder_frames(state, [](const encoder_frame& r) {
        for (int s = 0; s < kSubframes; ++s) {
            const encoder_subframe& u = r.sub[s];
            energy_memory energy = u.energy;
            double g_p, g_c;
            benchmark::DoNotOptimize(quantize_gains(energy, u.code, u.correlations, kSubframe, u.taming, g_p, g_c));
        }
    });
}
BENCHMARK(BM_Encoder_GainQuantizer);

// Kernels that several blocks above share, per frame: the autocorrelation
// and four backward correlations; the interpolations of the pitch search.
void BM_Kernel_ShiftedCorrelations(benchmark::State& state) {
    over_encoder_frames(state, [](const encoder_frame& r) {
        double out[kSubframe];
        shifted_correlations(r.speech, r.speech, kSpeechBuffer, kOrder + 1, out);
        for (int s = 0; s < kSubframes; ++s) {
            shifted_correlations(r.sub[s].h, r.sub[s].xn, kSubframe, kSubframe, out);
            shifted_correlations(r.sub[s].h, r.sub[s].xn2, kSubframe, kSubframe, out);
        }
        benchmark::DoNotOptimize(out);
    });
}
BENCHMARK(BM_Kernel_ShiftedCorrelations);

void BM_Kernel_InterpolateExcitation(benchmark::State& state) {
    over_encoder_frames(state, [](const encoder_frame& r) {
        for (int s = 0; s < kSubframes; ++s) {
            const encoder_subframe& u = r.sub[s];
            double exc[kExcitationBuffer];
            std::memcpy(exc, u.excitation, sizeof exc);
            interpolate_excitation(exc + kExcitationHistory + kSubframe * s, u.t0, u.frac, kSubframe);
            benchmark::DoNotOptimize(exc);
        }
    });
}
BENCHMARK(BM_Kernel_InterpolateExcitation);

// The fixed-codebook search's correlation matrix.
void BM_Kernel_PulseCorrelationMatrix(benchmark::State& state) {
    over_encoder_frames(state, [](const encoder_frame& r) {
        for (int s = 0; s < kSubframes; ++s) {
            const encoder_subframe& u = r.sub[s];
            pulse_correlations c;
            pulse_correlation_matrix(u.h, c);
            benchmark::DoNotOptimize(c);
        }
    });
}
BENCHMARK(BM_Kernel_PulseCorrelationMatrix);

// The filtered adaptive vector of each subframe and the pulse correlations,
// one after the other and side by side.
template <bool side_by_side>
void BM_Kernel_AdaptiveFilterAndPulseCorrelations(benchmark::State& state) {
    over_encoder_frames(state, [](const encoder_frame& r) {
        filter_memory zero{};
        for (int s = 0; s < kSubframes; ++s) {
            double y1[kSubframe];
            const synthesis_lane lane = {&r.ap[s], r.sub[s].adaptive, y1, zero.data(), nullptr};
            pulse_correlations c;
            if (side_by_side) {
                synthesis_with_pulse_correlations(lane, r.sub[s].h, c);
            } else {
                synthesis_filter_lanes(&lane, 1, kSubframe);
                pulse_correlation_matrix(r.sub[s].h, c);
            }
            benchmark::DoNotOptimize(c);
            benchmark::DoNotOptimize(y1);
        }
    });
}
BENCHMARK_TEMPLATE(BM_Kernel_AdaptiveFilterAndPulseCorrelations, false);
BENCHMARK_TEMPLATE(BM_Kernel_AdaptiveFilterAndPulseCorrelations, true);

// ---- decoder

struct decoder_frame {
    frame_parameters params;
    std::unique_ptr<decoder_object> before;
};

std::vector<decoder_frame> record_decoder() {
    const std::vector<uint8_t> coded = read_vector("speech_male_librivox.g729");
    const int frames = int(coded.size() / kSpeechFrameBytes);
    std::vector<decoder_frame> out{size_t(frames)};
    auto decoder = std::make_unique<decoder_object>();
    decoder_init(*decoder);
    for (int f = 0; f < frames; ++f) {
        decoder_frame& r = out[size_t(f)];
        const uint8_t* in = &coded[size_t(f) * kSpeechFrameBytes];
        unpack_frame(r.params, in, frame_type::speech);
        r.before = std::make_unique<decoder_object>(*decoder);
        int16_t pcm[kFrame];
        decode_frame(*decoder, pcm, in, kSpeechFrameBytes);
    }
    return out;
}

const std::vector<decoder_frame>& decoder_frames() {
    static const std::vector<decoder_frame> frames = record_decoder();
    return frames;
}

// The decoder's stages of one frame replayed on a scratch copy of the state
// it had, so that every stage sees real inputs; `timed` picks the stage whose
// cost is wanted, the others run untimed in setup.
struct decoder_replay {
    std::unique_ptr<decoder_object> d = std::make_unique<decoder_object>();
    lp_filter_pair filters, ap3, ap4;
    pitch_lags lags;
    double tilt[kSubframes];
    double p[kSubframes][kSubframe];
    double synthesized[kFrame];
    double out[kFrame];

    // Everything up to the post-filter's syntheses, sequentially.
    void prepare(const decoder_frame& r) {
        std::memcpy(d.get(), r.before.get(), sizeof(decoder_object));
        double* buffer = d->synthesis_buffer;
        testing::synthesize_frame(d->decoder_state, d->comfort_noise_state, r.params, buffer + kSynthesisHistory, filters,
                         lags);
        std::memcpy(synthesized, buffer + kSynthesisHistory, sizeof synthesized);
        postfilter_filters(filters, ap3, ap4);
        tilt_factors(ap3, ap4, tilt);
        postfilter_state post = d->postfilter_state;
        for (int s = 0; s < kSubframes; ++s) {
            postfilter_pitch_stage(post, buffer + kSynthesisHistory + s * kSubframe, ap3[s], lags[s],
                                   frame_type::speech, tilt[s], p[s]);
            synthesis_filter(ap4[s], p[s], out + s * kSubframe, kSubframe,
                             post.postfilter_synthesis_memory.data(), 1);
        }
    }
};

std::vector<std::unique_ptr<decoder_replay>> prepared_decoder_frames() {
    const std::vector<decoder_frame>& frames = decoder_frames();
    std::vector<std::unique_ptr<decoder_replay>> out;
    for (const decoder_frame& r : frames) {
        out.push_back(std::make_unique<decoder_replay>());
        out.back()->prepare(r);
    }
    return out;
}

const std::vector<std::unique_ptr<decoder_replay>>& decoder_replays() {
    static const std::vector<std::unique_ptr<decoder_replay>> replays = prepared_decoder_frames();
    return replays;
}

template <class Body>
void over_decoder_frames(benchmark::State& state, Body body) {
    const std::vector<decoder_frame>& frames = decoder_frames();
    const auto& replays = decoder_replays();
    size_t f = 0;
    for (auto _ : state) {
        body(frames[f], *replays[f]);
        if (++f == frames.size()) f = 0;
    }
}

void BM_DecoderFrame(benchmark::State& state) {
    const std::vector<uint8_t> coded = read_vector("speech_male_librivox.g729");
    auto decoder = std::make_unique<decoder_object>();
    decoder_init(*decoder);
    const size_t frames = coded.size() / kSpeechFrameBytes;
    size_t f = 0;
    int16_t pcm[kFrame];
    for (auto _ : state) {
        decode_frame(*decoder, pcm, &coded[f * kSpeechFrameBytes], kSpeechFrameBytes);
        benchmark::DoNotOptimize(pcm);
        if (++f == frames) f = 0;
    }
}
BENCHMARK(BM_DecoderFrame);

void BM_Decoder_LspDecoding(benchmark::State& state) {
    over_decoder_frames(state, [](const decoder_frame& r, const decoder_replay&) {
        lsf_memory memory = r.before->decoder_state.lsf_predictor_memory;
        lsp_vector q;
        decode_lsp(memory, r.params.speech.lsp_first, r.params.speech.lsp_second, q);
        lp_filter_pair filters;
        interpolate_lp_filters(r.before->decoder_state.previous_quantized_lsp, q, filters);
        benchmark::DoNotOptimize(filters);
    });
}
BENCHMARK(BM_Decoder_LspDecoding);

// Adaptive-codebook interpolation, fixed code, gains and excitation of both
// subframes: the whole synthesis less its filter recursions.
void BM_Decoder_Excitation(benchmark::State& state) {
    over_decoder_frames(state, [](const decoder_frame& r, const decoder_replay& x) {
        double exc[kDecoderExcitationBuffer];
        std::memcpy(exc, r.before->decoder_state.excitation_buffer, sizeof exc);
        energy_memory energy = r.before->decoder_state.energy_history;
        for (int s = 0; s < kSubframes; ++s) {
            double* e = exc + kExcitationHistory + s * kSubframe;
            interpolate_excitation(e, x.lags[s], 0, kSubframe);
            double code[kSubframe];
            const subframe_parameters& coded = r.params.speech.subframes[s];
            decode_fixed_code(coded.code_signs, coded.code_positions, code);
            double g_p, g_c;
            decode_gains(energy, coded.gain_indices, code, kSubframe, g_p, g_c);
            for (int i = 0; i < kSubframe; ++i) e[i] = g_p * e[i] + g_c * code[i];
        }
        benchmark::DoNotOptimize(exc);
    });
}
BENCHMARK(BM_Decoder_Excitation);

// Every recursion of a frame as the decoder runs it: the two syntheses, the
// two post-filter syntheses, the tilt impulse responses, the gain control
// and the output high-pass, in four passes.
void BM_Decoder_Recursions(benchmark::State& state) {
    over_decoder_frames(state, [](const decoder_frame& r, const decoder_replay& x) {
        filter_memory synthesis = r.before->decoder_state.synthesis_filter_memory;
        postfilter_state post = r.before->postfilter_state;
        pole_zero_memory high_pass = r.before->postprocess_memory;
        const double* exc = r.before->decoder_state.excitation_buffer + kExcitationHistory;
        double speech[kFrame], out[kFrame], h[kSubframes][kSubframe];
        synthesis_lane first[3];
        first[0] = synthesis_lane{&x.filters[0], exc, speech, synthesis.data(), synthesis.data()};
        tilt_impulse_response_lane(x.ap3[0], x.ap4[0], h[0], first[1]);
        tilt_impulse_response_lane(x.ap3[1], x.ap4[1], h[1], first[2]);
        synthesis_filter_lanes(first, 3, kSubframe);
        double* post_memory = post.postfilter_synthesis_memory.data();
        const synthesis_lane second[2] = {
            {&x.filters[1], exc + kSubframe, speech + kSubframe, synthesis.data(), synthesis.data()},
            {&x.ap4[0], x.p[0], out, post_memory, post_memory},
        };
        synthesis_filter_lanes(second, 2, kSubframe);
        synthesis_with_gain_and_high_pass(x.ap4[1], x.p[1], out + kSubframe, post_memory, post, true, 0.01,
                                          high_pass, out);
        gain_control_with_high_pass(post, true, 0.01, high_pass, out + kSubframe);
        benchmark::DoNotOptimize(out);
        benchmark::DoNotOptimize(speech);
    });
}
BENCHMARK(BM_Decoder_Recursions);

// Residual, long-term post-filter and tilt compensation of both subframes.
void BM_Decoder_PostfilterPitchStage(benchmark::State& state) {
    over_decoder_frames(state, [](const decoder_frame& r, const decoder_replay& x) {
        postfilter_state post = r.before->postfilter_state;
        double synthesized[kSynthesisHistory + kFrame];
        std::memcpy(synthesized, r.before->synthesis_buffer, sizeof(double) * kSynthesisHistory);
        std::memcpy(synthesized + kSynthesisHistory, x.synthesized, sizeof x.synthesized);
        double p[kSubframe];
        for (int s = 0; s < kSubframes; ++s) {
            postfilter_pitch_stage(post, synthesized + kSynthesisHistory + s * kSubframe, x.ap3[s], x.lags[s],
                                   frame_type::speech, x.tilt[s], p);
            benchmark::DoNotOptimize(p);
        }
    });
}
BENCHMARK(BM_Decoder_PostfilterPitchStage);

// The energies behind the gain control of both subframes.
void BM_Decoder_GainEnergies(benchmark::State& state) {
    over_decoder_frames(state, [](const decoder_frame& r, const decoder_replay& x) {
        postfilter_state post = r.before->postfilter_state;
        for (int s = 0; s < kSubframes; ++s) {
            double g1 = 0.0;
            benchmark::DoNotOptimize(gain_control_increment(post, x.synthesized + s * kSubframe, x.out + s * kSubframe, g1));
            benchmark::DoNotOptimize(g1);
        }
    });
}
BENCHMARK(BM_Decoder_GainEnergies);

// The console table as usual, then one line per block: time and cycles per
// frame, and the share of the whole encoder or decoder frame.
class BlockReporter : public benchmark::ConsoleReporter {
public:
    BlockReporter(OutputOptions options, const g729_bench::clock_probe& clock)
        : ConsoleReporter(options), clock_(clock) {}
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred || run.run_type != Run::RT_Iteration || run.iterations == 0) continue;
            const double seconds = run.cpu_accumulated_time / double(run.iterations);
            const std::string name = run.benchmark_name();
            if (times_.count(name) == 0) order_.push_back(name);
            // Repetitions keep the fastest: other work only slows a run.
            if (times_.count(name) == 0 || seconds < times_[name]) times_[name] = seconds;
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        const g729_bench::clock_probe clock_after = g729_bench::measure_clock();
        g729_bench::print_clock(clock_, clock_after);
        const g729_bench::clock_probe clock = g729_bench::combine(clock_, clock_after);
        // Without an agreed clock the cycle column is left empty.
        const double hz = clock.agree() ? clock.hz() : std::nan("");
        std::printf("%-40s %10s %14s %8s\n", "per 10 ms frame", "us/frame", "cycles/frame", "share");
        for (const std::string& name : order_) {
            const double t = times_[name];
            const char* whole = name.rfind("BM_Encoder_", 0) == 0 || name.rfind("BM_Kernel_", 0) == 0
                                    ? "BM_EncoderFrame"
                                : name.rfind("BM_Decoder_", 0) == 0 ? "BM_DecoderFrame"
                                                                    : nullptr;
            if (whole != nullptr && times_.count(whole) != 0) {
                std::printf("%-40s %10.2f %14.0f %7.1f%%\n", name.c_str(), t * 1e6, t * hz, 100.0 * t / times_[whole]);
            } else {
                std::printf("%-40s %10.2f %14.0f %8s\n", name.c_str(), t * 1e6, t * hz, "");
            }
        }
        std::printf("(kernel lines are parts of the encoder blocks above them; shares are of the whole frame)\n");
    }

private:
    g729_bench::clock_probe clock_;
    std::vector<std::string> order_;
    std::map<std::string, double> times_;
};

} // namespace
} // namespace g729

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    g729::BlockReporter reporter(benchmark::ConsoleReporter::OO_Tabular, g729_bench::measure_clock());
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
