#include "tools/cli/options.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <regex>

#include "tools/capture/jitter_buffer.h"
#include "tools/common/text.h"
#include "tools/common/tool_error.h"
#include "tools/formats/format_names.h"

namespace g729::tool {

const char* const kCommandNames[kCommandCount] = {"encode", "decode", "roundtrip", "info", "dump", "plot", "convert", "report"};

namespace {

constexpr unsigned kAllCommands = (1u << kCommandCount) - 1;
constexpr unsigned kBatchCommands = for_encode | for_decode | for_roundtrip | for_convert;
constexpr unsigned kCaptureCommands = for_decode | for_info | for_dump | for_plot | for_convert | for_report;

// The longest --max-gap or --max-audio: a year, far beyond any call, and
// small enough that sample counts of it cannot overflow.
constexpr long kMaxCaptureSeconds = 366L * 24 * 3600;

unsigned number(const std::string& option, const std::string& value, long low, long high) {
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(value.c_str(), &end, 10);
    if (value.empty() || *end != '\0' || errno != 0 || v < low || v > high)
        throw usage_error(option + " needs a number from " + std::to_string(low) + " to " + std::to_string(high) + ", not '" + value +
                          "'");
    return unsigned(v);
}

format_id format_value(const std::string& option, const std::string& value) {
    const format_id f = format_from_name(value);
    if (f.kind == file_format::unknown)
        throw usage_error("unknown " + option + " '" + value +
                          "' (g729, bit, raw, sln16, ulaw, alaw, gsm, wav, or a libsndfile extension such as flac)");
    return f;
}

// An SSRC as info shows it: hexadecimal, with or without 0x.
uint32_t ssrc_value(const std::string& text) {
    std::string digits = lower(text);
    if (digits.rfind("0x", 0) == 0) digits = digits.substr(2);
    bool valid = !digits.empty() && digits.size() <= 8;
    uint32_t value = 0;
    for (char c : digits) {
        valid = valid && std::isxdigit(static_cast<unsigned char>(c));
        value = value * 16 + uint32_t(std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : c - 'a' + 10);
    }
    if (!valid) throw usage_error("--stream takes an SSRC in hexadecimal, as info shows it, not '" + text + "'");
    return value;
}

// "20", "adaptive": a fixed delay in ms (0-1000), or the adaptive buffer.
jitter_buffer_setting jitter_buffer_value(const std::string& value) {
    if (value == "adaptive") return jitter_buffer_setting{true, kAdaptiveMinDelayMs};
    char* end = nullptr;
    const long ms = std::strtol(value.c_str(), &end, 10);
    if (value.empty() || *end != '\0' || ms < 0 || ms > 1000)
        throw usage_error("--jitter-buffer takes a delay in ms from 0 to 1000, or adaptive, not '" + value + "'");
    return jitter_buffer_setting{false, double(ms)};
}

// The days from 1970-01-01 to a date of the proleptic Gregorian calendar.
int64_t days_from_civil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = unsigned(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + int64_t(doe) - 719468;
}

// "12.5": seconds from the start; "10:00:05.25" (or "10:00"): a time of
// day; "2024-01-02 10:00:05.25" (or with a T): a date and time; all on the
// capture's clock, UTC, as the picture's axis shows them.
time_bound time_bound_value(const std::string& option, const std::string& value) {
    const auto refuse = [&] {
        return usage_error(option + " takes seconds from the start (0 to " + std::to_string(kMaxCaptureSeconds) +
                           "), a time of day (HH:MM:SS.sss) or a date and time (YYYY-MM-DD HH:MM:SS.sss) on the capture's "
                           "clock, UTC; not '" + value + "'");
    };
    // The patterns below are matched by recursion: a value longer than any
    // time is refused before it could run the stack out.
    if (value.size() > 40) throw refuse();
    time_bound t;
    t.text = value;
    static const std::regex decimal(R"(^(\d+(\.\d*)?|\.\d+)$)");
    if (std::regex_match(value, decimal)) {
        const double v = std::strtod(value.c_str(), nullptr);
        if (!(v <= double(kMaxCaptureSeconds))) throw refuse();
        t.seconds = v;
        return t;
    }
    static const std::regex clock(R"(^(?:(\d{4})-(\d{2})-(\d{2})[ T])?(\d{1,2}):(\d{2})(?::(\d{2}(?:\.\d{1,9})?))?$)");
    std::smatch m;
    if (!std::regex_match(value, m, clock)) throw refuse();
    const int hours = std::stoi(m[4]), minutes = std::stoi(m[5]);
    const double seconds = m[6].matched ? std::stod(m[6]) : 0.0;
    if (hours > 23 || minutes > 59 || seconds >= 60.0) throw refuse();
    t.seconds = hours * 3600.0 + minutes * 60.0 + seconds;
    t.of = time_bound::kind::time_of_day;
    if (m[1].matched) {
        // Within the years a capture's clock (64-bit nanoseconds) can tell.
        const int year = std::stoi(m[1]);
        const unsigned month = unsigned(std::stoi(m[2])), day = unsigned(std::stoi(m[3]));
        static const unsigned kMonthDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
        if (year < 1678 || year > 2261 || month < 1 || month > 12 || day < 1 || day > kMonthDays[month - 1]) throw refuse();
        t.seconds += double(days_from_civil(year, month, day)) * 86400.0;
        t.of = time_bound::kind::date_time;
    }
    return t;
}

enum class value_kind { none, number, format, text };

enum class on_captures {
    too,  // fits files and captures alike
    only, // packet captures only
    not_for,
};

} // namespace

struct known_option {
    const char* name;       // --name
    const char* short_name; // -n, or nullptr
    value_kind value;
    unsigned fits; // command bits
    on_captures captures;
    const char* capture_refusal; // why not, for not_for
    void (*apply)(command_line& line, const std::string& value);
};

namespace {

// The table. A value is given as --name=value, --name value, -n value or
// -nvalue.
const known_option kOptions[] = {
    {"--help", "-h", value_kind::none, kAllCommands, on_captures::too, nullptr,
     [](command_line& l, const std::string&) { l.help = true; }},
    {"--version", nullptr, value_kind::none, kAllCommands, on_captures::too, nullptr,
     [](command_line& l, const std::string&) { l.version = true; }},
    {"--quiet", "-q", value_kind::none, kAllCommands, on_captures::too, nullptr,
     [](command_line& l, const std::string&) { l.options.quiet = true; }},
    {"--format", "-t", value_kind::format, kAllCommands & ~for_plot & ~for_report, on_captures::not_for,
     "--format does not apply to a packet capture, which is known by its header",
     [](command_line& l, const std::string& v) {
         const format_id f = format_value("--format", v);
         l.queued_formats.push_back(f);
         l.last_format = f;
         ++l.formats_given;
     }},
    {"--directory", "-d", value_kind::text, kBatchCommands, on_captures::too, nullptr,
     [](command_line& l, const std::string& v) { l.directory = v; }},
    // The format batch commands write, or where plot's window ends: which,
    // once the command is known.
    {"--to", nullptr, value_kind::text, kBatchCommands | for_plot, on_captures::too, nullptr,
     [](command_line& l, const std::string& v) { l.to_value = v; }},
    {"--from", nullptr, value_kind::text, for_plot, on_captures::too, nullptr,
     [](command_line& l, const std::string& v) { l.options.from = time_bound_value("--from", v); }},
    {"--jobs", "-j", value_kind::number, kBatchCommands, on_captures::too, nullptr,
     [](command_line& l, const std::string& v) { l.options.jobs = number("--jobs", v, 1, 256); }},
    {"--force", "-y", value_kind::none, for_roundtrip | for_convert, on_captures::too, nullptr,
     [](command_line& l, const std::string&) { l.options.force = true; }},
    {"--rate", "-r", value_kind::number, for_decode | for_roundtrip, on_captures::too, nullptr,
     [](command_line& l, const std::string& v) { l.options.audio.rate = int(number("--rate", v, kMinSampleRate, kMaxSampleRate)); }},
    {"--float", nullptr, value_kind::none, for_decode | for_roundtrip, on_captures::too, nullptr,
     [](command_line& l, const std::string&) { l.options.audio.floating = true; }},
    {"--json", nullptr, value_kind::none, for_info, on_captures::too, nullptr,
     [](command_line& l, const std::string&) { l.options.json = true; }},
    {"--packets", nullptr, value_kind::none, for_info, on_captures::only, nullptr,
     [](command_line& l, const std::string&) { l.options.packet_table = true; }},
    {"--strict", nullptr, value_kind::none, for_decode, on_captures::too, nullptr,
     [](command_line& l, const std::string&) { l.options.strict = true; }},
    {"--dtx", nullptr, value_kind::none, for_encode, on_captures::too, nullptr,
     [](command_line& l, const std::string&) { l.options.dtx = true; }},
    {"--bad-frames", nullptr, value_kind::text, for_decode, on_captures::not_for,
     "--bad-frames applies to .bit files; a capture has no frames marked bad",
     [](command_line& l, const std::string& v) {
         if (v != "decode" && v != "conceal") throw usage_error("--bad-frames takes decode or conceal, not '" + v + "'");
         l.options.decode_bad_frames = v == "decode";
     }},
    {"--pt", nullptr, value_kind::number, kCaptureCommands, on_captures::only, nullptr,
     [](command_line& l, const std::string& v) { l.options.payload_types.push_back(int(number("--pt", v, 0, 127))); }},
    {"--stream", nullptr, value_kind::text, for_decode | for_dump | for_convert, on_captures::only, nullptr,
     [](command_line& l, const std::string& v) { l.options.stream = ssrc_value(v); }},
    {"--mix", nullptr, value_kind::text, for_decode, on_captures::only, nullptr,
     [](command_line& l, const std::string& v) {
         if (v.empty()) throw usage_error("--mix needs a file name");
         l.options.mix = v;
     }},
    {"--max-gap", nullptr, value_kind::number, kCaptureCommands, on_captures::only, nullptr,
     [](command_line& l, const std::string& v) { l.options.max_gap_seconds = number("--max-gap", v, 1, kMaxCaptureSeconds); }},
    {"--max-audio", nullptr, value_kind::number, for_decode | for_dump | for_plot | for_convert | for_report, on_captures::only, nullptr,
     [](command_line& l, const std::string& v) { l.options.max_audio_seconds = number("--max-audio", v, 1, kMaxCaptureSeconds); }},
    {"--max-files", nullptr, value_kind::number, for_decode | for_convert, on_captures::only, nullptr,
     [](command_line& l, const std::string& v) { l.options.max_files = number("--max-files", v, 1, 1000000); }},
    {"--max-streams", nullptr, value_kind::number, for_plot | for_report, on_captures::only, nullptr,
     [](command_line& l, const std::string& v) { l.options.max_streams = number("--max-streams", v, 1, 1000000); }},
    {"--max-calls", nullptr, value_kind::number, for_report, on_captures::only, nullptr,
     [](command_line& l, const std::string& v) { l.options.max_calls = number("--max-calls", v, 1, 1000000); }},
    {"--max-packets", nullptr, value_kind::number, for_report, on_captures::only, nullptr,
     [](command_line& l, const std::string& v) { l.options.max_packets = number("--max-packets", v, 1, 100000000); }},
    {"--jitter-buffer", nullptr, value_kind::text, kCaptureCommands, on_captures::only, nullptr,
     [](command_line& l, const std::string& v) { l.options.jitter_buffer = jitter_buffer_value(v); }},
    {"--one-way-delay", nullptr, value_kind::number, for_info | for_plot | for_report, on_captures::only, nullptr,
     [](command_line& l, const std::string& v) { l.options.one_way_delay_ms = number("--one-way-delay", v, 0, 10000); }},
};

// "encode", "decode and roundtrip", "decode, info, dump and plot".
std::string command_list(unsigned fits) {
    std::vector<std::string> names;
    for (std::size_t i = 0; i < kCommandCount; ++i)
        if (fits & (1u << i)) names.push_back(kCommandNames[i]);
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i)
        text += (i == 0 ? "" : i + 1 == names.size() ? " and " : ", ") + names[i];
    return text;
}

} // namespace

command_line parse_command_line(const std::vector<std::string>& args) {
    command_line line;
    bool options_ended = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (options_ended || a == "-" || a.empty() || a[0] != '-') {
            positional op{a, std::nullopt};
            if (!line.queued_formats.empty()) {
                op.format = line.queued_formats.front();
                line.queued_formats.erase(line.queued_formats.begin());
            }
            line.operands.push_back(op);
            continue;
        }
        if (a == "--") {
            options_ended = true;
            continue;
        }
        const known_option* option = nullptr;
        std::optional<std::string> value;
        for (const known_option& o : kOptions) {
            const std::string name = o.name;
            const bool named = a == name || (o.short_name && a == o.short_name);
            if (o.value == value_kind::none) {
                if (!named) continue;
            } else if (named) {
                if (i + 1 == args.size()) throw usage_error(a + " needs a value");
                value = args[++i];
            } else if (a.rfind(name + "=", 0) == 0) {
                value = a.substr(name.size() + 1);
            } else if (o.short_name && a.size() > 2 && a.rfind(o.short_name, 0) == 0) {
                value = a.substr(2);
            } else {
                continue;
            }
            option = &o;
            break;
        }
        if (!option) throw usage_error("unknown option '" + a + "'");
        option->apply(line, value.value_or(""));
        bool seen = false;
        for (const known_option* g : line.given) seen = seen || g == option;
        if (!seen) line.given.push_back(option);
    }
    line.formats_unused = line.queued_formats.size();
    line.options.formats_given = line.formats_given > 0;
    return line;
}

void refuse_options_not_for(const command_line& line, command_bit command) {
    for (const known_option* o : line.given)
        if (!(o->fits & command)) throw usage_error(std::string(o->name) + " is for " + command_list(o->fits));
}

void settle_options(command_line& line, command_bit command) {
    if (!line.to_value) return;
    if (command == for_plot) line.options.to = time_bound_value("--to", *line.to_value);
    else line.target = format_value("--to", *line.to_value);
}

void refuse_options_not_for(const command_line& line, operand_kinds input) {
    for (const known_option* o : line.given) {
        if (input == operand_kinds::captures && o->captures == on_captures::not_for) throw usage_error(o->capture_refusal);
        if (input == operand_kinds::files && o->captures == on_captures::only)
            throw usage_error(std::string(o->name) + " applies to packet captures (.pcap, .pcapng) only");
    }
}

} // namespace g729::tool
