#include "host/media.h"

#include <time.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

#include "host/host.h"

namespace corvane {

namespace {

constexpr int kHostFrameSamples = 160; // 20 ms of slin
constexpr int kHostFrameBytes = 20;    // 20 ms of G.729
constexpr int kCodecFrameSamples = 80;
constexpr int kSampleRate = 8000;
// Mean energy per sample of a -50 dBov segment.
const double kSilentSegmentEnergy = std::pow(32768.0 * std::pow(10.0, -50.0 / 20.0), 2.0);

std::string extension_of(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
    std::string ext = path.substr(dot + 1);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return ext;
}

uint32_t le32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }
uint16_t le16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }

void put32(std::vector<uint8_t>& v, uint32_t x) {
    for (int i = 0; i < 4; ++i) v.push_back(uint8_t(x >> (8 * i)));
}
void put16(std::vector<uint8_t>& v, uint16_t x) {
    v.push_back(uint8_t(x));
    v.push_back(uint8_t(x >> 8));
}

std::vector<int16_t> samples_of(const uint8_t* p, size_t count) {
    std::vector<int16_t> s(count);
    for (size_t i = 0; i < count; ++i) s[i] = int16_t(le16(p + 2 * i));
    return s;
}

bool parse_wav(const std::string& path, const std::vector<uint8_t>& b, std::vector<int16_t>& out, std::string& error) {
    if (b.size() < 12 || std::memcmp(b.data(), "RIFF", 4) != 0 || std::memcmp(b.data() + 8, "WAVE", 4) != 0) {
        error = path + ": not a WAV file";
        return false;
    }
    bool have_format = false;
    size_t pos = 12;
    while (pos + 8 <= b.size()) {
        const uint32_t size = le32(&b[pos + 4]);
        const size_t body = pos + 8;
        if (size > b.size() - body) {
            // A data chunk cut short (a recording that was never closed)
            // still holds its samples; any other chunk is damaged.
            if (std::memcmp(&b[pos], "data", 4) != 0) break;
        }
        const size_t avail = std::min<size_t>(size, b.size() - body);
        if (std::memcmp(&b[pos], "fmt ", 4) == 0 && avail >= 16) {
            const uint16_t tag = le16(&b[body]);
            const uint16_t channels = le16(&b[body + 2]);
            const uint32_t rate = le32(&b[body + 4]);
            const uint16_t bits = le16(&b[body + 14]);
            if (tag != 1 || channels != 1 || rate != uint32_t(kSampleRate) || bits != 16) {
                error = path + ": WAV must be 16-bit PCM, mono, 8000 Hz (has format " + std::to_string(tag) + ", " +
                        std::to_string(channels) + " channels, " + std::to_string(rate) + " Hz, " +
                        std::to_string(bits) + " bits)";
                return false;
            }
            have_format = true;
        } else if (std::memcmp(&b[pos], "data", 4) == 0) {
            if (!have_format) break;
            out = samples_of(&b[body], avail / 2);
            return true;
        }
        pos = body + avail + (avail & 1);
    }
    error = path + ": WAV file has no usable format and data chunks";
    return false;
}

double thread_seconds() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

double level_dbov(double energy, long n) {
    if (n <= 0 || energy <= 0.0) return -100.0;
    return 10.0 * std::log10(energy / double(n) / (32768.0 * 32768.0));
}

} // namespace

std::string format_of_path(const std::string& path) {
    const std::string ext = extension_of(path);
    if (ext == "raw" || ext == "sln" || ext == "wav") return "slin";
    if (ext == "g729") return "g729";
    return "";
}

bool read_media(const std::string& path, media_file& out, std::string& error) {
    out.format = format_of_path(path);
    if (out.format.empty()) {
        error = path + ": unknown extension (use .raw, .sln, .wav or .g729)";
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) {
        error = path + ": read error";
        return false;
    }
    out.samples.clear();
    out.bytes.clear();
    if (out.format == "g729") {
        out.bytes = std::move(bytes);
        return true;
    }
    if (extension_of(path) == "wav") return parse_wav(path, bytes, out.samples, error);
    if (bytes.size() % 2 != 0) {
        error = path + ": odd number of bytes, not 16-bit samples";
        return false;
    }
    out.samples = samples_of(bytes.data(), bytes.size() / 2);
    return true;
}

bool write_media(const std::string& path, const media_file& in, std::string& error) {
    const std::string format = format_of_path(path);
    if (format.empty()) {
        error = path + ": unknown extension (use .raw, .sln, .wav or .g729)";
        return false;
    }
    if (format != in.format) {
        error = path + ": holds " + format + ", not " + in.format;
        return false;
    }
    std::vector<uint8_t> bytes;
    if (format == "g729") {
        bytes = in.bytes;
    } else {
        const uint32_t data_size = uint32_t(in.samples.size() * 2);
        if (extension_of(path) == "wav") {
            bytes.insert(bytes.end(), {'R', 'I', 'F', 'F'});
            put32(bytes, 36 + data_size);
            bytes.insert(bytes.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
            put32(bytes, 16);
            put16(bytes, 1);                   // PCM
            put16(bytes, 1);                   // mono
            put32(bytes, kSampleRate);
            put32(bytes, kSampleRate * 2);     // bytes per second
            put16(bytes, 2);                   // block align
            put16(bytes, 16);                  // bits per sample
            bytes.insert(bytes.end(), {'d', 'a', 't', 'a'});
            put32(bytes, data_size);
        }
        for (int16_t s : in.samples) put16(bytes, uint16_t(s));
    }
    // Written beside the target and renamed, so a failure leaves no half file.
    const std::string temp = path + ".part";
    std::FILE* f = std::fopen(temp.c_str(), "wb");
    if (f == nullptr) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    const bool ok = (bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size());
    const bool closed = std::fclose(f) == 0;
    if (!ok || !closed || std::rename(temp.c_str(), path.c_str()) != 0) {
        error = path + ": " + std::strerror(errno);
        std::remove(temp.c_str());
        return false;
    }
    return true;
}

bool convert_media(const media_file& in, media_file& out, conversion_report& report, std::string& error) {
    report = conversion_report{};
    if (in.format == out.format) {
        out.samples = in.samples;
        out.bytes = in.bytes;
        report.translator = "(none)";
        report.samples = long(in.samples.size());
        return true;
    }
    cvn_translator* t = find_translator(in.format, out.format);
    if (t == nullptr) {
        error = "no translator from " + in.format + " to " + out.format + " is registered";
        return false;
    }
    report.translator = t->name;
    out.samples.clear();
    out.bytes.clear();

    translation_step step(t);
    const bool from_slin = in.format == "slin";
    const size_t total = from_slin ? in.samples.size() : in.bytes.size();
    const size_t chunk = from_slin ? kHostFrameSamples : kHostFrameBytes;
    double seconds = 0.0;
    for (size_t pos = 0; pos < total; pos += chunk) {
        const size_t n = std::min(chunk, total - pos);
        cvn_frame f{};
        f.frametype = CVN_FRAME_VOICE;
        f.format = format_by_name(in.format);
        f.src = "file";
        if (from_slin) {
            f.samples = int(n);
            f.datalen = int(n * 2);
            f.data = const_cast<int16_t*>(in.samples.data() + pos);
        } else {
            f.samples = 0;
            f.datalen = int(n);
            f.data = const_cast<uint8_t*>(in.bytes.data() + pos);
        }
        const double start = thread_seconds();
        const int accepted = step.framein(&f);
        ++report.frames_in;
        if (accepted != 0) ++report.frames_refused;
        while (cvn_frame* o = step.frameout()) {
            if (out.format == "g729") {
                const uint8_t* d = static_cast<const uint8_t*>(o->data);
                out.bytes.insert(out.bytes.end(), d, d + o->datalen);
            } else {
                const int16_t* d = static_cast<const int16_t*>(o->data);
                out.samples.insert(out.samples.end(), d, d + o->samples);
            }
        }
        seconds += thread_seconds() - start;
    }
    report.seconds = seconds;
    if (from_slin) {
        report.samples = long(in.samples.size());
        report.bytes = long(out.bytes.size());
        report.codec_frames = long(out.bytes.size() / 10);
        report.samples_held = step.pvt().samples;
    } else {
        report.samples = long(out.samples.size());
        report.bytes = long(in.bytes.size());
        report.codec_frames = long(out.samples.size() / kCodecFrameSamples);
    }
    return true;
}

comparison compare_audio(const std::vector<int16_t>& reference, const std::vector<int16_t>& test) {
    comparison c;
    const long n_ref = long(reference.size());
    const long n_test = long(test.size());
    double best = -1e300;
    for (int d = 0; d <= 160; ++d) {
        const long n = std::min(n_ref, n_test - d);
        if (n <= 0) break;
        double xy = 0.0, yy = 0.0;
        for (long i = 0; i < n; ++i) {
            xy += double(reference[i]) * double(test[i + d]);
            yy += double(test[i + d]) * double(test[i + d]);
        }
        const double score = yy > 0.0 ? xy / std::sqrt(yy) : 0.0;
        if (score > best) {
            best = score;
            c.delay = d;
        }
    }
    const long n = std::max(0L, std::min(n_ref, n_test - c.delay));
    double e_ref = 0.0, e_test = 0.0, e_err = 0.0, seg_sum = 0.0;
    int segments = 0;
    for (long s = 0; s < n; s += kCodecFrameSamples) {
        double sr = 0.0, se = 0.0;
        const long end = std::min(n, s + kCodecFrameSamples);
        for (long i = s; i < end; ++i) {
            const double x = reference[i];
            const double y = test[i + c.delay];
            sr += x * x;
            se += (x - y) * (x - y);
            e_test += y * y;
        }
        e_ref += sr;
        e_err += se;
        // Segments quieter than -50 dBov say nothing of the coding; the
        // usual clamp keeps single segments from dominating.
        if (sr >= double(end - s) * kSilentSegmentEnergy) {
            const double snr = se > 0.0 ? 10.0 * std::log10(sr / se) : 35.0;
            seg_sum += std::min(35.0, std::max(-10.0, snr));
            ++segments;
        }
    }
    c.samples = n;
    c.reference_level = level_dbov(e_ref, n);
    c.test_level = level_dbov(e_test, n);
    c.snr = e_err > 0.0 ? 10.0 * std::log10(e_ref / e_err) : 99.0;
    c.segmental_snr = segments > 0 ? seg_sum / segments : 0.0;
    return c;
}

} // namespace corvane
