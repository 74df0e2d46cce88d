#include "tools/formats/audio_source.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <vector>

#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tools/common/input_file.h"
#include "tools/common/text.h"
#include "tools/common/tool_error.h"
#include "tools/formats/resampler.h"
#include "tools/formats/sndfile_library.h"

namespace g729::tool {

namespace {

// Every buffer is bounded, whatever a header claims: a read takes at most
// kReadSamples samples (all channels together).
constexpr std::size_t kReadSamples = 16384;

std::string rate_problem(int rate) {
    return "claims a rate of " + std::to_string(rate) + " Hz; only " + std::to_string(kMinSampleRate) + " to " +
           std::to_string(kMaxSampleRate) + " Hz is taken as audio";
}

} // namespace

struct audio_source::state {
    std::FILE* raw = nullptr; // headerless 16-bit input, read here
    bool owns_raw = false;
    int raw_rate = kCodecRate;
    long long raw_bytes = -1; // size of a raw file, when known
    long long raw_read = 0;

    SNDFILE* snd = nullptr;
    memory_file memory;            // a pipe on standard input, for libsndfile
    SF_INFO info{};
    long long snd_read = 0;
    std::size_t chunk_frames = 0; // input frames per read
    std::vector<double> interleaved;
    std::vector<double> mono; // one read at the source rate, 16-bit scale

    soxr_t resampler = nullptr;
    std::vector<double> resampled;
    bool at_end = false;

    std::vector<int16_t> pending; // 8 kHz samples not handed out yet
    std::size_t pending_head = 0;

    ~state() {
        if (resampler) soxr().soxr_delete(resampler);
        if (snd) sndfile().sf_close(snd);
        if (raw && owns_raw) std::fclose(raw);
    }
};

void audio_source::open_sndfile(const operand& in, const format_id& format) {
    state& s = *s_;
    const int headerless = writable_format(format, kCodecRate, false);
    if (format.kind == file_format::ulaw || format.kind == file_format::alaw || format.kind == file_format::gsm) {
        s.info.format = headerless;
        s.info.samplerate = kCodecRate;
        s.info.channels = 1;
    }
    struct stat st;
    if (in.is_std() && (fstat(STDIN_FILENO, &st) != 0 || !S_ISREG(st.st_mode))) {
        // A pipe cannot seek, and most headers need it: hold the bytes.
        s.memory.bytes = read_whole(in);
        s.snd = sndfile().sf_open_virtual(&memory_io, SFM_READ, &s.info, &s.memory);
    } else {
        // A named file is opened here, where directories are refused; libsndfile
        // reads through its own duplicate of the descriptor.
        std::FILE* file = in.is_std() ? stdin : open_input(in);
        try {
            s.snd = open_sndfile_descriptor(fileno(file), SFM_READ, &s.info, name_);
        } catch (...) {
            if (file != stdin) std::fclose(file);
            throw;
        }
        if (file != stdin) std::fclose(file);
    }
    if (!s.snd) {
        if (in.is_std())
            throw tool_error(name_, "cannot read audio: " + sndfile_problem(nullptr) +
                                        " (headerless samples need --format raw, sln16, ulaw, alaw or gsm)");
        throw tool_error(name_, "cannot read audio: " + sndfile_problem(nullptr));
    }
}

audio_source::audio_source(const operand& in, const format_id& format) : s_(std::make_unique<state>()), name_(input_name(in)) {
    state& s = *s_;
    int rate = kCodecRate;
    int channels = 1;
    if (format.kind == file_format::raw || format.kind == file_format::sln16) {
        s.raw = open_input(in);
        s.owns_raw = !in.is_std();
        s.raw_rate = rate = headerless_rate(format.kind);
        struct stat st;
        if (fstat(fileno(s.raw), &st) == 0 && S_ISREG(st.st_mode)) {
            s.raw_bytes = st.st_size;
            if (st.st_size % 2 != 0)
                throw tool_error(name_, "odd length (" + plural(std::size_t(st.st_size), "byte", "bytes") + "): not 16-bit samples, as " +
                                            (in.is_std() ? std::string("raw input") : "a ." + extension_of(in.path) + " file") +
                                            " must hold");
        }
        s.chunk_frames = kReadSamples;
    } else {
        open_sndfile(in, format);
        rate = s.info.samplerate;
        channels = s.info.channels;
        if (channels < 1) throw tool_error(name_, "cannot read audio: no channels");
        if (rate < kMinSampleRate || rate > kMaxSampleRate) throw tool_error(name_, "cannot read audio: the header " + rate_problem(rate));
        s.chunk_frames = std::max<std::size_t>(1, kReadSamples / std::size_t(channels));
        s.interleaved.resize(s.chunk_frames * std::size_t(channels));
    }
    s.mono.resize(s.chunk_frames);

    const bool mixing = channels > 1;
    const bool resampling = rate != kCodecRate;
    if (mixing || resampling) {
        conversion_ = std::to_string(rate) + " Hz, " + std::to_string(channels) + (channels == 1 ? " channel: " : " channels: ");
        if (mixing) conversion_ += "mixed to mono";
        if (mixing && resampling) conversion_ += ", ";
        if (resampling) conversion_ += "resampled to 8000 Hz";
    }
    if (resampling) {
        s.resampler = make_resampler(rate, kCodecRate, 1, name_);
        s.resampled.resize(kResampledChunk);
    }
}

audio_source::~audio_source() = default;

double audio_source::fraction_done() const {
    if (s_->raw) return s_->raw_bytes > 0 ? double(s_->raw_read) / double(s_->raw_bytes) : -1.0;
    return s_->info.frames > 0 ? double(s_->snd_read) / double(s_->info.frames) : -1.0;
}

std::size_t audio_source::fetch() {
    state& s = *s_;
    if (s.raw) {
        uint8_t bytes[2 * kReadSamples];
        const std::size_t n = std::fread(bytes, 1, 2 * s.chunk_frames, s.raw);
        if (n < 2 * s.chunk_frames && std::ferror(s.raw)) throw tool_error(name_, std::string("cannot read: ") + std::strerror(errno));
        if (s.raw_read == 0 && n >= 12 && (!std::memcmp(bytes, "RIFF", 4) || !std::memcmp(bytes, "RIFX", 4) ||
                                           !std::memcmp(bytes, "RF64", 4)) && !std::memcmp(bytes + 8, "WAVE", 4))
            throw tool_error(name_, "starts with a WAV header, not headerless samples; read it as WAV "
                                    "(a .wav name, --format wav, or no --format on standard input)");
        s.raw_read += (long long)n;
        if (n % 2 != 0)
            throw tool_error(name_, "odd length (" + plural(std::size_t(s.raw_read), "byte", "bytes") + "): not 16-bit samples, as raw input must hold");
        for (std::size_t i = 0; i < n; i += 2) s.mono[i / 2] = double(int16_t(uint16_t(bytes[i] | (bytes[i + 1] << 8))));
        return n / 2;
    }
    const int channels = s.info.channels;
    const sf_count_t got = sndfile().sf_readf_double(s.snd, s.interleaved.data(), sf_count_t(s.chunk_frames));
    if (got < 0 || sndfile().sf_error(s.snd) != SF_ERR_NO_ERROR) throw tool_error(name_, "cannot read audio: " + sndfile_problem(s.snd));
    s.snd_read += got;
    for (sf_count_t i = 0; i < got; ++i) {
        double sum = 0.0;
        for (int c = 0; c < channels; ++c) sum += s.interleaved[std::size_t(i * channels + c)];
        s.mono[std::size_t(i)] = sum / channels * kSampleScale;
    }
    return std::size_t(got);
}

// Converts more input into s_->pending; false once nothing more will come.
bool audio_source::refill() {
    state& s = *s_;
    if (s.at_end) return false;
    s.pending.erase(s.pending.begin(), s.pending.begin() + std::ptrdiff_t(s.pending_head));
    s.pending_head = 0;

    const std::size_t got = fetch();
    const bool input_done = got == 0;
    if (!s.resampler) {
        for (std::size_t i = 0; i < got; ++i) s.pending.push_back(to_sample(s.mono[i], clipped_));
        if (input_done) s.at_end = true;
        return !s.at_end || !s.pending.empty();
    }
    // Once the input is exhausted, a null input drains the filter; the end
    // is reached when draining yields nothing more.
    std::size_t consumed = 0;
    do {
        std::size_t done_in = 0;
        std::size_t done_out = 0;
        const soxr_error_t error = soxr().soxr_process(s.resampler, input_done ? nullptr : s.mono.data() + consumed, got - consumed,
                                                &done_in, s.resampled.data(), s.resampled.size(), &done_out);
        if (error) throw tool_error(name_, std::string("cannot resample: ") + error);
        consumed += done_in;
        for (std::size_t i = 0; i < done_out; ++i) s.pending.push_back(to_sample(s.resampled[i], clipped_));
        if (input_done) {
            if (done_out == 0) s.at_end = true;
            break;
        }
    } while (consumed < got);
    return !s.at_end || !s.pending.empty();
}

std::size_t audio_source::read(int16_t* out, std::size_t n) {
    state& s = *s_;
    std::size_t filled = 0;
    while (filled < n) {
        if (s.pending_head == s.pending.size() && !refill()) break;
        const std::size_t take = std::min(n - filled, s.pending.size() - s.pending_head);
        std::copy_n(s.pending.begin() + std::ptrdiff_t(s.pending_head), take, out + filled);
        s.pending_head += take;
        filled += take;
    }
    return filled;
}

} // namespace g729::tool
