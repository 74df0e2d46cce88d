// Decoded audio made small enough to be carried inside a page: Opus in Ogg
// at 16 kbit/s through libopusenc (about 1.2 MB for ten minutes), loaded
// when first needed; 16-bit WAV at 8 kHz when the library cannot be loaded
// or refuses the audio (eight times the size, but every browser plays it).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace g729::tool {

struct page_audio {
    std::string mime; // audio/ogg or audio/wav
    std::string bytes;
};

// 8 kHz mono samples as Opus in Ogg, or as WAV when Opus is not at hand.
page_audio compress_for_page(const int16_t* samples, std::size_t count);

// The same as WAV, always.
page_audio wav_for_page(const int16_t* samples, std::size_t count);

// bytes in base64, as a data: URI carries them.
std::string base64(const std::string& bytes);

} // namespace g729::tool
