// Per-frame cost of the codec and of whole translator paths through the
// host. One channel is one direction of a call: 100 frames a second; a
// full-duplex channel is both directions of one call leg (an encoder and a
// decoder). Times are CPU time; cycles come from the clock measured in the
// same run (cpu_clock.h). The per-block costs of one frame are in
// g729a_block_bench (tests/perf), which needs the codec's internals.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "cpu_clock.h"
#include "g729a.h"
#include "host/host.h"

namespace {

std::vector<uint8_t> read_vector(const std::string& name) {
    std::ifstream in(std::string(G729A_TEST_DATA) + "/vectors/" + name, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<int16_t> speech() {
    const std::vector<uint8_t> b = read_vector("speech_male_librivox.raw");
    std::vector<int16_t> s(b.size() / 2);
    for (size_t i = 0; i < s.size(); ++i) s[i] = int16_t(uint16_t(b[2 * i] | b[2 * i + 1] << 8));
    return s;
}

void add_channel_counters(benchmark::State& state, int64_t frames) {
    state.counters["frames/s"] = benchmark::Counter(double(frames), benchmark::Counter::kIsRate);
    state.counters["channels/core"] = benchmark::Counter(double(frames) / 100.0, benchmark::Counter::kIsRate);
}

void BM_EncodeFrame(benchmark::State& state) {
    const std::vector<int16_t> input = speech();
    const size_t frames = input.size() / G729A_FRAME_SAMPLES;
    g729a_encoder* encoder = g729a_encoder_create(nullptr);
    uint8_t out[G729A_SPEECH_FRAME_BYTES];
    size_t f = 0;
    for (auto _ : state) {
        g729a_encode(encoder, &input[f * G729A_FRAME_SAMPLES], G729A_FRAME_SAMPLES, out, sizeof out);
        benchmark::DoNotOptimize(out);
        if (++f == frames) f = 0;
    }
    add_channel_counters(state, state.iterations());
    state.counters["state bytes"] = double(g729a_encoder_size());
    g729a_encoder_destroy(encoder);
}
BENCHMARK(BM_EncodeFrame);

void BM_DecodeFrame(benchmark::State& state) {
    const std::vector<uint8_t> input = read_vector("speech_male_librivox.g729");
    const size_t frames = input.size() / G729A_SPEECH_FRAME_BYTES;
    g729a_decoder* decoder = g729a_decoder_create(nullptr);
    int16_t out[G729A_FRAME_SAMPLES];
    size_t f = 0;
    for (auto _ : state) {
        g729a_decode(decoder, &input[f * G729A_SPEECH_FRAME_BYTES], G729A_SPEECH_FRAME_BYTES, out, G729A_FRAME_SAMPLES);
        benchmark::DoNotOptimize(out);
        if (++f == frames) f = 0;
    }
    add_channel_counters(state, state.iterations());
    state.counters["state bytes"] = double(g729a_decoder_size());
    g729a_decoder_destroy(decoder);
}
BENCHMARK(BM_DecodeFrame);

// One call leg both ways: encode a frame of speech and decode a received
// one, as a transcoding channel does every 10 ms.
struct full_duplex_channel {
    g729a_encoder* encoder = g729a_encoder_create(nullptr);
    g729a_decoder* decoder = g729a_decoder_create(nullptr);
    full_duplex_channel() = default;
    full_duplex_channel(const full_duplex_channel&) = delete;
    full_duplex_channel& operator=(const full_duplex_channel&) = delete;
    ~full_duplex_channel() {
        g729a_encoder_destroy(encoder);
        g729a_decoder_destroy(decoder);
    }
    void frame(const int16_t* pcm, const uint8_t* coded) {
        uint8_t bits[G729A_SPEECH_FRAME_BYTES];
        int16_t out[G729A_FRAME_SAMPLES];
        g729a_encode(encoder, pcm, G729A_FRAME_SAMPLES, bits, sizeof bits);
        g729a_decode(decoder, coded, G729A_SPEECH_FRAME_BYTES, out, G729A_FRAME_SAMPLES);
        benchmark::DoNotOptimize(bits);
        benchmark::DoNotOptimize(out);
    }
};

void BM_FullDuplexFrame(benchmark::State& state) {
    const std::vector<int16_t> pcm = speech();
    const std::vector<uint8_t> coded = read_vector("speech_male_librivox.g729");
    const size_t frames = std::min(pcm.size() / G729A_FRAME_SAMPLES, coded.size() / G729A_SPEECH_FRAME_BYTES);
    full_duplex_channel channel;
    size_t f = 0;
    for (auto _ : state) {
        channel.frame(&pcm[f * G729A_FRAME_SAMPLES], &coded[f * G729A_SPEECH_FRAME_BYTES]);
        if (++f == frames) f = 0;
    }
    add_channel_counters(state, state.iterations());
}
BENCHMARK(BM_FullDuplexFrame);

// Full-duplex channels advanced together by the many-channel calls: N
// encoders and N decoders, one frame each per iteration, each channel at
// its own place in the speech. The figures are per channel-frame (one
// encode and one decode), to hold against BM_FullDuplexFrame.
void BM_ManyChannelFramePair(benchmark::State& state) {
    static const std::vector<int16_t> pcm = speech();
    static const std::vector<uint8_t> coded = read_vector("speech_male_librivox.g729");
    const size_t frames = std::min(pcm.size() / G729A_FRAME_SAMPLES, coded.size() / G729A_SPEECH_FRAME_BYTES);
    const size_t n = size_t(state.range(0));
    std::vector<std::unique_ptr<full_duplex_channel>> channels;
    std::vector<g729a_encoder*> encoders;
    std::vector<g729a_decoder*> decoders;
    std::vector<size_t> position(n);
    for (size_t c = 0; c < n; ++c) {
        channels.push_back(std::make_unique<full_duplex_channel>());
        encoders.push_back(channels.back()->encoder);
        decoders.push_back(channels.back()->decoder);
        position[c] = c * 61 % frames;
    }
    std::vector<const int16_t*> in(n);
    std::vector<const uint8_t*> bits_in(n);
    std::vector<size_t> lengths(n, G729A_SPEECH_FRAME_BYTES);
    std::vector<uint8_t> bits_out(n * G729A_SPEECH_FRAME_BYTES);
    std::vector<int16_t> pcm_out(n * G729A_FRAME_SAMPLES);
    std::vector<uint8_t*> bits_at(n);
    std::vector<int16_t*> pcm_at(n);
    for (size_t c = 0; c < n; ++c) {
        bits_at[c] = &bits_out[c * G729A_SPEECH_FRAME_BYTES];
        pcm_at[c] = &pcm_out[c * G729A_FRAME_SAMPLES];
    }
    for (auto _ : state) {
        for (size_t c = 0; c < n; ++c) {
            in[c] = &pcm[position[c] * G729A_FRAME_SAMPLES];
            bits_in[c] = &coded[position[c] * G729A_SPEECH_FRAME_BYTES];
            if (++position[c] == frames) position[c] = 0;
        }
        g729a_encode_many(encoders.data(), in.data(), bits_at.data(), n, nullptr);
        g729a_decode_many(decoders.data(), bits_in.data(), lengths.data(), pcm_at.data(), n, nullptr);
        benchmark::DoNotOptimize(bits_out.data());
        benchmark::DoNotOptimize(pcm_out.data());
    }
    add_channel_counters(state, state.iterations() * int64_t(n));
}
BENCHMARK(BM_ManyChannelFramePair)->Arg(1)->Arg(4)->Arg(8)->Arg(16);

// The decoders alone, N channels per call, per channel frame.
void BM_ManyChannelDecode(benchmark::State& state) {
    static const std::vector<uint8_t> coded = read_vector("speech_male_librivox.g729");
    const size_t frames = coded.size() / G729A_SPEECH_FRAME_BYTES;
    const size_t n = size_t(state.range(0));
    std::vector<g729a_decoder*> decoders;
    std::vector<size_t> position(n);
    for (size_t c = 0; c < n; ++c) {
        decoders.push_back(g729a_decoder_create(nullptr));
        position[c] = c * 61 % frames;
    }
    std::vector<const uint8_t*> bits_in(n);
    std::vector<size_t> lengths(n, G729A_SPEECH_FRAME_BYTES);
    std::vector<int16_t> pcm_out(n * G729A_FRAME_SAMPLES);
    std::vector<int16_t*> pcm_at(n);
    for (size_t c = 0; c < n; ++c) pcm_at[c] = &pcm_out[c * G729A_FRAME_SAMPLES];
    for (auto _ : state) {
        for (size_t c = 0; c < n; ++c) {
            bits_in[c] = &coded[position[c] * G729A_SPEECH_FRAME_BYTES];
            if (++position[c] == frames) position[c] = 0;
        }
        g729a_decode_many(decoders.data(), bits_in.data(), lengths.data(), pcm_at.data(), n, nullptr);
        benchmark::DoNotOptimize(pcm_out.data());
    }
    add_channel_counters(state, state.iterations() * int64_t(n));
    for (g729a_decoder* d : decoders) g729a_decoder_destroy(d);
}
BENCHMARK(BM_ManyChannelDecode)->Arg(1)->Arg(4)->Arg(8)->Arg(16);

// Many full-duplex channels on one and on both cores: each thread serves 50
// channels of its own, a frame of each in turn, as a transcoding server
// does. The rate is wall-clock over all threads, so on an idle machine the
// two-thread figure shows how the work scales across the cores; each
// thread's own CPU time per frame shows it even when other work shares the
// machine: channels share nothing, so it should not grow with the threads.
void BM_ChannelsOverCores(benchmark::State& state) {
    static const std::vector<int16_t> pcm = speech();
    static const std::vector<uint8_t> coded = read_vector("speech_male_librivox.g729");
    const size_t frames = std::min(pcm.size() / G729A_FRAME_SAMPLES, coded.size() / G729A_SPEECH_FRAME_BYTES);
    constexpr int kChannelsPerThread = 50;
    std::vector<std::unique_ptr<full_duplex_channel>> channels;
    for (int c = 0; c < kChannelsPerThread; ++c) channels.push_back(std::make_unique<full_duplex_channel>());
    size_t f = size_t(state.thread_index()) * 97 % frames;
    int c = 0;
    const double cpu_start = g729_bench::thread_cpu_seconds();
    for (auto _ : state) {
        channels[size_t(c)]->frame(&pcm[f * G729A_FRAME_SAMPLES], &coded[f * G729A_SPEECH_FRAME_BYTES]);
        if (++c == kChannelsPerThread) {
            c = 0;
            if (++f == frames) f = 0;
        }
    }
    const double cpu = g729_bench::thread_cpu_seconds() - cpu_start;
    add_channel_counters(state, state.iterations());
    state.counters["cpu us/frame"] =
        benchmark::Counter(1e6 * cpu / double(state.iterations()), benchmark::Counter::kAvgThreads);
}
BENCHMARK(BM_ChannelsOverCores)->Threads(1)->Threads(2)->UseRealTime();

// Whole paths as a PBX drives them: 20 ms host frames into the real module.
bool module_loaded() {
    static const bool loaded = [] {
        corvane::set_log_echo(false);
        std::string error;
        return corvane::load_module(G729A_MODULE_PATH, error);
    }();
    return loaded;
}

// Feeds 20 ms host frames (160 samples or 20 bytes) of in through the
// translator from src to dst and collects what comes out.
void run_host_path(benchmark::State& state, const char* src, const char* dst, const std::vector<uint8_t>& in,
                   int frame_bytes, int frame_samples) {
    if (!module_loaded()) {
        state.SkipWithError("cannot load codec_g729a.so");
        return;
    }
    cvn_translator* t = corvane::find_translator(src, dst);
    corvane::translation_step step(t);
    size_t pos = 0;
    for (auto _ : state) {
        cvn_frame f{};
        f.frametype = CVN_FRAME_VOICE;
        f.format = corvane::format_by_name(src);
        f.samples = frame_samples;
        f.datalen = frame_bytes;
        f.data = const_cast<uint8_t*>(&in[pos]);
        step.framein(&f);
        benchmark::DoNotOptimize(step.frameout());
        pos += size_t(frame_bytes);
        if (pos + size_t(frame_bytes) > in.size()) pos = 0;
    }
    add_channel_counters(state, state.iterations() * 2);
    state.counters["private bytes"] = double(t->desc_size);
}

void BM_HostPathSlinToG729(benchmark::State& state) {
    run_host_path(state, "slin", "g729", read_vector("speech_male_librivox.raw"), 320, 160);
}
BENCHMARK(BM_HostPathSlinToG729);

void BM_HostPathG729ToSlin(benchmark::State& state) {
    run_host_path(state, "g729", "slin", read_vector("speech_male_librivox.g729"), 20, 0);
}
BENCHMARK(BM_HostPathG729ToSlin);

// The console table as usual, then the figures operators plan with: time
// per 10 ms frame and the channels one core carries.
class ChannelReporter : public benchmark::ConsoleReporter {
public:
    ChannelReporter(OutputOptions options, const g729_bench::clock_probe& clock)
        : ConsoleReporter(options), clock_(clock) {}
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred || run.run_type != Run::RT_Iteration) continue;
            const auto frames = run.counters.find("frames/s");
            const auto channels = run.counters.find("channels/core");
            if (frames == run.counters.end() || channels == run.counters.end() || frames->second.value <= 0.0) continue;
            const auto cpu = run.counters.find("cpu us/frame");
            summary_.push_back({run.benchmark_name(), 1e6 / frames->second.value, channels->second.value,
                                int(run.threads), cpu == run.counters.end() ? 0.0 : cpu->second.value});
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        if (summary_.empty()) return;
        const g729_bench::clock_probe clock_after = g729_bench::measure_clock();
        g729_bench::print_clock(clock_, clock_after);
        const g729_bench::clock_probe clock = g729_bench::combine(clock_, clock_after);
        const double hz = clock.hz();
        std::printf("%-40s %10s %14s %15s\n", "per 10 ms frame", "us/frame", "cycles/frame", "channels");
        for (const Line& line : summary_) {
            if (line.name.find("/threads:") != std::string::npos) {
                // All threads together, wall-clock: the channels of the
                // machine, and what each thread spent per frame.
                std::printf("%-40s %10.2f %14s %15.0f on %d thread%s, %.2f us CPU per frame each\n",
                            line.name.c_str(), line.microseconds, "-", line.channels, line.threads,
                            line.threads == 1 ? "" : "s", line.cpu_microseconds);
            } else if (clock.agree()) {
                std::printf("%-40s %10.2f %14.0f %15.0f per core\n", line.name.c_str(), line.microseconds,
                            line.microseconds * 1e-6 * hz, line.channels);
            } else {
                std::printf("%-40s %10.2f %14s %15.0f per core\n", line.name.c_str(), line.microseconds, "-",
                            line.channels);
            }
        }
    }

private:
    struct Line {
        std::string name;
        double microseconds;
        double channels;
        int threads;
        double cpu_microseconds;
    };
    g729_bench::clock_probe clock_;
    std::vector<Line> summary_;
};

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    const bool terminal = isatty(STDOUT_FILENO) != 0;
    ChannelReporter reporter(terminal ? benchmark::ConsoleReporter::OO_ColorTabular
                                      : benchmark::ConsoleReporter::OO_Tabular,
                             g729_bench::measure_clock());
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
