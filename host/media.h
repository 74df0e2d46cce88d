// Media files of the host: raw slin, WAV and G.729 payload files, read and
// written as streams, and converted through the registered translators in
// 20 ms host frames.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace corvane {

// The format an extension stands for: .raw/.sln/.wav are slin, .g729 is g729.
// Empty for anything else.
std::string format_of_path(const std::string& path);

// Reads a media file front to back: samples for slin, bytes for g729. A WAV
// file's header is read on open; a data chunk cut short (a recording that
// was never closed) gives the samples it holds.
class media_reader {
public:
    media_reader() = default;
    ~media_reader();
    media_reader(const media_reader&) = delete;
    media_reader& operator=(const media_reader&) = delete;

    bool open(const std::string& path, std::string& error);
    const std::string& format() const { return format_; }
    // Up to max samples (slin) or bytes (g729); 0 at the end, -1 on a read
    // error (error says which file).
    long read(int16_t* samples, size_t max, std::string& error);
    long read(uint8_t* bytes, size_t max, std::string& error);

private:
    long read_raw(uint8_t* bytes, size_t max, std::string& error);

    std::FILE* file_ = nullptr;
    std::string path_;
    std::string format_;
    uint64_t remaining_ = UINT64_MAX; // bytes of data left; unbounded for raw files
};

// Writes a media file as it comes: beside the target as PATH.part, renamed
// on finish(), so a failure leaves no half file. A WAV header is written
// first and its sizes filled in by finish().
class media_writer {
public:
    media_writer() = default;
    ~media_writer(); // removes the partial file unless finish() succeeded
    media_writer(const media_writer&) = delete;
    media_writer& operator=(const media_writer&) = delete;

    bool open(const std::string& path, std::string& error);
    const std::string& format() const { return format_; }
    bool write(const int16_t* samples, size_t count, std::string& error);
    bool write(const uint8_t* bytes, size_t count, std::string& error);
    bool finish(std::string& error);

private:
    bool fail(std::string& error);

    std::FILE* file_ = nullptr;
    std::string path_;
    std::string temp_;
    std::string format_;
    bool wav_ = false;
    uint64_t data_bytes_ = 0;
};

// A whole file in memory, for comparisons and tests.
struct media_file {
    std::string format;           // "slin" or "g729"
    std::vector<int16_t> samples; // slin
    std::vector<uint8_t> bytes;   // g729 payloads back to back
};

bool read_media(const std::string& path, media_file& out, std::string& error);

struct conversion_report {
    std::string translator;
    std::string in_format;
    std::string out_format;
    int frames_in = 0;            // host frames fed
    int frames_refused = 0;
    long samples = 0;             // audio samples on the slin side
    long codec_frames = 0;        // 10 ms codec frames
    long bytes = 0;               // bytes on the g729 side
    long samples_held = 0;        // input left in the translator, under one codec frame
    double seconds = 0.0;         // processor time spent in the translator
};

// Converts the file in_path to out_path (formats from the extensions)
// through the registered translator, reading and writing 20 ms host frames
// (160 samples or 20 bytes) as they go: memory stays the same whatever the
// length of the file. On failure no output file is left behind. Frames the
// translator refuses are counted in the report, not failures here. A cancel
// requested meanwhile (Ctrl-C at the console) stops it as a failure.
bool convert_file(const std::string& in_path, const std::string& out_path, conversion_report& report,
                  std::string& error);

} // namespace corvane
