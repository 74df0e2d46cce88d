#include "tools/capture/rtp_stream.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <set>

#include "g729a.h"

namespace g729::tool {

namespace {

constexpr int64_t kTicksPerFrame = 80;          // 8 kHz RTP clock, 10 ms frames
constexpr int64_t kFrameNs = 10 * 1000 * 1000; // 10 ms
// How far the timestamps may claim more time than the capture clock saw
// before they are not believed (jitter and a burst can delay a packet).
constexpr int64_t kTimestampSlackFrames = 200;
// How far a sequence number may jump ahead (a loss) or lag behind (a late
// packet) before it is taken for a sender that restarted its numbering.
constexpr int kMaxDropout = 3000;
constexpr int kMaxMisorder = 100;

struct ordered_packet {
    int64_t sequence = 0; // extended
    const rtp_packet* packet = nullptr;
};

// The frames of a payload as the library's walk splits it: 10-byte frames,
// optionally a final 2-byte SID frame. False when the walk refuses it.
bool split_payload(const std::vector<uint8_t>& payload, std::vector<timeline_entry>& frames) {
    frames.clear();
    std::size_t offset = 0;
    while (offset < payload.size()) {
        const int length = g729a_payload_frame_length(payload.size() - offset);
        if (length <= 0) return false;
        timeline_entry e;
        e.kind = length == G729A_SID_FRAME_BYTES ? slot_kind::sid : slot_kind::speech;
        std::memcpy(e.bytes.data(), payload.data() + offset, std::size_t(length));
        frames.push_back(e);
        offset += std::size_t(length);
    }
    return true;
}

int64_t rounded_frames(int64_t ns) { return ns >= 0 ? (ns + kFrameNs / 2) / kFrameNs : -((-ns + kFrameNs / 2) / kFrameNs); }

// Frames missing between the end of one packet and the start of the next:
// what the timestamps say, unless they contradict the capture clock (a
// sender that restarted its clock, say); then what the capture clock says,
// and at least as many frames as the lost packets would have held.
std::size_t missing_frames(const rtp_packet& previous, std::size_t previous_frames, const rtp_packet& next,
                           std::size_t lost_packets) {
    const uint32_t expected = previous.timestamp + uint32_t(previous_frames * kTicksPerFrame);
    const int64_t ticks = int32_t(next.timestamp - expected);
    const int64_t by_timestamp = ticks > 0 ? (ticks + kTicksPerFrame / 2) / kTicksPerFrame : 0;
    const int64_t by_clock =
        std::max<int64_t>(0, rounded_frames(next.arrival_ns - previous.arrival_ns) - int64_t(previous_frames));
    int64_t frames = by_timestamp;
    if (ticks < 0 || by_timestamp > by_clock + kTimestampSlackFrames)
        frames = std::max<int64_t>(by_clock, int64_t(lost_packets * previous_frames));
    return std::size_t(std::min<int64_t>(frames, int64_t(kMaxGapFrames)));
}

void add_missing(rebuilt_stream& out, slot_kind kind, std::size_t frames) {
    if (frames == 0) return;
    timeline_entry e;
    e.kind = kind;
    e.frames = frames;
    out.timeline.push_back(e);
    out.stats.frames += frames;
}

} // namespace

rebuilt_stream rebuild_stream(const std::vector<rtp_packet>& packets) {
    rebuilt_stream out;
    stream_stats& st = out.stats;
    st.packets = packets.size();
    if (packets.empty()) return out;

    // Extend each sequence number to the one nearest the highest seen so
    // far, which carries it across 65535 -> 0 and back for a late packet.
    std::vector<ordered_packet> ordered;
    std::set<int64_t> seen;
    int64_t highest = 0;
    uint16_t highest_as_sent = 0; // its number in the packet
    st.first_arrival_ns = std::numeric_limits<int64_t>::max();
    st.last_arrival_ns = std::numeric_limits<int64_t>::min();
    for (std::size_t i = 0; i < packets.size(); ++i) {
        const rtp_packet& p = packets[i];
        st.first_arrival_ns = std::min(st.first_arrival_ns, p.arrival_ns);
        st.last_arrival_ns = std::max(st.last_arrival_ns, p.arrival_ns);
        int64_t sequence = p.sequence;
        if (i > 0) {
            const int delta = int16_t(uint16_t(p.sequence - highest_as_sent));
            // Far ahead, or far behind what has come: the sender restarted
            // its sequence numbers. The new run follows on from the old one
            // (the timestamps still place it), so it cannot sort in front.
            sequence = delta > kMaxDropout || delta < -kMaxMisorder ? highest + 1 : highest + delta;
        }
        if (!seen.insert(sequence).second) {
            ++st.duplicates;
            continue;
        }
        if (i > 0 && sequence < highest) ++st.reordered;
        if (i == 0 || sequence > highest) {
            highest = sequence;
            highest_as_sent = p.sequence;
        }
        ordered.push_back({sequence, &p});
    }
    std::stable_sort(ordered.begin(), ordered.end(),
                     [](const ordered_packet& a, const ordered_packet& b) { return a.sequence < b.sequence; });

    // Walk in sequence order; every gap between two usable packets becomes
    // missing frames, named after what was in it.
    const ordered_packet* previous = nullptr;
    std::size_t previous_frames = 0;
    std::size_t unused_between = 0; // unusable or other-type packets since `previous`
    std::vector<timeline_entry> frames;
    int64_t earliest_arrival = std::numeric_limits<int64_t>::max();
    for (const ordered_packet& o : ordered) {
        const rtp_packet& p = *o.packet;
        if (!p.audio) {
            ++st.other_payload;
            ++unused_between;
            continue;
        }
        if (!split_payload(p.payload, frames)) {
            ++st.unusable;
            ++unused_between;
            continue;
        }
        if (previous) {
            const std::size_t lost = std::size_t(o.sequence - previous->sequence - 1) - unused_between;
            const std::size_t gap = missing_frames(*previous->packet, previous_frames, p, lost);
            st.lost_packets += lost;
            if (lost > 0) {
                st.lost_frames += gap;
                add_missing(out, slot_kind::lost, gap);
            } else if (unused_between > 0) {
                st.skipped_frames += gap;
                add_missing(out, slot_kind::skipped, gap);
            } else if (gap > 0) {
                ++st.dtx_gaps;
                st.dtx_frames += gap;
                add_missing(out, slot_kind::dtx, gap);
            }
        }
        // Where the audio starts on the capture clock: the packet that came
        // in first, moved back by the frames before it.
        if (p.arrival_ns < earliest_arrival) {
            earliest_arrival = p.arrival_ns;
            st.start_ns = p.arrival_ns - int64_t(st.frames) * kFrameNs;
        }
        for (const timeline_entry& f : frames) {
            if (f.kind == slot_kind::sid)
                ++st.sid_frames;
            else
                ++st.speech_frames;
            out.timeline.push_back(f);
        }
        st.frames += frames.size();
        previous = &o;
        previous_frames = frames.size();
        unused_between = 0;
    }
    if (earliest_arrival == std::numeric_limits<int64_t>::max()) st.start_ns = st.first_arrival_ns;
    return out;
}

} // namespace g729::tool
