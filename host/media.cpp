#include "host/media.h"

#include <sys/stat.h>
#include <time.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "host/host.h"

namespace corvane {

namespace {

constexpr int kHostFrameSamples = 160; // 20 ms of slin
constexpr int kHostFrameBytes = 20;    // 20 ms of G.729
constexpr int kCodecFrameSamples = 80;
constexpr int kSampleRate = 8000;
constexpr size_t kWavHeaderBytes = 44;

std::string extension_of(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
    std::string ext = path.substr(dot + 1);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return ext;
}

std::string unknown_extension(const std::string& path) {
    return path + ": unknown extension (use .raw, .sln, .wav or .g729)";
}

uint32_t le32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }
uint16_t le16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }

void set32(uint8_t* p, uint32_t x) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(x >> (8 * i));
}
void set16(uint8_t* p, uint16_t x) {
    p[0] = uint8_t(x);
    p[1] = uint8_t(x >> 8);
}

// The 44-byte header of an 8 kHz mono 16-bit PCM WAV file holding
// data_size bytes of samples.
void wav_header(uint8_t* h, uint32_t data_size) {
    std::memcpy(h, "RIFF", 4);
    set32(h + 4, 36 + data_size);
    std::memcpy(h + 8, "WAVEfmt ", 8);
    set32(h + 16, 16);
    set16(h + 20, 1);               // PCM
    set16(h + 22, 1);               // mono
    set32(h + 24, kSampleRate);
    set32(h + 28, kSampleRate * 2); // bytes per second
    set16(h + 32, 2);               // block align
    set16(h + 34, 16);              // bits per sample
    std::memcpy(h + 36, "data", 4);
    set32(h + 40, data_size);
}

double thread_seconds() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

} // namespace

std::string format_of_path(const std::string& path) {
    const std::string ext = extension_of(path);
    if (ext == "raw" || ext == "sln" || ext == "wav") return "slin";
    if (ext == "g729") return "g729";
    return "";
}

// ---- reading ----------------------------------------------------------------

media_reader::~media_reader() {
    if (file_ != nullptr) std::fclose(file_);
}

bool media_reader::open(const std::string& path, std::string& error) {
    path_ = path;
    format_ = format_of_path(path);
    if (format_.empty()) {
        error = unknown_extension(path);
        return false;
    }
    file_ = std::fopen(path.c_str(), "rb");
    if (file_ == nullptr) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    struct stat st;
    const bool sized = fstat(fileno(file_), &st) == 0 && S_ISREG(st.st_mode);
    const uint64_t file_size = sized ? uint64_t(st.st_size) : UINT64_MAX;
    remaining_ = UINT64_MAX;
    if (format_ == "g729") return true;
    if (extension_of(path) != "wav") {
        if (sized && file_size % 2 != 0) {
            error = path + ": odd number of bytes, not 16-bit samples";
            return false;
        }
        return true;
    }

    uint8_t head[12];
    if (std::fread(head, 1, sizeof head, file_) != sizeof head || std::memcmp(head, "RIFF", 4) != 0 ||
        std::memcmp(head + 8, "WAVE", 4) != 0) {
        error = path + ": not a WAV file";
        return false;
    }
    bool have_format = false;
    uint64_t pos = 12;
    uint8_t chunk[8];
    while (std::fread(chunk, 1, sizeof chunk, file_) == sizeof chunk) {
        const uint32_t size = le32(chunk + 4);
        const uint64_t body = pos + 8;
        const bool is_data = std::memcmp(chunk, "data", 4) == 0;
        // A data chunk cut short (a recording that was never closed) still
        // holds its samples; any other chunk is damaged.
        if (sized && size > file_size - body && !is_data) break;
        const uint64_t avail = sized ? std::min<uint64_t>(size, file_size - body) : size;
        if (std::memcmp(chunk, "fmt ", 4) == 0 && avail >= 16) {
            uint8_t fmt[16];
            if (std::fread(fmt, 1, sizeof fmt, file_) != sizeof fmt) break;
            const uint16_t tag = le16(fmt);
            const uint16_t channels = le16(fmt + 2);
            const uint32_t rate = le32(fmt + 4);
            const uint16_t bits = le16(fmt + 14);
            if (tag != 1 || channels != 1 || rate != uint32_t(kSampleRate) || bits != 16) {
                error = path + ": WAV must be 16-bit PCM, mono, 8000 Hz (has format " + std::to_string(tag) + ", " +
                        std::to_string(channels) + " channels, " + std::to_string(rate) + " Hz, " +
                        std::to_string(bits) + " bits)";
                return false;
            }
            have_format = true;
            if (std::fseek(file_, long(avail - 16 + (avail & 1)), SEEK_CUR) != 0) break;
        } else if (is_data) {
            if (!have_format) break;
            remaining_ = avail & ~uint64_t(1);
            return true;
        } else if (std::fseek(file_, long(avail + (avail & 1)), SEEK_CUR) != 0) {
            break;
        }
        pos = body + avail + (avail & 1);
    }
    error = path + ": WAV file has no usable format and data chunks";
    return false;
}

long media_reader::read_raw(uint8_t* bytes, size_t max, std::string& error) {
    const size_t want = size_t(std::min<uint64_t>(max, remaining_));
    const size_t got = want > 0 ? std::fread(bytes, 1, want, file_) : 0;
    if (got < want && std::ferror(file_)) {
        error = path_ + ": read error";
        return -1;
    }
    if (remaining_ != UINT64_MAX) remaining_ -= got;
    return long(got);
}

long media_reader::read(uint8_t* bytes, size_t max, std::string& error) { return read_raw(bytes, max, error); }

long media_reader::read(int16_t* samples, size_t max, std::string& error) {
    uint8_t buf[2 * kHostFrameSamples];
    long total = 0;
    while (size_t(total) < max) {
        const size_t want = std::min(sizeof buf, 2 * (max - size_t(total)));
        const long got = read_raw(buf, want, error);
        if (got < 0) return -1;
        // A last odd byte (a pipe, or a WAV data chunk of odd length) is not
        // a sample.
        for (long i = 0; i + 1 < got; i += 2) samples[total++] = int16_t(le16(buf + i));
        if (size_t(got) < want) break;
    }
    return total;
}

bool read_media(const std::string& path, media_file& out, std::string& error) {
    media_reader reader;
    if (!reader.open(path, error)) return false;
    out.format = reader.format();
    out.samples.clear();
    out.bytes.clear();
    for (;;) {
        long n;
        if (out.format == "g729") {
            uint8_t buf[4096];
            n = reader.read(buf, sizeof buf, error);
            if (n > 0) out.bytes.insert(out.bytes.end(), buf, buf + n);
        } else {
            int16_t buf[2048];
            n = reader.read(buf, 2048, error);
            if (n > 0) out.samples.insert(out.samples.end(), buf, buf + n);
        }
        if (n < 0) return false;
        if (n == 0) return true;
    }
}

// ---- writing ----------------------------------------------------------------

media_writer::~media_writer() {
    if (file_ != nullptr) {
        std::fclose(file_);
        std::remove(temp_.c_str());
    }
}

bool media_writer::fail(std::string& error) {
    error = path_ + ": " + std::strerror(errno);
    std::fclose(file_);
    file_ = nullptr;
    std::remove(temp_.c_str());
    return false;
}

bool media_writer::open(const std::string& path, std::string& error) {
    path_ = path;
    format_ = format_of_path(path);
    if (format_.empty()) {
        error = unknown_extension(path);
        return false;
    }
    wav_ = extension_of(path) == "wav";
    temp_ = path + ".part";
    file_ = std::fopen(temp_.c_str(), "wb");
    if (file_ == nullptr) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    if (wav_) {
        uint8_t header[kWavHeaderBytes];
        wav_header(header, 0); // sizes filled in by finish()
        if (std::fwrite(header, 1, sizeof header, file_) != sizeof header) return fail(error);
    }
    return true;
}

bool media_writer::write(const uint8_t* bytes, size_t count, std::string& error) {
    if (file_ == nullptr) return false;
    if (count > 0 && std::fwrite(bytes, 1, count, file_) != count) return fail(error);
    data_bytes_ += count;
    return true;
}

bool media_writer::write(const int16_t* samples, size_t count, std::string& error) {
    uint8_t buf[2 * kHostFrameSamples];
    for (size_t done = 0; done < count;) {
        const size_t n = std::min(count - done, size_t(kHostFrameSamples));
        for (size_t i = 0; i < n; ++i) set16(buf + 2 * i, uint16_t(samples[done + i]));
        if (!write(buf, 2 * n, error)) return false;
        done += n;
    }
    return true;
}

bool media_writer::finish(std::string& error) {
    if (file_ == nullptr) return false;
    if (wav_) {
        uint8_t header[kWavHeaderBytes];
        wav_header(header, uint32_t(data_bytes_));
        if (std::fseek(file_, 0, SEEK_SET) != 0 || std::fwrite(header, 1, sizeof header, file_) != sizeof header)
            return fail(error);
    }
    const bool flushed = std::fflush(file_) == 0;
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    if (!flushed || !closed || std::rename(temp_.c_str(), path_.c_str()) != 0) {
        error = path_ + ": " + std::strerror(errno);
        std::remove(temp_.c_str());
        return false;
    }
    return true;
}

// ---- conversion -------------------------------------------------------------

bool convert_file(const std::string& in_path, const std::string& out_path, conversion_report& report,
                  std::string& error) {
    report = conversion_report{};
    report.out_format = format_of_path(out_path);
    if (report.out_format.empty()) {
        error = unknown_extension(out_path);
        return false;
    }
    media_reader reader;
    if (!reader.open(in_path, error)) return false;
    report.in_format = reader.format();
    const bool from_slin = report.in_format == "slin";
    const bool to_slin = report.out_format == "slin";

    cvn_translator* t = nullptr;
    if (report.in_format != report.out_format) {
        t = find_translator(report.in_format, report.out_format);
        if (t == nullptr) {
            error = "no translator from " + report.in_format + " to " + report.out_format + " is registered";
            return false;
        }
    }
    media_writer writer;
    if (!writer.open(out_path, error)) return false;

    int16_t samples[kHostFrameSamples];
    uint8_t bytes[kHostFrameBytes];
    // Ctrl-C at the console: the writer's partial file goes, OUT stays.
    auto cancelled = [&] {
        if (!cancel_requested()) return false;
        error = "Cancelled; " + out_path + " is left as it was";
        return true;
    };
    if (t == nullptr) {
        // Same format on both sides: copied frame by frame.
        report.translator = "(none)";
        for (;;) {
            if (cancelled()) return false;
            const long n = from_slin ? reader.read(samples, kHostFrameSamples, error)
                                     : reader.read(bytes, kHostFrameBytes, error);
            if (n < 0) return false;
            if (n == 0) break;
            if (!(from_slin ? writer.write(samples, size_t(n), error) : writer.write(bytes, size_t(n), error)))
                return false;
            if (from_slin) report.samples += n;
        }
        return writer.finish(error);
    }

    report.translator = t->name;
    translation_step step(t);
    long samples_out = 0, bytes_out = 0, bytes_in = 0;
    for (;;) {
        if (cancelled()) return false;
        const long n = from_slin ? reader.read(samples, kHostFrameSamples, error)
                                 : reader.read(bytes, kHostFrameBytes, error);
        if (n < 0) return false;
        if (n == 0) break;
        cvn_frame f{};
        f.frametype = CVN_FRAME_VOICE;
        f.format = format_by_name(report.in_format);
        f.src = "file";
        if (from_slin) {
            f.samples = int(n);
            f.datalen = int(n * 2);
            f.data = samples;
            report.samples += n;
        } else {
            f.samples = 0;
            f.datalen = int(n);
            f.data = bytes;
            bytes_in += n;
        }
        double start = thread_seconds();
        const int accepted = step.framein(&f);
        ++report.frames_in;
        if (accepted != 0) ++report.frames_refused;
        for (;;) {
            cvn_frame* o = step.frameout();
            report.seconds += thread_seconds() - start;
            if (o == nullptr) break;
            const bool written = to_slin ? writer.write(static_cast<const int16_t*>(o->data), size_t(o->samples), error)
                                         : writer.write(static_cast<const uint8_t*>(o->data), size_t(o->datalen), error);
            if (!written) return false;
            samples_out += o->samples;
            bytes_out += o->datalen;
            start = thread_seconds();
        }
    }
    if (!writer.finish(error)) return false;
    if (from_slin) {
        report.bytes = bytes_out;
        report.codec_frames = bytes_out / 10;
        report.samples_held = step.pvt().samples;
    } else {
        report.samples = samples_out;
        report.bytes = bytes_in;
        report.codec_frames = samples_out / kCodecFrameSamples;
    }
    return true;
}

} // namespace corvane
