#include "tools/audio_io.h"

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

#include "tools/tool_error.h"

namespace g729::tool {

namespace {

constexpr std::size_t kReadChunk = 4096; // input frames per read
// libsndfile hands out samples normalised to [-1, 1); this brings them back
// to the 16-bit scale, exactly for 16-bit input.
constexpr double kSampleScale = 32768.0;

std::string lower(std::string s) {
    for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string extension_of(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    const std::size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
    return lower(path.substr(dot + 1));
}

// Extensions libsndfile reads, as it lists them, plus the usual aliases.
const std::set<std::string>& sndfile_extensions() {
    static const std::set<std::string> extensions = [] {
        std::set<std::string> e{"aif", "aifc", "wave", "snd", "ogg", "opus"};
        int count = 0;
        sf_command(nullptr, SFC_GET_FORMAT_MAJOR_COUNT, &count, sizeof count);
        for (int i = 0; i < count; ++i) {
            SF_FORMAT_INFO info{};
            info.format = i;
            if (sf_command(nullptr, SFC_GET_FORMAT_MAJOR, &info, sizeof info) == 0 && info.extension)
                e.insert(lower(info.extension));
        }
        e.erase("raw"); // ours: 8 kHz mono 16-bit, no header
        return e;
    }();
    return extensions;
}

std::string sndfile_problem(SNDFILE* file) {
    std::string text = sf_strerror(file);
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

} // namespace

const char* format_name(file_format format) {
    switch (format) {
    case file_format::raw: return "raw";
    case file_format::wav: return "wav";
    case file_format::sndfile: return "audio";
    case file_format::g729: return "g729";
    case file_format::bit: return "bit";
    case file_format::unknown: break;
    }
    return "unknown";
}

file_format format_from_extension(const std::string& path) {
    const std::string ext = extension_of(path);
    if (ext == "raw" || ext == "sln") return file_format::raw;
    if (ext == "g729") return file_format::g729;
    if (ext == "bit") return file_format::bit;
    if (ext == "wav") return file_format::wav;
    if (!ext.empty() && sndfile_extensions().count(ext)) return file_format::sndfile;
    return file_format::unknown;
}

file_format format_from_name(const std::string& name) {
    if (name == "raw") return file_format::raw;
    if (name == "wav") return file_format::wav;
    if (name == "g729") return file_format::g729;
    if (name == "bit") return file_format::bit;
    return file_format::unknown;
}

bool is_audio(file_format format) {
    return format == file_format::raw || format == file_format::wav || format == file_format::sndfile;
}

// --- audio_source ----------------------------------------------------------

struct audio_source::state {
    std::FILE* raw = nullptr;
    bool owns_raw = false;
    long long raw_bytes = -1; // size of a raw file, when known
    long long raw_read = 0;

    SNDFILE* snd = nullptr;
    std::FILE* snd_file = nullptr; // keeps the descriptor libsndfile reads
    memory_file memory;            // standard input, for libsndfile
    SF_INFO info{};
    long long snd_read = 0;
    std::vector<double> interleaved;
    std::vector<double> mono;

    soxr_t resampler = nullptr;
    std::vector<double> resampled;
    bool at_end = false;

    std::vector<int16_t> pending; // 8 kHz samples not handed out yet
    std::size_t pending_head = 0;

    ~state() {
        if (resampler) soxr_delete(resampler);
        if (snd) sf_close(snd);
        if (snd_file) std::fclose(snd_file);
        if (raw && owns_raw) std::fclose(raw);
    }
};

audio_source::audio_source(const operand& in, file_format format) : s_(std::make_unique<state>()), name_(input_name(in)) {
    if (format == file_format::raw) {
        s_->raw = open_input(in);
        s_->owns_raw = !in.is_std();
        struct stat st;
        if (fstat(fileno(s_->raw), &st) == 0 && S_ISREG(st.st_mode)) {
            s_->raw_bytes = st.st_size;
            if (st.st_size % 2 != 0)
                throw tool_error(name_, "odd length (" + std::to_string(st.st_size) +
                                            " bytes): not 16-bit samples, as a .raw or .sln file must hold");
        }
        return;
    }

    if (in.is_std()) {
        s_->memory.bytes = read_whole(in);
        s_->snd = sf_open_virtual(&memory_io, SFM_READ, &s_->info, &s_->memory);
    } else {
        s_->snd_file = open_input(in);
        s_->snd = sf_open_fd(fileno(s_->snd_file), SFM_READ, &s_->info, SF_FALSE);
    }
    if (!s_->snd) throw tool_error(name_, "cannot read audio: " + sndfile_problem(nullptr));
    const SF_INFO& info = s_->info;
    if (info.channels < 1 || info.samplerate < 1) throw tool_error(name_, "cannot read audio: no channels or no sample rate");

    const bool mixing = info.channels > 1;
    const bool resampling = info.samplerate != kCodecRate;
    if (mixing || resampling) {
        conversion_ = std::to_string(info.samplerate) + " Hz, " + std::to_string(info.channels) +
                      (info.channels == 1 ? " channel: " : " channels: ");
        if (mixing) conversion_ += "mixed to mono";
        if (mixing && resampling) conversion_ += ", ";
        if (resampling) conversion_ += "resampled to 8000 Hz";
    }
    if (resampling) {
        soxr_error_t error = nullptr;
        const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT64_I, SOXR_FLOAT64_I);
        const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
        s_->resampler = soxr_create(double(info.samplerate), double(kCodecRate), 1, &error, &io, &quality, nullptr);
        if (!s_->resampler) throw tool_error(name_, std::string("cannot resample: ") + soxr_strerror(error));
    }
    s_->interleaved.resize(kReadChunk * std::size_t(info.channels));
    s_->mono.resize(kReadChunk);
}

audio_source::~audio_source() = default;

double audio_source::fraction_done() const {
    if (s_->raw) return s_->raw_bytes > 0 ? double(s_->raw_read) / double(s_->raw_bytes) : -1.0;
    return s_->info.frames > 0 ? double(s_->snd_read) / double(s_->info.frames) : -1.0;
}

// Converts more input into s_->pending; false once nothing more will come.
bool audio_source::refill() {
    state& s = *s_;
    if (s.at_end) return false;
    s.pending.erase(s.pending.begin(), s.pending.begin() + std::ptrdiff_t(s.pending_head));
    s.pending_head = 0;

    if (s.raw) {
        uint8_t bytes[2 * kReadChunk];
        const std::size_t n = std::fread(bytes, 1, sizeof bytes, s.raw);
        if (n < sizeof bytes) {
            if (std::ferror(s.raw)) throw tool_error(name_, std::string("cannot read: ") + std::strerror(errno));
            s.at_end = true;
        }
        s.raw_read += (long long)n;
        if (n % 2 != 0)
            throw tool_error(name_, "odd length (" + std::to_string(s.raw_read) +
                                        " bytes): not 16-bit samples, as raw input must hold");
        for (std::size_t i = 0; i < n; i += 2) s.pending.push_back(int16_t(uint16_t(bytes[i] | (bytes[i + 1] << 8))));
        return n > 0 || !s.pending.empty();
    }

    const int channels = s.info.channels;
    const sf_count_t got = sf_readf_double(s.snd, s.interleaved.data(), sf_count_t(kReadChunk));
    if (got < 0 || sf_error(s.snd) != SF_ERR_NO_ERROR) throw tool_error(name_, "cannot read audio: " + sndfile_problem(s.snd));
    s.snd_read += got;
    for (sf_count_t i = 0; i < got; ++i) {
        double sum = 0.0;
        for (int c = 0; c < channels; ++c) sum += s.interleaved[std::size_t(i * channels + c)];
        s.mono[std::size_t(i)] = sum / channels * kSampleScale;
    }
    const bool input_done = got == 0;

    if (!s.resampler) {
        for (sf_count_t i = 0; i < got; ++i) s.pending.push_back(to_sample(s.mono[std::size_t(i)], clipped_));
        if (input_done) s.at_end = true;
        return !s.at_end || !s.pending.empty();
    }
    // Once the input is exhausted, a null input drains the filter; the end
    // is reached when draining yields nothing more.
    s.resampled.resize(std::size_t(double(kReadChunk) * kCodecRate / s.info.samplerate) + 1024);
    std::size_t consumed = 0;
    do {
        std::size_t done_in = 0;
        std::size_t done_out = 0;
        const soxr_error_t error =
            soxr_process(s.resampler, input_done ? nullptr : s.mono.data() + consumed, std::size_t(got) - consumed,
                         &done_in, s.resampled.data(), s.resampled.size(), &done_out);
        if (error) throw tool_error(name_, std::string("cannot resample: ") + error);
        consumed += done_in;
        for (std::size_t i = 0; i < done_out; ++i) s.pending.push_back(to_sample(s.resampled[i], clipped_));
        if (input_done) {
            if (done_out == 0) s.at_end = true;
            break;
        }
    } while (consumed < std::size_t(got));
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
    file_format format = file_format::raw;
    SNDFILE* snd = nullptr;
    memory_file memory;
    bool in_memory = false;
    std::vector<uint8_t> bytes;

    ~state() {
        if (snd) sf_close(snd);
    }
};

audio_sink::audio_sink(output_file& out, file_format format) : s_(std::make_unique<state>()), out_(out) {
    s_->format = format;
    if (format == file_format::raw) return;
    SF_INFO info{};
    info.samplerate = kCodecRate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    if (out.stream() == stdout) {
        s_->in_memory = true;
        s_->snd = sf_open_virtual(&memory_io, SFM_WRITE, &info, &s_->memory);
    } else {
        s_->snd = sf_open_fd(fileno(out.stream()), SFM_WRITE, &info, SF_FALSE);
    }
    if (!s_->snd) throw tool_error(out.name(), "cannot write audio: " + sndfile_problem(nullptr));
}

audio_sink::~audio_sink() = default;

void audio_sink::write(const int16_t* samples, std::size_t n) {
    if (s_->format == file_format::raw) {
        s_->bytes.resize(2 * n);
        for (std::size_t i = 0; i < n; ++i) {
            s_->bytes[2 * i] = uint8_t(uint16_t(samples[i]) & 0xFF);
            s_->bytes[2 * i + 1] = uint8_t(uint16_t(samples[i]) >> 8);
        }
        out_.write(s_->bytes.data(), s_->bytes.size());
        return;
    }
    if (sf_writef_short(s_->snd, samples, sf_count_t(n)) != sf_count_t(n))
        throw tool_error(out_.name(), "cannot write audio: " + sndfile_problem(s_->snd));
}

void audio_sink::finish() {
    if (!s_->snd) return;
    SNDFILE* snd = s_->snd;
    s_->snd = nullptr;
    if (sf_close(snd) != 0) throw tool_error(out_.name(), "cannot write audio: " + sndfile_problem(nullptr));
    if (s_->in_memory) out_.write(s_->memory.bytes.data(), s_->memory.bytes.size());
}

} // namespace g729::tool
