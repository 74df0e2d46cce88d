// RFC 4733 telephone events (the DTMF digits a call carried) read from the
// RTP beside a G.729 stream: in its own SSRC, or in another SSRC between
// the same two ends. A key press is sent as several packets that share the
// timestamp of its start (the duration growing, the end bit set on the last,
// which is sent three times): it is counted once, however many of its
// packets arrive, are repeated or come out of order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "tools/capture/packets.h"
#include "tools/capture/rtp_stream.h"

namespace g729::tool {

// The payload type senders use for telephone events when nothing says
// otherwise: taken only where no SDP in the capture describes either end,
// and only for packets that read as DTMF events.
constexpr int kDefaultEventPayloadType = 101;

// One key press (or another event).
struct telephone_event {
    int event = 0;              // 0-9, 10 '*', 11 '#', 12-15 A-D; above, other events
    uint32_t ssrc = 0;          // of the packets that carried it
    uint32_t timestamp = 0;     // its start on the sender's clock
    int64_t first_arrival_ns = 0;
    int64_t last_arrival_ns = 0;
    uint32_t duration = 0;      // in 1/8000 s: the longest any of its packets gave
    int volume = 0;             // in -dBm0, as its latest packet gave it
    bool ended = false;         // a packet with the end bit came
    std::size_t packets = 0;    // as captured, repeats included
};

// '0'-'9', '*', '#', 'A'-'D'; '?' for an event that is no digit.
char event_digit(int event);

// The telephone events of one G.729 stream, by arrival.
struct stream_events {
    int payload_type = -1;              // -1: none
    const char* payload_source = "SDP"; // or "default" (101, no SDP for either end)
    std::vector<telephone_event> events;
    std::size_t not_listed = 0; // beyond kMaxTelephoneEvents
    std::string digits() const;
};

// Events kept from one capture; beyond this many, a crafted capture of one
// event a packet has its further events counted (between ends that have
// events kept), not kept.
constexpr std::size_t kMaxTelephoneEvents = 10000;

// A G.729 stream as the events are given to it.
struct event_owner {
    endpoint source;
    endpoint destination;
    uint32_t ssrc = 0;
    int64_t first_arrival_ns = 0;
    int64_t last_arrival_ns = 0;
    stream_events* events = nullptr;
};

// Collects the telephone events of a capture as its packets are read.
class event_collector {
public:
    // The payload types SDP maps to telephone-event, by the address and
    // port that receives them, and the ends any SDP describes at all.
    event_collector(std::map<endpoint, std::set<int>> sdp_types, std::set<endpoint> described)
        : sdp_types_(std::move(sdp_types)), described_(std::move(described)) {}

    // An RTP packet from `source` to `destination`: kept when it is a
    // telephone event.
    void add(const endpoint& source, const endpoint& destination, const rtp_header& h, int64_t arrival_ns);

    // Gives each stream the events between its two ends: those of its own
    // SSRC, and those of an SSRC no G.729 stream has, to the stream of the
    // same ends nearest them in time.
    void attach(const std::vector<event_owner>& owners) const;

private:
    using event_key = std::tuple<endpoint, endpoint, uint32_t, uint32_t, int>; // ends, SSRC, timestamp, event
    std::map<endpoint, std::set<int>> sdp_types_;
    std::set<endpoint> described_;
    std::map<event_key, telephone_event> events_;
    std::map<std::pair<endpoint, endpoint>, std::pair<int, bool>> types_; // payload type, by SDP
    std::map<std::pair<endpoint, endpoint>, std::size_t> not_kept_;
};

// The events of a stream for info: a line of digits and one line an event
// (the first kMaxEventLinesShown; --json lists them all), each with the
// capture time its first packet came, seconds after the stream's first
// packet, its duration and volume. Empty without events.
std::string events_text(const stream_events& e, int64_t stream_first_ns, const std::string& indent);
// `, "telephone_events": {...}`: the same, every event kept.
std::string events_json(const stream_events& e, int64_t stream_first_ns);

constexpr std::size_t kMaxEventLinesShown = 100;

} // namespace g729::tool
