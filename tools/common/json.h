// The tool's JSON output is written by hand; strings go through here.
#pragma once

#include <cstdio>
#include <string>

#include "tools/common/text.h"

namespace g729::tool {

// s as a JSON string literal, quotes included: quotes and backslashes
// escaped, newlines and tabs by their short escapes, other control
// characters as \u00XX; a byte that is not part of well-formed UTF-8 (a
// file name or a SIP header may hold any) as \u00XX too, read as Latin-1,
// so that the output is always JSON a parser accepts.
inline std::string json_string(const std::string& s) {
    std::string out = "\"";
    auto escape = [&out](char c) {
        char esc[8];
        std::snprintf(esc, sizeof esc, "\\u%04x", static_cast<unsigned char>(c));
        out += esc;
    };
    for (std::size_t i = 0; i < s.size(); ++i) {
        const char c = s[i];
        if (static_cast<unsigned char>(c) >= 0x80) {
            const std::size_t n = utf8_length_at(s, i);
            if (n == 0) {
                escape(c);
            } else {
                out.append(s, i, n);
                i += n - 1;
            }
            continue;
        }
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\t': out += "\\t"; break;
        default:
            if (static_cast<unsigned char>(c) < 0x20)
                escape(c);
            else
                out += c;
        }
    }
    return out + "\"";
}

} // namespace g729::tool
