#include "tools/capture/rtp_stream.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <limits>
#include <set>

#include "g729a.h"
#include "tools/capture/packets.h"

namespace g729::tool {

rtp_parse parse_rtp(const uint8_t* p, std::size_t size, rtp_header& h) {
    if (size < 12) return rtp_parse::not_rtp;
    h.version = p[0] >> 6;
    h.marker = (p[1] & 0x80) != 0;
    h.payload_type = p[1] & 0x7F;
    h.sequence = be16(p + 2);
    h.timestamp = be32(p + 4);
    h.ssrc = be32(p + 8);
    if (h.version != 2) return rtp_parse::wrong_version;
    if (p[1] >= 200 && p[1] <= 204) return rtp_parse::rtcp;
    std::size_t offset = 12 + std::size_t(p[0] & 0x0F) * 4;
    if (offset > size) return rtp_parse::truncated;
    if (p[0] & 0x10) {
        if (size - offset < 4) return rtp_parse::truncated;
        const std::size_t words = be16(p + offset + 2);
        offset += 4;
        if (words * 4 > size - offset) return rtp_parse::truncated;
        offset += words * 4;
    }
    std::size_t end = size;
    if (p[0] & 0x20) {
        // The last byte counts the padding, itself included.
        const std::size_t padding = p[size - 1];
        if (padding == 0 || padding > size - offset) return rtp_parse::truncated;
        end -= padding;
    }
    h.payload = p + offset;
    h.payload_size = end - offset;
    return rtp_parse::ok;
}

namespace {

constexpr int64_t kTicksPerFrame = 80;          // 8 kHz RTP clock, 10 ms frames
constexpr int64_t kFrameNs = 10 * 1000 * 1000; // 10 ms
// How far the timestamps may claim more time than the capture clock saw
// before they are not believed (jitter and a burst can delay a packet).
constexpr int64_t kTimestampSlackFrames = 200;
// The window of sequence numbers that continue a run: up to 3000 ahead (a
// loss of a minute of 20 ms packets) or 100 behind (reordering). Anything
// else is a stale packet or a restart.
constexpr int kMaxDropout = 3000;
constexpr int kMaxMisorder = 100;
// A new run that goes on for this many packets (a second of 20 ms packets)
// without the old one coming back is a restart; a late burst is never that
// long without a packet of the live run in between.
constexpr std::size_t kRestartPackets = 50;

struct ordered_packet {
    int64_t sequence = 0; // extended
    const rtp_packet* packet = nullptr;
};

int sequence_delta(uint16_t sequence, uint16_t reference) { return int16_t(uint16_t(sequence - reference)); }
bool continues(int delta) { return delta >= -kMaxMisorder && delta < kMaxDropout; }

// Puts packets in sequence order as they arrive: duplicates dropped, late
// packets placed in their slot, restarts told from stale packets.
class sequencer {
public:
    sequencer(const std::vector<rtp_packet>& packets, stream_stats& stats, std::vector<packet_fate>* fates)
        : packets_(packets), st_(stats), fates_(fates) {}

    void add(std::size_t i) {
        const rtp_packet& p = packets_[i];
        if (!started_) {
            started_ = true;
            max_sequence_ = p.sequence;
            max_extended_ = p.sequence;
            accept(i, max_extended_);
            return;
        }
        const int d = sequence_delta(p.sequence, max_sequence_);
        if (candidate_.empty()) {
            if (continues(d))
                accept(i, max_extended_ + d);
            else
                start_candidate(i);
            return;
        }
        if (continues(d)) {
            // The old run goes on: what jumped away was stale.
            drop_candidate();
            accept(i, max_extended_ + d);
            return;
        }
        const int dc = sequence_delta(p.sequence, candidate_max_);
        if (continues(dc)) {
            candidate_.push_back(i);
            if (dc > 0) candidate_max_ = p.sequence;
            if (candidate_.size() >= kRestartPackets) restart();
            return;
        }
        drop_candidate();
        start_candidate(i);
    }

    std::vector<ordered_packet> finish() {
        if (candidate_.size() >= 2)
            restart();
        else
            drop_candidate();
        std::stable_sort(ordered_.begin(), ordered_.end(),
                         [](const ordered_packet& a, const ordered_packet& b) { return a.sequence < b.sequence; });
        return std::move(ordered_);
    }

private:
    void accept(std::size_t i, int64_t extended) {
        if (!seen_.insert(extended).second) {
            ++st_.duplicates;
            if (packet_fate* f = fate(i)) f->duplicate = true;
            return;
        }
        if (extended < max_extended_) {
            ++st_.reordered;
            if (packet_fate* f = fate(i)) f->reordered = true;
        }
        if (extended > max_extended_) {
            max_extended_ = extended;
            max_sequence_ = packets_[i].sequence;
        }
        ordered_.push_back({extended, &packets_[i]});
    }

    void start_candidate(std::size_t i) {
        candidate_.assign(1, i);
        candidate_max_ = packets_[i].sequence;
    }

    // Not a restart: each packet of the jump is a late one that still has
    // its place, a duplicate, or stale.
    void drop_candidate() {
        for (std::size_t i : candidate_) {
            const int d = sequence_delta(packets_[i].sequence, max_sequence_);
            if (d < 0 && d > -kMaxDropout) {
                accept(i, max_extended_ + d);
            } else {
                ++st_.stale;
                if (packet_fate* f = fate(i)) f->stale = true;
            }
        }
        candidate_.clear();
    }

    // The new run follows on from the old one (the timestamps place it), so
    // it never sorts in front of it.
    void restart() {
        const uint16_t first = packets_[candidate_.front()].sequence;
        int lowest = 0;
        for (std::size_t i : candidate_) lowest = std::min(lowest, sequence_delta(packets_[i].sequence, first));
        const int64_t base = max_extended_ + 1 - lowest;
        ++st_.restarts;
        const std::vector<std::size_t> run = std::move(candidate_);
        candidate_.clear();
        for (std::size_t i : run) accept(i, base + sequence_delta(packets_[i].sequence, first));
    }

    packet_fate* fate(std::size_t i) { return fates_ && i < fates_->size() ? &(*fates_)[i] : nullptr; }

    const std::vector<rtp_packet>& packets_;
    stream_stats& st_;
    std::vector<packet_fate>* fates_;
    std::vector<ordered_packet> ordered_;
    std::set<int64_t> seen_;
    bool started_ = false;
    uint16_t max_sequence_ = 0;
    int64_t max_extended_ = 0;
    std::vector<std::size_t> candidate_; // the packets of a jump, not yet believed
    uint16_t candidate_max_ = 0;
};

// The frames of a payload as the module walks it: 10-byte frames,
// optionally a final 2-byte SID frame; bytes after the whole frames are a
// remainder, left out. An empty payload carries no frame.
std::size_t split_payload(const std::vector<uint8_t>& payload, std::vector<timeline_entry>& frames) {
    frames.clear();
    std::size_t offset = 0;
    while (offset < payload.size()) {
        const int length = g729a_payload_frame_length(payload.size() - offset);
        if (length <= 0) break;
        timeline_entry e;
        e.kind = length == G729A_SID_FRAME_BYTES ? slot_kind::sid : slot_kind::speech;
        std::memcpy(e.bytes.data(), payload.data() + offset, std::size_t(length));
        frames.push_back(e);
        offset += std::size_t(length);
    }
    return payload.size() - offset;
}

int64_t rounded_frames(int64_t ns) {
    // Saturated differences stay far from the ends: adding half a frame
    // cannot overflow.
    return ns >= 0 ? (ns / 2 + kFrameNs / 4) / (kFrameNs / 2) : -((-(ns / 2) + kFrameNs / 4) / (kFrameNs / 2));
}

// Frames missing between the end of one packet and the start of the next
// as the packets claim them: what the timestamps say, unless they
// contradict the capture clock (a sender that restarted its clock, say);
// then what the capture clock says, and at least as many frames as the
// lost packets would have held.
int64_t claimed_frames(const rtp_packet& previous, std::size_t previous_frames, const rtp_packet& next, std::size_t lost_packets) {
    const uint32_t expected = previous.timestamp + uint32_t(previous_frames * kTicksPerFrame);
    const int64_t ticks = int32_t(next.timestamp - expected);
    const int64_t by_timestamp = ticks > 0 ? (ticks + kTicksPerFrame / 2) / kTicksPerFrame : 0;
    const int64_t by_clock =
        std::max<int64_t>(0, rounded_frames(saturating_sub(next.arrival_ns, previous.arrival_ns)) - int64_t(previous_frames));
    if (ticks >= 0 && by_timestamp <= by_clock + kTimestampSlackFrames) return by_timestamp;
    // Lost packets of at most a few hundred frames each, at most 3000 of
    // them: the product stays small.
    return std::max<int64_t>(by_clock, int64_t(lost_packets) * int64_t(std::max<std::size_t>(previous_frames, 1)));
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

namespace {

// The buffer's changes within spurts, at timeline positions in order, as
// the listener hears them. Each takes a window of kResyncReach frames
// either side within its spurt (the frames between two silences); a change
// whose window would overlap the one before joins it, so that every window
// is decided alone and the output length is known before decoding.
void plan_resyncs(rebuilt_stream& out, const std::vector<std::pair<std::size_t, int>>& changes) {
    // The silences of the timeline, [begin, end) in frames.
    std::vector<std::pair<std::size_t, std::size_t>> silences;
    std::size_t position = 0;
    for (const timeline_entry& e : out.timeline) {
        if (e.kind == slot_kind::dtx) silences.push_back({position, position + e.frames});
        position += e.frames;
    }
    std::size_t spurt_of_last = 0;
    for (const auto& [at, frames] : changes) {
        if (at >= out.stats.frames) continue;
        // The spurt around `at`: from the end of the silence before it to
        // the start of the one after.
        const auto after = std::upper_bound(silences.begin(), silences.end(), at,
                                            [](std::size_t p, const std::pair<std::size_t, std::size_t>& s) { return p < s.first; });
        const std::size_t spurt_begin = after == silences.begin() ? 0 : std::prev(after)->second;
        const std::size_t spurt_end = after == silences.end() ? out.stats.frames : after->first;
        if (!out.resyncs.empty() && spurt_of_last == spurt_begin && at - out.resyncs.back().at <= 2 * kResyncReach) {
            out.resyncs.back().frames += frames;
            continue;
        }
        out.resyncs.push_back({at, std::max(spurt_begin, at >= kResyncReach ? at - kResyncReach : 0),
                               std::min(spurt_end, at + kResyncReach + 1), frames});
        spurt_of_last = spurt_begin;
    }
    std::vector<resync> kept;
    for (resync r : out.resyncs) {
        if (r.frames < 0) {
            const std::size_t wanted = std::size_t(-int64_t(r.frames));
            const std::size_t dropped = std::min(wanted, r.end - r.begin);
            out.stats.drops_not_played += wanted - dropped;
            out.stats.dropped_frames += dropped;
            r.frames = -int(dropped);
        } else {
            out.stats.repeated_frames += std::size_t(r.frames);
        }
        if (r.frames != 0) kept.push_back(r);
    }
    out.resyncs.swap(kept);
}

} // namespace

int64_t saturating_sub(int64_t a, int64_t b) {
    int64_t r = 0;
    if (__builtin_sub_overflow(a, b, &r)) return b < 0 ? std::numeric_limits<int64_t>::max() : std::numeric_limits<int64_t>::min();
    return r;
}

int64_t saturating_add(int64_t a, int64_t b) {
    int64_t r = 0;
    if (__builtin_add_overflow(a, b, &r)) return b > 0 ? std::numeric_limits<int64_t>::max() : std::numeric_limits<int64_t>::min();
    return r;
}

double time_difference_ns(int64_t later, int64_t earlier) {
    int64_t r = 0;
    if (__builtin_sub_overflow(later, earlier, &r)) return double(later) - double(earlier);
    return double(r);
}

rebuilt_stream rebuild_stream(const std::vector<rtp_packet>& packets, std::size_t max_gap_frames,
                              std::vector<packet_fate>* fates) {
    rebuilt_stream out;
    stream_stats& st = out.stats;
    st.packets = packets.size();
    if (packets.empty()) return out;

    st.first_arrival_ns = std::numeric_limits<int64_t>::max();
    st.last_arrival_ns = std::numeric_limits<int64_t>::min();
    sequencer order(packets, st, fates);
    for (std::size_t i = 0; i < packets.size(); ++i) {
        st.first_arrival_ns = std::min(st.first_arrival_ns, packets[i].arrival_ns);
        st.last_arrival_ns = std::max(st.last_arrival_ns, packets[i].arrival_ns);
        order.add(i);
    }
    const std::vector<ordered_packet> ordered = order.finish();

    // Walk in sequence order; every gap between two usable packets becomes
    // missing frames, named after what was in it. No gap runs past what the
    // capture clock has seen since the first packet (with the same slack
    // as above), so the timeline never outgrows the capture.
    const ordered_packet* previous = nullptr;
    std::size_t previous_frames = 0;
    std::size_t unused_between = 0; // unusable or other-type packets since `previous`
    int64_t first_arrival = 0;       // of the first usable packet in sequence order
    std::vector<timeline_entry> frames;
    int64_t earliest_arrival = std::numeric_limits<int64_t>::max();
    std::vector<std::pair<std::size_t, int>> changes; // the buffer's, at timeline positions
    for (const ordered_packet& o : ordered) {
        const rtp_packet& p = *o.packet;
        if (!p.audio) {
            ++st.other_payload;
            ++unused_between;
            continue;
        }
        const std::size_t remainder = split_payload(p.payload, frames);
        if (frames.empty() && remainder > 0) {
            ++st.unusable;
            ++unused_between;
            continue;
        }
        if (remainder > 0 && st.remainders++ == 0) st.first_remainder_packet = p.number;
        if (previous) {
            const std::size_t lost = std::size_t(o.sequence - previous->sequence - 1) - unused_between;
            const int64_t claimed = claimed_frames(*previous->packet, previous_frames, p, lost);
            const int64_t seen = rounded_frames(saturating_sub(p.arrival_ns, first_arrival)) + kTimestampSlackFrames;
            const int64_t allowed = std::max<int64_t>(0, seen - int64_t(st.frames));
            const int64_t limit = int64_t(std::min<std::size_t>(max_gap_frames, std::size_t(std::numeric_limits<int64_t>::max())));
            const std::size_t gap = std::size_t(std::min({claimed, allowed, limit}));
            if (int64_t(gap) < claimed)
                out.shortened.push_back({p.number, p.sequence, std::size_t(claimed), gap, limit < std::min(claimed, allowed)});
            st.lost_packets += lost;
            const std::size_t index = std::size_t(o.packet - packets.data());
            if (fates && index < fates->size()) (*fates)[index].lost_before = lost;
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
        } else {
            first_arrival = p.arrival_ns;
        }
        // Where the audio starts on the capture clock: the packet that came
        // in first, moved back by the frames before it.
        if (p.arrival_ns < earliest_arrival) {
            earliest_arrival = p.arrival_ns;
            const int64_t before = st.frames > std::size_t(std::numeric_limits<int64_t>::max() / kFrameNs)
                                       ? std::numeric_limits<int64_t>::max()
                                       : int64_t(st.frames) * kFrameNs;
            st.start_ns = saturating_sub(p.arrival_ns, before);
        }
        if (p.resync_frames != 0) changes.push_back({st.frames, p.resync_frames});
        if (p.late) {
            // Its place on the timeline is kept, its audio concealed.
            ++st.late_packets;
            st.late_frames += frames.size();
            add_missing(out, slot_kind::late, frames.size());
        } else {
            for (const timeline_entry& f : frames) {
                if (f.kind == slot_kind::sid)
                    ++st.sid_frames;
                else
                    ++st.speech_frames;
                out.timeline.push_back(f);
            }
            st.frames += frames.size();
        }
        previous = &o;
        previous_frames = frames.size();
        unused_between = 0;
    }
    if (earliest_arrival == std::numeric_limits<int64_t>::max()) st.start_ns = st.first_arrival_ns;
    plan_resyncs(out, changes);
    return out;
}

} // namespace g729::tool
