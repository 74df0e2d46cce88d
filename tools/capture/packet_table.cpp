#include "tools/capture/packet_table.h"

#include <cmath>
#include <cstdio>

#include "tools/capture/call.h"
#include "tools/common/json.h"

namespace g729::tool {

namespace {

// The columns, in the CSV's order and by their JSON names; times and
// figures in ms to the microsecond, the capture's own resolution.
const char* const kColumns[] = {"number",    "time",      "time_utc",  "sequence",    "timestamp", "marker",
                                "payload_type", "size",   "delta_ms",  "transit_ms",  "jitter_ms", "skew_ms",
                                "lost_before", "late",    "discarded", "reordered",   "duplicate", "stale"};

std::string ms(double v) {
    if (!std::isfinite(v)) return "";
    if (std::fabs(v) < 0.0005) v = 0.0; // no "-0.000"
    char text[48];
    std::snprintf(text, sizeof text, "%.3f", v);
    return text;
}

// A row's values as text, in column order; `yes` and `no` spell a flag,
// `quoted` a text.
template <typename Quote>
std::vector<std::string> values(const packet_row& r, const char* yes, const char* no, Quote quoted) {
    auto flag = [&](bool b) { return std::string(b ? yes : no); };
    return {std::to_string(r.number),
            epoch_seconds(r.arrival_ns),
            quoted(capture_time(r.arrival_ns)),
            std::to_string(r.sequence),
            std::to_string(r.timestamp),
            flag(r.marker),
            std::to_string(r.payload_type),
            std::to_string(r.size),
            ms(r.delta_ms),
            ms(r.transit_ms),
            ms(r.jitter_ms),
            ms(r.skew_ms),
            std::to_string(r.lost_before),
            flag(r.late),
            flag(r.discarded),
            flag(r.reordered),
            flag(r.duplicate),
            flag(r.stale)};
}

} // namespace

std::string packet_table_csv(const packet_table& t) {
    std::string out;
    for (const char* c : kColumns) out += std::string(out.empty() ? "" : ",") + c;
    out += "\n";
    for (const packet_row& r : t.rows) {
        const std::vector<std::string> v = values(r, "1", "0", [](const std::string& s) { return s; });
        for (std::size_t i = 0; i < v.size(); ++i) out += (i ? "," : "") + v[i];
        out += "\n";
    }
    return out;
}

std::string packet_table_json(const packet_table& t) {
    std::string out = "[";
    for (std::size_t k = 0; k < t.rows.size(); ++k) {
        const std::vector<std::string> v = values(t.rows[k], "true", "false", json_string);
        out += k ? ",\n  {" : "\n  {";
        for (std::size_t i = 0; i < v.size(); ++i)
            out += std::string(i ? ", " : "") + "\"" + kColumns[i] + "\": " + (v[i].empty() ? "null" : v[i]);
        out += "}";
    }
    return out + (t.rows.empty() ? "]" : "\n]");
}

} // namespace g729::tool
