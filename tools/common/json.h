// The tool's JSON output is written by hand; strings go through here.
#pragma once

#include <cstdio>
#include <string>

namespace g729::tool {

// s as a JSON string literal, quotes included: quotes and backslashes
// escaped, newlines and tabs by their short escapes, other control
// characters as \u00XX.
inline std::string json_string(const std::string& s) {
    std::string out = "\"";
    for (const char c : s) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\t': out += "\\t"; break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                char esc[8];
                std::snprintf(esc, sizeof esc, "\\u%04x", static_cast<unsigned char>(c));
                out += esc;
            } else {
                out += c;
            }
        }
    }
    return out + "\"";
}

} // namespace g729::tool
