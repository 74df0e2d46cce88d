// Per-frame cost of the codec and of whole translator paths through the
// host. One channel is one direction of a call: 100 frames a second.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

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
    explicit ChannelReporter(OutputOptions options) : ConsoleReporter(options) {}
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred || run.run_type != Run::RT_Iteration) continue;
            const auto frames = run.counters.find("frames/s");
            const auto channels = run.counters.find("channels/core");
            if (frames == run.counters.end() || channels == run.counters.end() || frames->second.value <= 0.0) continue;
            summary_.push_back({run.benchmark_name(), 1e6 / frames->second.value, channels->second.value});
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        if (summary_.empty()) return;
        std::printf("\n%-28s %12s %15s\n", "per 10 ms frame, one core", "us/frame", "channels/core");
        for (const Line& line : summary_) {
            std::printf("%-28s %12.2f %15.0f\n", line.name.c_str(), line.microseconds, line.channels);
        }
    }

private:
    struct Line {
        std::string name;
        double microseconds;
        double channels;
    };
    std::vector<Line> summary_;
};

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    const bool terminal = isatty(STDOUT_FILENO) != 0;
    ChannelReporter reporter(terminal ? benchmark::ConsoleReporter::OO_ColorTabular
                                      : benchmark::ConsoleReporter::OO_Tabular);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
