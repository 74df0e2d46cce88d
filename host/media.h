// Media files of the host: raw slin, WAV and G.729 payload files, converted
// through the registered translators in 20 ms host frames.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace corvane {

struct media_file {
    std::string format;          // "slin" or "g729"
    std::vector<int16_t> samples; // slin
    std::vector<uint8_t> bytes;  // g729 payloads back to back
};

// The format an extension stands for: .raw/.sln/.wav are slin, .g729 is g729.
// Empty for anything else.
std::string format_of_path(const std::string& path);

bool read_media(const std::string& path, media_file& out, std::string& error);
bool write_media(const std::string& path, const media_file& in, std::string& error);

struct conversion_report {
    std::string translator;
    int frames_in = 0;            // host frames fed
    int frames_refused = 0;
    long samples = 0;             // audio samples on the slin side
    long codec_frames = 0;        // 10 ms codec frames
    long bytes = 0;               // bytes on the g729 side
    long samples_held = 0;        // input left in the translator, under one codec frame
    double seconds = 0.0;         // processor time spent in the translator
};

// Converts in to the format of out through the registered translator, in
// 20 ms host frames (160 samples or 20 bytes).
bool convert_media(const media_file& in, media_file& out, conversion_report& report, std::string& error);

struct comparison {
    int delay = 0;                // samples by which the test signal lags
    double reference_level = 0.0; // dBov
    double test_level = 0.0;      // dBov
    double snr = 0.0;             // dB
    double segmental_snr = 0.0;   // dB
    long samples = 0;             // compared
};

// Aligns test to reference (delay 0 to 160 samples, best correlation) and
// compares levels and the waveform.
comparison compare_audio(const std::vector<int16_t>& reference, const std::vector<int16_t>& test);

} // namespace corvane
