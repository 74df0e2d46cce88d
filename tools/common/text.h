// Small text helpers every room of the tool shares: lower case, printf into
// a string, and the parts of a file name.
#pragma once

#include <cstddef>
#include <string>

namespace g729::tool {

std::string lower(std::string s);
// "1 frame", "2 frames".
std::string plural(std::size_t n, const char* one, const char* many);
// printf into a string (up to 511 characters).
std::string format_text(const char* format, ...) __attribute__((format(printf, 1, 2)));
// The extension of the last part of a path, in lower case ("wav" for
// "calls/A.WAV"); empty when that part has no dot.
std::string extension_of(const std::string& path);
// The last part of a path without its extension ("a" for "calls/a.wav"); a
// leading dot (".hidden") is part of the name.
std::string stem_of(const std::string& path);
// The folder a path is in: "." for a bare name, "/" for a file at the root.
std::string directory_of(const std::string& path);

// The length of the well-formed UTF-8 sequence at s[i] (1 for ASCII), 0
// when the bytes there are not one (a stray continuation byte, an
// overlong form, a surrogate, a sequence cut short).
std::size_t utf8_length_at(const std::string& s, std::size_t i);

// Text from a capture, safe to print on a terminal: control characters
// (C0, DEL and C1) and bytes that are not UTF-8 written as \xNN, the rest
// (printable ASCII and UTF-8 letters) as it came.
std::string printable_text(const std::string& s);

} // namespace g729::tool
