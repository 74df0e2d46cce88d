// The formats the tool reads and writes, by the names a command line gives
// them (extensions and --format values) and libsndfile's list of its own.
#pragma once

#include <string>

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
bool is_coded(file_format format);
// Headerless formats: how many samples per second they hold.
int headerless_rate(file_format format);
bool is_headerless(file_format format);

} // namespace g729::tool
