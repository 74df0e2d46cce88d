#include "tools/capture/packet_table.h"

#include <cmath>
#include <cstdio>

#include "tools/capture/call.h"

namespace g729::tool {

namespace {

// The columns, in the CSV's order and by their JSON names; times and
// figures in ms to the microsecond, the capture's own resolution.
constexpr std::size_t kColumnCount = 18;
const char* const kColumns[kColumnCount] = {
    "number",  "time",    "time_utc", "sequence", "timestamp",   "marker", "payload_type", "size",      "delta_ms",
    "transit_ms", "jitter_ms", "skew_ms", "lost_before", "late", "discarded", "reordered", "duplicate", "stale"};

// One row's values as text, in column order. A table may have a million
// rows a stream: each is written into fixed cells, not a string each.
struct row_text {
    char cell[kColumnCount][64];
};

void write_ms(char* cell, double v, const char* empty) {
    if (!std::isfinite(v)) {
        std::snprintf(cell, 64, "%s", empty);
        return;
    }
    if (std::fabs(v) < 0.0005) v = 0.0; // no "-0.000"
    std::snprintf(cell, 64, "%.3f", v);
}

// `yes` and `no` spell a flag, `empty` a figure there is none of, `quote`
// goes round a text.
void write_row(row_text& t, const packet_row& r, const char* yes, const char* no, const char* empty, const char* quote) {
    auto flag = [&](std::size_t i, bool b) { std::snprintf(t.cell[i], 64, "%s", b ? yes : no); };
    std::snprintf(t.cell[0], 64, "%llu", static_cast<unsigned long long>(r.number));
    std::snprintf(t.cell[1], 64, "%s", epoch_seconds(r.arrival_ns).c_str());
    // The capture time is digits, dashes, colons and spaces: nothing to escape.
    std::snprintf(t.cell[2], 64, "%s%s%s", quote, capture_time(r.arrival_ns).c_str(), quote);
    std::snprintf(t.cell[3], 64, "%u", unsigned(r.sequence));
    std::snprintf(t.cell[4], 64, "%lu", static_cast<unsigned long>(r.timestamp));
    flag(5, r.marker);
    std::snprintf(t.cell[6], 64, "%d", r.payload_type);
    std::snprintf(t.cell[7], 64, "%zu", r.size);
    write_ms(t.cell[8], r.delta_ms, empty);
    write_ms(t.cell[9], r.transit_ms, empty);
    write_ms(t.cell[10], r.jitter_ms, empty);
    write_ms(t.cell[11], r.skew_ms, empty);
    std::snprintf(t.cell[12], 64, "%zu", r.lost_before);
    flag(13, r.late);
    flag(14, r.discarded);
    flag(15, r.reordered);
    flag(16, r.duplicate);
    flag(17, r.stale);
}

} // namespace

namespace {

// The table written piece by piece to `put`, whatever it fills: a string,
// or a file as the rows are made (a table of a million rows is a hundred MB
// of JSON).
template <typename Put>
void csv_pieces(const packet_table& t, Put&& put) {
    for (std::size_t i = 0; i < kColumnCount; ++i) {
        put(i ? "," : "");
        put(kColumns[i]);
    }
    put("\n");
    row_text text;
    for (const packet_row& r : t.rows) {
        write_row(text, r, "1", "0", "", "");
        for (std::size_t i = 0; i < kColumnCount; ++i) {
            put(i ? "," : "");
            put(text.cell[i]);
        }
        put("\n");
    }
}

template <typename Put>
void json_pieces(const packet_table& t, Put&& put) {
    put("[");
    row_text text;
    for (std::size_t k = 0; k < t.rows.size(); ++k) {
        write_row(text, t.rows[k], "true", "false", "null", "\"");
        put(k ? ",\n  {" : "\n  {");
        for (std::size_t i = 0; i < kColumnCount; ++i) {
            put(i ? ", \"" : "\"");
            put(kColumns[i]);
            put("\": ");
            put(text.cell[i]);
        }
        put("}");
    }
    put(t.rows.empty() ? "]" : "\n]");
}

} // namespace

std::string packet_table_csv(const packet_table& t) {
    std::string out;
    csv_pieces(t, [&](const char* piece) { out += piece; });
    return out;
}

std::string packet_table_json(const packet_table& t) {
    std::string out;
    json_pieces(t, [&](const char* piece) { out += piece; });
    return out;
}

void write_packet_table_csv(const packet_table& t, std::FILE* out) {
    csv_pieces(t, [&](const char* piece) { std::fputs(piece, out); });
}

void write_packet_table_json(const packet_table& t, std::FILE* out) {
    json_pieces(t, [&](const char* piece) { std::fputs(piece, out); });
}

} // namespace g729::tool
