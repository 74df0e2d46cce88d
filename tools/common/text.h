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

} // namespace g729::tool
