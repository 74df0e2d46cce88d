#include "tools/formats/audio_io.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <set>
#include <vector>

#include <sndfile.h>
#include <soxr.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tools/cli/progress.h"
#include "tools/cli/shared_library.h"
#include "tools/formats/sndfile_descriptor.h"
#include "tools/cli/text.h"
#include "tools/cli/tool_error.h"

namespace g729::tool {

namespace {

// Every buffer is bounded by these, whatever a header claims: a read takes at
// most kReadSamples samples (all channels together), and the resampler hands
// out at most kResampledChunk samples per call.
constexpr std::size_t kReadSamples = 16384;
constexpr std::size_t kResampledChunk = 16384;
// libsndfile hands out samples normalised to [-1, 1); this brings them back
// to the 16-bit scale, exactly for 16-bit input.
constexpr double kSampleScale = 32768.0;

// libsoxr, loaded when audio is first resampled.
#define G729A_SOXR_FUNCTIONS(F) F(soxr_create) F(soxr_process) F(soxr_delete) F(soxr_io_spec) F(soxr_quality_spec)
G729A_FUNCTION_TABLE(soxr_functions, G729A_SOXR_FUNCTIONS);

const soxr_functions& soxr() {
    static const soxr_functions functions(shared_library(G729A_LIBSOXR_SONAME, "G729A_LIBSOXR", "resampling"));
    return functions;
}

// A high-quality resampler of interleaved doubles; throws tool_error naming
// `name` when there is none.
soxr_t make_resampler(int from_rate, int to_rate, unsigned channels, const std::string& name) {
    const soxr_functions& x = soxr();
    soxr_error_t error = nullptr;
    const soxr_io_spec_t io = x.soxr_io_spec(SOXR_FLOAT64_I, SOXR_FLOAT64_I);
    const soxr_quality_spec_t quality = x.soxr_quality_spec(SOXR_HQ, 0);
    const soxr_t resampler = x.soxr_create(double(from_rate), double(to_rate), channels, &error, &io, &quality, nullptr);
    if (!resampler) throw tool_error(name, std::string("cannot resample: ") + soxr_strerror(error));
    return resampler;
}

// Extensions libsndfile reads, as it lists them, plus the usual aliases.
const std::set<std::string>& sndfile_extensions() {
    static const std::set<std::string> extensions = [] {
        std::set<std::string> e{"aif", "aifc", "wave", "snd", "ogg", "opus"};
        const sndfile_functions& sf = sndfile();
        int count = 0;
        sf.sf_command(nullptr, SFC_GET_FORMAT_MAJOR_COUNT, &count, sizeof count);
        for (int i = 0; i < count; ++i) {
            SF_FORMAT_INFO info{};
            info.format = i;
            if (sf.sf_command(nullptr, SFC_GET_FORMAT_MAJOR, &info, sizeof info) == 0 && info.extension)
                e.insert(lower(info.extension));
        }
        e.erase("raw"); // ours: 8 kHz mono 16-bit, no header
        e.insert("mp3");
        return e;
    }();
    return extensions;
}

std::string sndfile_problem(SNDFILE* file) {
    std::string text = sndfile().sf_strerror(file);
    while (!text.empty() && (text.back() == '.' || text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
}

int16_t to_sample(double x, std::size_t& clipped) {
    const double r = std::round(x);
    if (r > 32767.0) {
        ++clipped;
        return 32767;
    }
    if (r < -32768.0) {
        ++clipped;
        return -32768;
    }
    if (std::isnan(r)) return 0;
    return int16_t(r);
}

// A file held in memory, for libsndfile's virtual I/O: standard input cannot
// seek, and a WAV header written to standard output needs the final length.
struct memory_file {
    std::vector<uint8_t> bytes;
    sf_count_t position = 0;
};

sf_count_t memory_length(void* user) { return sf_count_t(static_cast<memory_file*>(user)->bytes.size()); }

sf_count_t memory_seek(sf_count_t offset, int whence, void* user) {
    auto* m = static_cast<memory_file*>(user);
    const sf_count_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? m->position : sf_count_t(m->bytes.size());
    if (base + offset < 0) return -1;
    m->position = base + offset;
    return m->position;
}

sf_count_t memory_read(void* ptr, sf_count_t count, void* user) {
    auto* m = static_cast<memory_file*>(user);
    const sf_count_t size = sf_count_t(m->bytes.size());
    const sf_count_t n = std::max<sf_count_t>(0, std::min(count, size - m->position));
    if (n > 0) std::memcpy(ptr, m->bytes.data() + m->position, std::size_t(n));
    m->position += n;
    return n;
}

sf_count_t memory_write(const void* ptr, sf_count_t count, void* user) {
    auto* m = static_cast<memory_file*>(user);
    const std::size_t end = std::size_t(m->position + count);
    if (end > m->bytes.size()) m->bytes.resize(end);
    std::memcpy(m->bytes.data() + m->position, ptr, std::size_t(count));
    m->position += count;
    return count;
}

sf_count_t memory_tell(void* user) { return static_cast<memory_file*>(user)->position; }

SF_VIRTUAL_IO memory_io{memory_length, memory_seek, memory_read, memory_write, memory_tell};


// Standard output for libsndfile, passed straight through: for headerless
// formats, which it writes front to back without seeking.
struct passthrough_file {
    output_file* out = nullptr;
    sf_count_t position = 0;
};

sf_count_t passthrough_length(void* user) { return static_cast<passthrough_file*>(user)->position; }

sf_count_t passthrough_seek(sf_count_t offset, int whence, void* user) {
    auto* p = static_cast<passthrough_file*>(user);
    const sf_count_t target = whence == SEEK_SET ? offset : p->position + offset;
    return target == p->position ? p->position : -1;
}

sf_count_t passthrough_read(void*, sf_count_t, void*) { return 0; }

sf_count_t passthrough_write(const void* ptr, sf_count_t count, void* user) {
    auto* p = static_cast<passthrough_file*>(user);
    p->out->write(ptr, std::size_t(count));
    p->position += count;
    return count;
}

sf_count_t passthrough_tell(void* user) { return static_cast<passthrough_file*>(user)->position; }

SF_VIRTUAL_IO passthrough_io{passthrough_length, passthrough_seek, passthrough_read, passthrough_write, passthrough_tell};

struct alias {
    const char* name;
    file_format kind;
    const char* container;
};

// Names for --format / -t and extensions, beside libsndfile's own.
const alias kAliases[] = {
    {"raw", file_format::raw, ""},     {"sln", file_format::raw, ""},     {"slin", file_format::raw, ""},
    {"sln8", file_format::raw, ""},    {"sln16", file_format::sln16, ""}, {"slin16", file_format::sln16, ""},
    {"ulaw", file_format::ulaw, ""},   {"mulaw", file_format::ulaw, ""},  {"pcmu", file_format::ulaw, ""},
    {"ul", file_format::ulaw, ""},     {"alaw", file_format::alaw, ""},   {"pcma", file_format::alaw, ""},
    {"al", file_format::alaw, ""},     {"gsm", file_format::gsm, ""},     {"wav", file_format::wav, ""},
    {"wave", file_format::wav, ""},    {"g729", file_format::g729, ""},   {"bit", file_format::bit, ""},
    {"aif", file_format::sndfile, "aiff"},
};

const alias* find_alias(const std::string& name) {
    for (const alias& a : kAliases)
        if (name == a.name) return &a;
    return nullptr;
}

int major_of(const std::string& container) {
    if (container == "mp3") return SF_FORMAT_MPEG;
    // libsndfile lists Ogg under .oga; .ogg is the name people use for the
    // same container.
    if (container == "opus" || container == "oga" || container == "ogg") return SF_FORMAT_OGG;
    const sndfile_functions& sf = sndfile();
    int count = 0;
    sf.sf_command(nullptr, SFC_GET_FORMAT_MAJOR_COUNT, &count, sizeof count);
    for (int i = 0; i < count; ++i) {
        SF_FORMAT_INFO info{};
        info.format = i;
        if (sf.sf_command(nullptr, SFC_GET_FORMAT_MAJOR, &info, sizeof info) == 0 && info.extension &&
            lower(info.extension) == container)
            return info.format;
    }
    if (container == "aiff" || container == "aifc") return SF_FORMAT_AIFF;
    if (container == "snd") return SF_FORMAT_AU;
    return 0;
}

// A complete libsndfile format for writing one channel at `rate`: the major
// format of the container and a sample encoding it accepts, 16-bit integer
// (or float) when it has them. 0 when there is none.
int writable_format(const format_id& format, int rate, bool floating) {
    int major = 0;
    switch (format.kind) {
    case file_format::ulaw: return SF_FORMAT_RAW | SF_FORMAT_ULAW;
    case file_format::alaw: return SF_FORMAT_RAW | SF_FORMAT_ALAW;
    case file_format::gsm: return SF_FORMAT_RAW | SF_FORMAT_GSM610;
    case file_format::wav: major = SF_FORMAT_WAV; break;
    case file_format::sndfile: major = major_of(format.container); break;
    default: return 0;
    }
    if (major == 0) return 0;
    const sndfile_functions& sf = sndfile();
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = 1;
    const int preferred = floating ? SF_FORMAT_FLOAT : SF_FORMAT_PCM_16;
    info.format = major | preferred;
    if (sf.sf_format_check(&info)) return info.format;
    if (floating) return 0;
    // Containers of one codec each: Ogg carries Vorbis unless named .opus.
    const int codec = format.container == "mp3"                                ? SF_FORMAT_MPEG_LAYER_III
                      : format.container == "opus"                             ? SF_FORMAT_OPUS
                      : format.container == "ogg" || format.container == "oga" ? SF_FORMAT_VORBIS
                                                                               : 0;
    if (codec != 0) {
        info.format = major | codec;
        return sf.sf_format_check(&info) ? info.format : 0;
    }
    int count = 0;
    sf.sf_command(nullptr, SFC_GET_FORMAT_SUBTYPE_COUNT, &count, sizeof count);
    for (int i = 0; i < count; ++i) {
        SF_FORMAT_INFO sub{};
        sub.format = i;
        if (sf.sf_command(nullptr, SFC_GET_FORMAT_SUBTYPE, &sub, sizeof sub) != 0) continue;
        info.format = major | sub.format;
        if (sf.sf_format_check(&info)) return info.format;
    }
    return 0;
}

std::string rate_problem(int rate) {
    return "claims a rate of " + std::to_string(rate) + " Hz; only " + std::to_string(kMinSampleRate) + " to " +
           std::to_string(kMaxSampleRate) + " Hz is taken as audio";
}

} // namespace

const char* format_name(file_format format) {
    switch (format) {
    case file_format::raw: return "raw";
    case file_format::sln16: return "sln16";
    case file_format::ulaw: return "ulaw";
    case file_format::alaw: return "alaw";
    case file_format::gsm: return "gsm";
    case file_format::wav: return "wav";
    case file_format::sndfile: return "audio";
    case file_format::g729: return "g729";
    case file_format::bit: return "bit";
    case file_format::unknown: break;
    }
    return "unknown";
}

std::string format_name(const format_id& format) {
    if (format.kind == file_format::sndfile && !format.container.empty()) return format.container;
    return format_name(format.kind);
}

std::string format_extension(const format_id& format) {
    if (!format.container.empty()) return format.container;
    return format.kind == file_format::sndfile ? "wav" : format_name(format.kind);
}

format_id format_id_from_extension(const std::string& path) {
    const std::string ext = extension_of(path);
    if (ext.empty()) return {};
    if (const alias* a = find_alias(ext)) return format_id(a->kind, *a->container ? a->container : ext);
    if (sndfile_extensions().count(ext)) return format_id(file_format::sndfile, ext);
    return {};
}

file_format format_from_extension(const std::string& path) { return format_id_from_extension(path).kind; }

format_id format_from_name(const std::string& name) {
    const std::string n = lower(name);
    if (const alias* a = find_alias(n)) return format_id(a->kind, *a->container ? a->container : n);
    if (n != "raw" && sndfile_extensions().count(n)) return format_id(file_format::sndfile, n);
    return {};
}

bool is_audio(file_format format) {
    return format != file_format::g729 && format != file_format::bit && format != file_format::unknown;
}

bool is_coded(file_format format) { return format == file_format::g729 || format == file_format::bit; }

int headerless_rate(file_format format) { return format == file_format::sln16 ? 16000 : kCodecRate; }

bool is_headerless(file_format format) {
    return format == file_format::raw || format == file_format::sln16 || format == file_format::ulaw ||
           format == file_format::alaw || format == file_format::gsm;
}

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

// --- audio_source ----------------------------------------------------------

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

// --- audio_sink ------------------------------------------------------------

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
