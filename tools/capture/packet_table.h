// Every captured packet of a G.729 stream on record, as a packet analyser's
// stream analysis lists them: its header, when it arrived, what the network
// did to it, and what became of it in the stream and in the jitter buffer
// being modelled. info prints the table (text, CSV, JSON) and the report
// page shows it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace g729::tool {

// One packet of the stream, in capture order.
struct packet_row {
    uint64_t number = 0;        // its place in the capture file, from 1
    int64_t arrival_ns = 0;     // capture time
    uint16_t sequence = 0;
    uint32_t timestamp = 0;
    bool marker = false;
    int payload_type = 0;
    std::size_t size = 0;       // payload bytes
    double delta_ms = 0.0;      // since the previous packet's arrival (0 for the first)
    double transit_ms = 0.0;    // relative transit: arrival less sender time, against the first packet's
    double jitter_ms = 0.0;     // the running interarrival jitter after it
    double skew_ms = 0.0;       // arrival against where the sender's clock put it, drift and jitter together:
                                // positive when it came early, as packet analysers show it (less the transit)
    std::size_t lost_before = 0; // sequence numbers missing just before it
    bool reordered = false;     // came after a packet with a later sequence number
    bool duplicate = false;     // a copy of a packet seen before
    bool late = false;          // came after its playout time in the buffer being modelled
    bool discarded = false;     // came so early that the buffer was full
    bool stale = false;         // far from the sequence and not a restart: dropped
};

struct packet_table {
    std::vector<packet_row> rows;
    std::size_t not_listed = 0; // packets beyond kMaxPacketRows, counted only
};

// Rows kept per stream; a long call has 50 packets a second (an hour is
// 180,000 rows), and the rest of a crafted capture is counted, not kept.
constexpr std::size_t kMaxPacketRows = 1000000;

// The table as CSV (a header line, then a row per packet) and as a JSON
// array of objects with the same names.
std::string packet_table_csv(const packet_table& t);
std::string packet_table_json(const packet_table& t);
// The same written to `out` as they are made, without the table's text in
// memory.
void write_packet_table_csv(const packet_table& t, std::FILE* out);
void write_packet_table_json(const packet_table& t, std::FILE* out);

} // namespace g729::tool
