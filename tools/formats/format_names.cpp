#include "tools/formats/format_names.h"

#include <set>

#include <sndfile.h>

#include "tools/common/text.h"
#include "tools/formats/sndfile_library.h"

namespace g729::tool {

namespace {

// Extensions libsndfile reads, as it lists them, plus the usual aliases.
const std::set<std::string>& sndfile_extensions() {
    static const std::set<std::string> extensions = [] {
        std::set<std::string> e{"aif", "aifc", "wave", "snd", "ogg", "opus"};
        for (const auto& major : sndfile_major_formats()) e.insert(major.first);
        e.erase("raw"); // ours: 8 kHz mono 16-bit, no header
        e.insert("mp3");
        return e;
    }();
    return extensions;
}

struct alias {
    const char* name;
    file_format kind;
    const char* container;
};

// Names for --format / -t and extensions, beside libsndfile's own.
const alias kAliases[] = {
    {"raw", file_format::raw, ""},     {"sln", file_format::raw, ""},     {"slin", file_format::raw, ""},
    {"sln8", file_format::raw, ""},    {"sln16", file_format::sln16, ""}, {"slin16", file_format::sln16, ""},
    {"ulaw", file_format::ulaw, ""},   {"mulaw", file_format::ulaw, ""},  {"pcmu", file_format::ulaw, ""},
    {"ul", file_format::ulaw, ""},     {"alaw", file_format::alaw, ""},   {"pcma", file_format::alaw, ""},
    {"al", file_format::alaw, ""},     {"gsm", file_format::gsm, ""},     {"wav", file_format::wav, ""},
    {"wave", file_format::wav, ""},    {"g729", file_format::g729, ""},   {"bit", file_format::bit, ""},
    {"aif", file_format::sndfile, "aiff"},
};

const alias* find_alias(const std::string& name) {
    for (const alias& a : kAliases)
        if (name == a.name) return &a;
    return nullptr;
}

} // namespace

const char* format_name(file_format format) {
    switch (format) {
    case file_format::raw: return "raw";
    case file_format::sln16: return "sln16";
    case file_format::ulaw: return "ulaw";
    case file_format::alaw: return "alaw";
    case file_format::gsm: return "gsm";
    case file_format::wav: return "wav";
    case file_format::sndfile: return "audio";
    case file_format::g729: return "g729";
    case file_format::bit: return "bit";
    case file_format::unknown: break;
    }
    return "unknown";
}

std::string format_name(const format_id& format) {
    if (format.kind == file_format::sndfile && !format.container.empty()) return format.container;
    return format_name(format.kind);
}

std::string format_extension(const format_id& format) {
    if (!format.container.empty()) return format.container;
    return format.kind == file_format::sndfile ? "wav" : format_name(format.kind);
}

format_id format_id_from_extension(const std::string& path) {
    const std::string ext = extension_of(path);
    if (ext.empty()) return {};
    if (const alias* a = find_alias(ext)) return format_id(a->kind, *a->container ? a->container : ext);
    if (sndfile_extensions().count(ext)) return format_id(file_format::sndfile, ext);
    return {};
}

file_format format_from_extension(const std::string& path) { return format_id_from_extension(path).kind; }

format_id format_from_name(const std::string& name) {
    const std::string n = lower(name);
    if (const alias* a = find_alias(n)) return format_id(a->kind, *a->container ? a->container : n);
    if (n != "raw" && sndfile_extensions().count(n)) return format_id(file_format::sndfile, n);
    return {};
}

bool is_coded(file_format format) { return format == file_format::g729 || format == file_format::bit; }

int headerless_rate(file_format format) { return format == file_format::sln16 ? 16000 : kCodecRate; }

bool is_headerless(file_format format) {
    return format == file_format::raw || format == file_format::sln16 || format == file_format::ulaw ||
           format == file_format::alaw || format == file_format::gsm;
}

} // namespace g729::tool
