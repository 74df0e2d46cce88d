// Audio files in and out. Whatever comes in leaves as 16-bit samples at
// 8 kHz mono, the codec's only input; what goes out is the decoder's 8 kHz
// mono, written in any of the formats below, at 8 kHz or resampled.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "tools/cli/output_file.h"

namespace g729::tool {

constexpr int kCodecRate = 8000;
// Sample rates an audio file may claim. Beyond them a header is more likely
// broken than real, and a resampler's buffers would be sized by nonsense.
constexpr int kMinSampleRate = 1000;
constexpr int kMaxSampleRate = 768000;

enum class file_format {
    raw,     // headerless 16-bit little-endian, 8 kHz mono (.raw, .sln)
    sln16,   // headerless 16-bit little-endian, 16 kHz mono (.sln16)
    ulaw,    // headerless G.711 mu-law, 8 kHz mono (.ulaw, .mulaw, .pcmu)
    alaw,    // headerless G.711 A-law, 8 kHz mono (.alaw, .pcma)
    gsm,     // headerless GSM 06.10 frames, 8 kHz mono (.gsm)
    wav,     // written as WAV; read as anything libsndfile recognises
    sndfile, // another format libsndfile reads or writes (.flac, .aiff, .mp3, ...)
    g729,    // 10-byte frames back to back
    bit,     // serial bitstream of the test vectors
    unknown,
};

// A format and the name it was given by (an extension or a --format value:
// sln, pcmu, ...), which outputs named after their input take as extension.
// For `sndfile` the name is libsndfile's container (flac, aiff, ogg, mp3,
// ...); empty there means "whatever the file's header says", which only
// works for reading.
struct format_id {
    file_format kind = file_format::unknown;
    std::string container;
    format_id() = default;
    format_id(file_format k, std::string c = "") : kind(k), container(std::move(c)) {}
};

const char* format_name(file_format format);
std::string format_name(const format_id& format);
// The extension a file of this format is given (g729, wav, ulaw, flac, ...).
std::string format_extension(const format_id& format);
// From the extension, case-insensitively; unknown when there is none or
// libsndfile has no container of that name.
file_format format_from_extension(const std::string& path);
format_id format_id_from_extension(const std::string& path);
// From a --format / -t value: the names above, their aliases (sln, slin,
// mulaw, pcmu, pcma, ...) or a libsndfile extension (flac, aiff, ...).
format_id format_from_name(const std::string& name);
bool is_audio(file_format format);
bool is_coded(file_format format);
// Headerless formats: how many samples per second they hold.
int headerless_rate(file_format format);
bool is_headerless(file_format format);

class audio_source {
public:
    // Throws tool_error when the file cannot be opened or understood.
    // `format.kind == sndfile` with no container lets libsndfile decide.
    audio_source(const operand& in, const format_id& format);
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

    void open_sndfile(const operand& in, const format_id& format);
    std::size_t fetch(); // source-rate mono samples into the state, 0 at the end
    bool refill();
};

struct sink_options {
    // Samples per second written (resampled from 8 kHz); 0: the format's
    // own rate, 8 kHz for any that has none.
    int rate = 0;
    bool floating = false; // 32-bit float samples where the format has them
    int channels = 1;      // interleaved channels written (2 for a capture's --mix)
};

// The rate audio_sink writes `format` at with these options; usage_error
// when the format cannot hold options.rate (each headerless format holds its
// one rate) or the rate is out of range.
int output_rate(const format_id& format, const sink_options& options);

class audio_sink {
public:
    // Writes 8 kHz samples (options.channels interleaved, mono by default)
    // to `out` in `format`, resampled to
    // options.rate. Nothing reaches standard output before finish() for a
    // format with a header (it needs the final length). Throws tool_error
    // (or usage_error for a rate the format cannot hold).
    audio_sink(output_file& out, const format_id& format, const sink_options& options = {});
    ~audio_sink();
    audio_sink(const audio_sink&) = delete;
    audio_sink& operator=(const audio_sink&) = delete;

    // n frames of options.channels samples each.
    void write(const int16_t* samples, std::size_t n);
    void finish();
    // Samples the resampler pushed beyond the 16-bit range.
    std::size_t clipped() const { return clipped_; }

private:
    struct state;
    std::unique_ptr<state> s_;
    output_file& out_;
    std::size_t clipped_ = 0;

    void put(const double* samples, std::size_t n); // at the output rate, 16-bit scale
};

} // namespace g729::tool
