#include "tools/formats/audio_sink.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tools/common/tool_error.h"
#include "tools/formats/resampler.h"
#include "tools/formats/sndfile_library.h"

namespace g729::tool {

int output_rate(const format_id& format, const sink_options& options) {
    if (is_headerless(format.kind)) {
        // Nothing in the file would say that it holds another rate: whoever
        // reads it back would play it at the wrong speed.
        const int fixed = headerless_rate(format.kind);
        if (options.rate > 0 && options.rate != fixed) {
            const std::string fits = options.rate == kCodecRate ? ".raw holds 8000 Hz; "
                                     : options.rate == 16000    ? ".sln16 holds 16000 Hz; "
                                                                : "";
            throw usage_error("--rate " + std::to_string(options.rate) + " does not fit ." + format_extension(format) + ", which holds " +
                              std::to_string(fixed) + " Hz only (" + fits + "a format with a header, such as .wav or .flac, holds any rate)");
        }
        return fixed;
    }
    const int rate = options.rate > 0 ? options.rate : kCodecRate;
    if (rate < kMinSampleRate || rate > kMaxSampleRate)
        throw usage_error("--rate " + std::to_string(rate) + " is outside " + std::to_string(kMinSampleRate) + " to " +
                          std::to_string(kMaxSampleRate) + " Hz");
    return rate;
}

struct audio_sink::state {
    bool own_pcm = false; // headerless 16-bit, written here
    bool floating = false;
    int rate = kCodecRate;
    int channels = 1;
    SNDFILE* snd = nullptr;
    memory_file memory;
    passthrough_file passthrough;
    bool in_memory = false;
    soxr_t resampler = nullptr;
    std::vector<double> input;
    std::vector<double> resampled;
    std::vector<uint8_t> bytes;
    std::vector<int16_t> shorts;
    std::vector<float> floats;

    ~state() {
        if (snd) sndfile().sf_close(snd);
        if (resampler) soxr().soxr_delete(resampler);
    }

    // `frames` of 16-bit samples at the output rate, into `out`.
    void put_shorts(const int16_t* samples, std::size_t frames, output_file& out) {
        const std::size_t n = frames * std::size_t(channels);
        if (own_pcm) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
            out.write(samples, 2 * n); // already in the file's byte order
#else
            bytes.resize(2 * n);
            for (std::size_t i = 0; i < n; ++i) {
                bytes[2 * i] = uint8_t(uint16_t(samples[i]) & 0xFF);
                bytes[2 * i + 1] = uint8_t(uint16_t(samples[i]) >> 8);
            }
            out.write(bytes.data(), bytes.size());
#endif
            return;
        }
        if (sndfile().sf_writef_short(snd, samples, sf_count_t(frames)) != sf_count_t(frames))
            throw tool_error(out.name(), "cannot write audio: " + sndfile_problem(snd));
    }
};

audio_sink::audio_sink(output_file& out, const format_id& format, const sink_options& options)
    : s_(std::make_unique<state>()), out_(out) {
    state& s = *s_;
    s.rate = output_rate(format, options);
    s.floating = options.floating;
    s.channels = options.channels;
    if (s.rate != kCodecRate) {
        s.resampler = make_resampler(kCodecRate, s.rate, unsigned(s.channels), out.name());
        s.resampled.resize(kResampledChunk * std::size_t(s.channels));
    }
    if (format.kind == file_format::raw || format.kind == file_format::sln16) {
        if (s.floating) throw usage_error("--float needs a format with float samples (.wav, for one); ." + format_name(format) + " holds 16-bit samples");
        s.own_pcm = true;
        return;
    }
    SF_INFO info{};
    info.samplerate = s.rate;
    info.channels = s.channels;
    info.format = writable_format(format, s.rate, s.floating);
    if (info.format == 0) {
        if (s.floating) throw usage_error("--float: ." + format_extension(format) + " has no float samples");
        throw tool_error(out.name(), "libsndfile cannot write ." + format_extension(format) + " at " + std::to_string(s.rate) + " Hz");
    }
    struct stat st;
    // Standard output redirected to a file, from its start, can be written
    // (and its header completed) in place, as a named file is.
    const bool std_seekable = out.is_std() && fstat(STDOUT_FILENO, &st) == 0 && S_ISREG(st.st_mode) &&
                              std::fflush(stdout) == 0 && lseek(STDOUT_FILENO, 0, SEEK_CUR) == 0;
    if (std_seekable) {
        s.snd = open_sndfile_descriptor(STDOUT_FILENO, SFM_WRITE, &info, out.name());
    } else if (out.is_std()) {
        if ((info.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_RAW) {
            s.passthrough.out = &out;
            s.snd = sndfile().sf_open_virtual(&passthrough_io, SFM_WRITE, &info, &s.passthrough);
        } else {
            // The header needs the final length, which a pipe cannot go back for.
            s.in_memory = true;
            s.snd = sndfile().sf_open_virtual(&memory_io, SFM_WRITE, &info, &s.memory);
        }
    } else {
        s.snd = open_sndfile_descriptor(fileno(out.stream()), SFM_WRITE, &info, out.name());
    }
    if (!s.snd) throw tool_error(out.name(), "cannot write audio: " + sndfile_problem(nullptr));
}

audio_sink::~audio_sink() = default;

void audio_sink::put(const double* samples, std::size_t frames) {
    state& s = *s_;
    const std::size_t n = frames * std::size_t(s.channels);
    if (s.floating) {
        s.floats.resize(n);
        for (std::size_t i = 0; i < n; ++i) s.floats[i] = float(samples[i] / kSampleScale);
        if (sndfile().sf_writef_float(s.snd, s.floats.data(), sf_count_t(frames)) != sf_count_t(frames))
            throw tool_error(out_.name(), "cannot write audio: " + sndfile_problem(s.snd));
        return;
    }
    s.shorts.resize(n);
    for (std::size_t i = 0; i < n; ++i) s.shorts[i] = to_sample(samples[i], clipped_);
    s.put_shorts(s.shorts.data(), frames, out_);
}

void audio_sink::write(const int16_t* samples, std::size_t n) {
    state& s = *s_;
    if (!s.resampler && !s.floating) {
        // At the codec's rate, 16-bit samples go out as they come.
        s.put_shorts(samples, n, out_);
        return;
    }
    s.input.resize(n * std::size_t(s.channels));
    for (std::size_t i = 0; i < s.input.size(); ++i) s.input[i] = samples[i];
    if (!s.resampler) {
        put(s.input.data(), n);
        return;
    }
    std::size_t consumed = 0;
    do {
        std::size_t done_in = 0;
        std::size_t done_out = 0;
        const soxr_error_t error = soxr().soxr_process(s.resampler, s.input.data() + consumed * std::size_t(s.channels), n - consumed,
                                                &done_in, s.resampled.data(), kResampledChunk, &done_out);
        if (error) throw tool_error(out_.name(), std::string("cannot resample: ") + error);
        consumed += done_in;
        put(s.resampled.data(), done_out);
    } while (consumed < n);
}

void audio_sink::finish() {
    state& s = *s_;
    if (s.resampler) {
        for (;;) {
            std::size_t done_out = 0;
            const soxr_error_t error =
                soxr().soxr_process(s.resampler, nullptr, 0, nullptr, s.resampled.data(), kResampledChunk, &done_out);
            if (error) throw tool_error(out_.name(), std::string("cannot resample: ") + error);
            if (done_out == 0) break;
            put(s.resampled.data(), done_out);
        }
    }
    if (!s.snd) return;
    SNDFILE* snd = s.snd;
    s.snd = nullptr;
    if (sndfile().sf_close(snd) != 0) throw tool_error(out_.name(), "cannot write audio: " + sndfile_problem(nullptr));
    if (s.in_memory) out_.write(s.memory.bytes.data(), s.memory.bytes.size());
}

} // namespace g729::tool
