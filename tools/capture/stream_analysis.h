// What the network did to one RTP stream, from its packets' arrival times
// and headers: the largest gap between arrivals, the interarrival jitter as
// RTP receivers compute it, the sender's clock against the capture clock,
// marker bits, payload types and packetization, and timestamp jumps.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

namespace g729::tool {

// One packet of the stream as captured, in capture order.
struct packet_observation {
    int64_t arrival_ns = 0;
    uint16_t sequence = 0;
    uint32_t timestamp = 0;
    bool marker = false;
    int payload_type = 0;
    int frames = 0; // G.729 frames it carries (a SID counts as one); 0 for another payload
    uint64_t number = 0; // its place in the capture, for messages
};

// A step in the timestamps that the capture clock contradicts.
struct timestamp_jump {
    int64_t arrival_ns = 0;
    uint64_t packet = 0;    // the capture's packet number
    double claimed_s = 0.0; // what the timestamps say passed
    double seen_s = 0.0;    // what the capture clock says
};

// Tells a packet whose sequence number came before from a new one, across
// the wraps of the 16-bit number (a copy within the last 65536 numbers is
// a copy).
class sequence_filter {
public:
    bool first_time(uint16_t sequence);
    // The extended number of the packet last given, and the highest so far.
    int64_t last_extended() const { return last_extended_; }
    int64_t highest() const { return highest_; }

private:
    std::vector<int64_t> lap_ = std::vector<int64_t>(65536, -1); // extended number last seen in each slot
    int64_t highest_ = -1;
    uint16_t highest_as_sent_ = 0;
    int64_t last_extended_ = -1;
};

struct jitter_point {
    int64_t arrival_ns = 0;
    double delta_ms = 0.0;  // since the previous packet's arrival
    double jitter_ms = 0.0; // the running estimate after this packet
    // Relative transit: arrival less sender time, against the first packet
    // (or the one after a jump that restarted the figures); where a point
    // stands for a stretch, its slowest packet.
    double transit_ms = 0.0;
};

// A packet the picture marks: one that came after a later-numbered one, a
// copy of one seen before, or one with the marker bit (a talk spurt's start).
enum class packet_event_kind : uint8_t { reordered, duplicate, marker };
struct packet_event {
    int64_t arrival_ns = 0;
    packet_event_kind kind = packet_event_kind::marker;
};

// Marked packets listed per stream at most; a crafted capture could make
// every packet one.
constexpr std::size_t kMaxListedEvents = 10000;

struct arrival_analysis {
    std::size_t packets = 0;
    double max_delta_ms = 0.0;     // largest gap between two arrivals
    int64_t max_delta_at_ns = 0;   // arrival of the packet after that gap
    double mean_jitter_ms = 0.0;   // mean of the running estimate over the packets
    double max_jitter_ms = 0.0;
    double skew_ppm = 0.0;         // sender clock against capture clock; positive: the sender runs fast
    bool skew_known = false;       // a fit over three seconds or more whose error is smaller than its value
    double skew_fit_ppm = 0.0;     // what the fit gave, known or not
    double skew_stderr_ppm = 0.0;  // the fit's standard error
    bool skew_too_short = false;   // fewer than three seconds of sender time to fit
    bool skew_beyond_range = false; // the fit gave more than a tenth of the clock rate: no clock drift, not measured
    std::size_t markers = 0;
    // RFC 3550 (appendix A.3): packets expected from the first sequence
    // number received to the highest, extended across wraps, and packets
    // received, copies included; cumulative lost is the difference.
    std::size_t expected = 0;
    std::size_t received = 0;
    std::map<int, std::size_t> payload_types;     // type -> packets
    std::map<int, std::size_t> frames_per_packet; // frames -> packets, G.729 packets only
    // Over time: a point per packet after the first, or, for long streams,
    // per stretch of arrival time (the largest delta in it and the jitter
    // at its end), at most kMaxSeriesPoints.
    std::vector<jitter_point> series;
    std::vector<timestamp_jump> jumps;            // not believed: more than 2 s off the capture clock
    // Reordered, duplicated and marker-bit packets in capture order, at
    // most kMaxListedEvents; the rest counted.
    std::vector<packet_event> events;
    std::size_t events_not_listed = 0;
};

constexpr std::size_t kMaxSeriesPoints = 20000;

// What the analysis made of one packet's arrival, for the per-packet table.
// A copy of a packet seen before enters none of the stream's figures: its
// delta is measured from the last packet that did, the jitter stays as it
// was.
struct packet_timing {
    double delta_ms = 0.0;   // since the arrival of the previous packet counted (0 for the first)
    double transit_ms = 0.0; // arrival less sender time, against the first packet's (since the last jump)
    double jitter_ms = 0.0;  // the running estimate after it
    bool counted = false;    // entered the figures: not a copy
};

// Jumps listed per stream at most; a crafted capture could make one a packet.
constexpr std::size_t kMaxListedJumps = 1000;

// RTP clock of G.729: 8000 ticks a second.
constexpr double kRtpClockHz = 8000.0;

// `packets` in capture order. Packets whose sequence number was seen before
// are left out; a timestamp step of more than `max_step_ticks` from the
// previous packet (a sender restart, or a jump that is not believed), or an
// arrival step as long, starts the jitter estimate's differences and the
// skew fit afresh instead of counting as seconds of jitter. With `timings`,
// each of the first `timings->size()` packets' figures are written there.
arrival_analysis analyse_arrivals(const std::vector<packet_observation>& packets, int64_t max_step_ticks,
                                  std::vector<packet_timing>* timings = nullptr);

} // namespace g729::tool
