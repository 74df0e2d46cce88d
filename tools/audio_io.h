// Audio files in and out. Whatever comes in leaves as 16-bit samples at
// 8 kHz mono, the codec's only input; what goes out is written as .wav
// (8 kHz mono 16-bit) or headerless .raw/.sln.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "tools/output_file.h"

namespace g729::tool {

constexpr int kCodecRate = 8000;

enum class file_format {
    raw,     // headerless 16-bit little-endian, 8 kHz mono (.raw, .sln)
    wav,     // written as WAV; read as anything libsndfile recognises
    sndfile, // another extension libsndfile reads (.flac, .aiff, ...)
    g729,    // 10-byte frames back to back
    bit,     // serial bitstream of the test vectors
    unknown,
};

const char* format_name(file_format format);
// From the extension, case-insensitively.
file_format format_from_extension(const std::string& path);
// From the --format argument: raw, g729, bit or wav; unknown otherwise.
file_format format_from_name(const std::string& name);
bool is_audio(file_format format);

class audio_source {
public:
    // Throws tool_error when the file cannot be opened or understood.
    audio_source(const operand& in, file_format format);
    ~audio_source();
    audio_source(const audio_source&) = delete;
    audio_source& operator=(const audio_source&) = delete;

    // Fills up to n samples at 8 kHz mono; fewer only at the end of the input.
    std::size_t read(int16_t* out, std::size_t n);
    // Share of the input consumed so far, or a negative value when unknown.
    double fraction_done() const;
    // What was done to reach 8 kHz mono ("48000 Hz, 2 channels: mixed to
    // mono, resampled to 8000 Hz"), or empty when nothing was.
    const std::string& conversion() const { return conversion_; }
    // Samples that exceeded the 16-bit range and were saturated.
    std::size_t clipped() const { return clipped_; }

private:
    struct state;
    std::unique_ptr<state> s_;
    std::string name_;
    std::string conversion_;
    std::size_t clipped_ = 0;

    bool refill();
};

class audio_sink {
public:
    // format is raw or wav; nothing reaches `out` before finish() for a WAV
    // on standard output (its header needs the final length).
    audio_sink(output_file& out, file_format format);
    ~audio_sink();
    audio_sink(const audio_sink&) = delete;
    audio_sink& operator=(const audio_sink&) = delete;

    void write(const int16_t* samples, std::size_t n);
    void finish();

private:
    struct state;
    std::unique_ptr<state> s_;
    output_file& out_;
};

} // namespace g729::tool
