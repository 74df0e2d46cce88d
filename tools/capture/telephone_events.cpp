#include "tools/capture/telephone_events.h"

#include <algorithm>
#include <limits>

#include "tools/capture/call.h"
#include "tools/common/json.h"
#include "tools/common/text.h"

namespace g729::tool {

namespace {

constexpr std::size_t kEventBytes = 4;
constexpr int kLastDigit = 15;

// How far apart in capture time an event and a stream are, 0 when the event
// came while the stream ran.
double distance_ns(const telephone_event& e, const event_owner& o) {
    if (e.first_arrival_ns < o.first_arrival_ns) return time_difference_ns(o.first_arrival_ns, e.first_arrival_ns);
    if (e.first_arrival_ns > o.last_arrival_ns) return time_difference_ns(e.first_arrival_ns, o.last_arrival_ns);
    return 0.0;
}

} // namespace

char event_digit(int event) {
    static const char kDigits[] = "0123456789*#ABCD";
    return event >= 0 && event <= kLastDigit ? kDigits[event] : '?';
}

std::string stream_events::digits() const {
    std::string text;
    for (const telephone_event& e : events)
        if (e.event <= kLastDigit) text += event_digit(e.event);
    return text;
}

void event_collector::add(const endpoint& source, const endpoint& destination, const rtp_header& h, int64_t arrival_ns) {
    if (h.payload_size != kEventBytes) return;
    const auto mapped = [&](const endpoint& e) {
        const auto it = sdp_types_.find(e);
        return it != sdp_types_.end() && it->second.count(h.payload_type) > 0;
    };
    const bool by_sdp = mapped(destination) || mapped(source);
    const int event = h.payload[0];
    // 101 where no SDP describes either end, and only for what reads as a
    // digit: an audio stream of 4-byte payloads on 101 is not taken for one.
    const bool by_default = h.payload_type == kDefaultEventPayloadType && !described_.count(source) &&
                            !described_.count(destination) && event <= kLastDigit;
    if (!by_sdp && !by_default) return;
    const std::pair<endpoint, endpoint> flow{source, destination};
    const event_key key{source, destination, h.ssrc, h.timestamp, event};
    auto it = events_.find(key);
    if (it == events_.end()) {
        if (events_.size() >= kMaxTelephoneEvents) {
            // Counted for ends that have events kept, so that these counts
            // are bounded too.
            if (types_.count(flow)) ++not_kept_[flow];
            return;
        }
        types_.emplace(flow, std::make_pair(h.payload_type, by_sdp));
        telephone_event e;
        e.event = event;
        e.ssrc = h.ssrc;
        e.timestamp = h.timestamp;
        e.first_arrival_ns = e.last_arrival_ns = arrival_ns;
        it = events_.emplace(key, e).first;
    }
    telephone_event& e = it->second;
    ++e.packets;
    const uint32_t duration = uint32_t(h.payload[2]) << 8 | h.payload[3];
    e.duration = std::max(e.duration, duration);
    if (arrival_ns >= e.last_arrival_ns) e.volume = h.payload[1] & 0x3F;
    e.ended = e.ended || (h.payload[1] & 0x80) != 0;
    e.first_arrival_ns = std::min(e.first_arrival_ns, arrival_ns);
    e.last_arrival_ns = std::max(e.last_arrival_ns, arrival_ns);
}

void event_collector::attach(const std::vector<event_owner>& owners) const {
    std::map<std::pair<endpoint, endpoint>, std::vector<const event_owner*>> by_ends;
    for (const event_owner& o : owners) by_ends[{o.source, o.destination}].push_back(&o);
    for (const auto& [key, e] : events_) {
        const std::pair<endpoint, endpoint> flow{std::get<0>(key), std::get<1>(key)};
        const auto candidates = by_ends.find(flow);
        if (candidates == by_ends.end()) continue; // between ends with no G.729: other traffic
        const event_owner* best = nullptr;
        double best_distance = std::numeric_limits<double>::infinity();
        for (const event_owner* o : candidates->second) {
            const double d = o->ssrc == e.ssrc ? -1.0 : distance_ns(e, *o);
            if (d < best_distance) best = o, best_distance = d;
        }
        const auto& [type, by_sdp] = types_.at(flow);
        best->events->payload_type = type;
        best->events->payload_source = by_sdp ? "SDP" : "default";
        best->events->events.push_back(e);
    }
    for (const auto& [flow, streams] : by_ends) {
        for (const event_owner* o : streams)
            std::stable_sort(o->events->events.begin(), o->events->events.end(),
                             [](const telephone_event& a, const telephone_event& b) { return a.first_arrival_ns < b.first_arrival_ns; });
        // Told once, on the first stream between those ends.
        const auto n = not_kept_.find(flow);
        if (n != not_kept_.end()) streams.front()->events->not_listed = n->second;
    }
}

namespace {

struct event_figures {
    double offset_s;    // after the stream's first packet
    double duration_ms; // as the sender counted it
};

event_figures figures(const telephone_event& e, int64_t stream_first_ns) {
    return {time_difference_ns(e.first_arrival_ns, stream_first_ns) / 1e9, double(e.duration) / 8.0};
}

} // namespace

std::string events_text(const stream_events& s, int64_t stream_first_ns, const std::string& indent) {
    if (s.events.empty() && s.not_listed == 0) return "";
    const std::size_t total = s.events.size() + s.not_listed;
    std::string text = indent + "DTMF:          \"" + s.digits() + "\" (" + plural(total, "event", "events");
    if (s.payload_type >= 0) text += format_text(", payload type %d by %s", s.payload_type, s.payload_source);
    text += ")\n";
    for (std::size_t i = 0; i < s.events.size() && i < kMaxEventLinesShown; ++i) {
        const telephone_event& e = s.events[i];
        const event_figures f = figures(e, stream_first_ns);
        const std::string what = e.event <= 15 ? std::string(1, event_digit(e.event)) : "event " + std::to_string(e.event);
        text += indent + "  " + what + " at " + capture_time(e.first_arrival_ns) + format_text(" (%+.3f s), %.0f ms, -%d dBm0", f.offset_s, f.duration_ms, e.volume) +
                (e.ended ? "" : ", no end packet") + "\n";
    }
    if (s.events.size() > kMaxEventLinesShown)
        text += indent + "  ... " + std::to_string(s.events.size() - kMaxEventLinesShown) + " more (--json lists them)\n";
    if (s.not_listed > 0)
        text += indent + "  " + plural(s.not_listed, "event", "events") + " after the first " + std::to_string(kMaxTelephoneEvents) +
                " of the capture counted, not listed\n";
    return text;
}

std::string events_json(const stream_events& s, int64_t stream_first_ns) {
    std::string j = ", \"telephone_events\": {\"payload_type\": " + (s.payload_type >= 0 ? std::to_string(s.payload_type) : "null");
    j += ", \"payload_type_by\": " + (s.payload_type >= 0 ? json_string(s.payload_source) : "null");
    j += ", \"digits\": " + json_string(s.digits());
    j += ", \"not_listed\": " + std::to_string(s.not_listed) + ", \"events\": [";
    for (std::size_t i = 0; i < s.events.size(); ++i) {
        const telephone_event& e = s.events[i];
        const event_figures f = figures(e, stream_first_ns);
        j += std::string(i ? ", " : "") + "{\"event\": " + std::to_string(e.event) + ", \"digit\": " +
             (e.event <= 15 ? json_string(std::string(1, event_digit(e.event))) : "null") + ", \"ssrc\": " + json_string(hex_ssrc(e.ssrc)) +
             ", \"time_utc\": " + json_string(capture_time(e.first_arrival_ns)) +
             format_text(", \"offset_seconds\": %.3f, \"duration_ms\": %.1f, \"volume_dbm0\": %d", f.offset_s, f.duration_ms, -e.volume) +
             ", \"ended\": " + (e.ended ? "true" : "false") + ", \"packets\": " + std::to_string(e.packets) + "}";
    }
    return j + "]}";
}

} // namespace g729::tool
