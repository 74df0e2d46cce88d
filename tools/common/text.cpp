#include "tools/common/text.h"

#include <cctype>
#include <cstdarg>
#include <cstdint>
#include <cstdio>

namespace g729::tool {

std::string lower(std::string s) {
    for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string plural(std::size_t n, const char* one, const char* many) { return std::to_string(n) + " " + (n == 1 ? one : many); }

std::string format_text(const char* format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

std::string extension_of(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    const std::size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
    return lower(path.substr(dot + 1));
}

std::string stem_of(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    const std::size_t dot = base.find_last_of('.');
    if (dot != std::string::npos && dot > 0) base.erase(dot);
    return base;
}

std::string directory_of(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}


std::size_t utf8_length_at(const std::string& s, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char b = byte(i);
    if (b < 0x80) return 1;
    std::size_t n = 0;
    uint32_t code = 0;
    if (b >= 0xC2 && b <= 0xDF) {
        n = 2;
        code = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
        n = 3;
        code = b & 0x0F;
    } else if (b >= 0xF0 && b <= 0xF4) {
        n = 4;
        code = b & 0x07;
    } else {
        return 0;
    }
    if (s.size() - i < n) return 0;
    for (std::size_t k = 1; k < n; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
        code = code << 6 | (byte(i + k) & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are no UTF-8.
    if ((n == 3 && code < 0x800) || (n == 4 && (code < 0x10000 || code > 0x10FFFF)) || (code >= 0xD800 && code <= 0xDFFF))
        return 0;
    return n;
}

std::string printable_text(const std::string& s) {
    std::string out;
    out.reserve(s.size());
    std::size_t i = 0;
    while (i < s.size()) {
        const std::size_t n = utf8_length_at(s, i);
        const unsigned char b = static_cast<unsigned char>(s[i]);
        // U+0080..U+009F, C1 controls, are C2 80..C2 9F.
        const bool control = n == 1 ? (b < 0x20 || b == 0x7F)
                                    : n == 2 && b == 0xC2 && static_cast<unsigned char>(s[i + 1]) < 0xA0;
        if (n == 0 || control) {
            const std::size_t bytes = n == 0 ? 1 : n;
            for (std::size_t k = 0; k < bytes; ++k) out += format_text("\\x%02x", static_cast<unsigned char>(s[i + k]));
            i += bytes;
        } else {
            out.append(s, i, n);
            i += n;
        }
    }
    return out;
}

} // namespace g729::tool
