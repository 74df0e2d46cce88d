// The header of an RTP packet, and one RTP stream of G.729 rebuilt from its
// packets as they were captured: put back in sequence order (16-bit
// sequence numbers extended across wraps), duplicates dropped, and every
// 10 ms of the call accounted for, so that decoding it keeps the call's
// timeline. Frames that never arrived
// (lost packets, the silences of discontinuous transmission) become runs of
// missing frames, as many as the RTP timestamps say (80 per frame), but
// never more than the capture clock supports nor more than a limit.
//
// A sequence number far from the run so far is either a stale packet (a
// late copy, a duplicate from long ago) or a sender that restarted its
// numbering. As in RFC 3550 (appendix A.1), the jump is believed only when
// the packets after it continue from it; here the whole capture is at hand,
// so the new run must go on for a while without the old one coming back.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace g729::tool {

// --- the header of one RTP packet

struct rtp_header {
    int version = 0;
    bool marker = false;
    int payload_type = 0;
    uint16_t sequence = 0;
    uint32_t timestamp = 0;
    uint32_t ssrc = 0;
    const uint8_t* payload = nullptr; // after CSRCs and extension, without padding
    std::size_t payload_size = 0;
};

enum class rtp_parse { ok, not_rtp, wrong_version, rtcp, truncated };

// Reads an RTP header: version 2, CSRC list, header extension and padding
// are stepped over. A version other than 2 gives wrong_version (the header
// fields are still read when they fit); an RTCP packet (second byte 200-
// 204) gives rtcp; fewer bytes than the header, CSRCs, extension and
// padding need gives truncated.
rtp_parse parse_rtp(const uint8_t* data, std::size_t size, rtp_header& header);

// --- the stream rebuilt from its packets

struct rtp_packet {
    int64_t arrival_ns = 0; // capture time
    uint64_t number = 0;    // its place in the capture file, from 1 (for messages)
    uint16_t sequence = 0;
    uint32_t timestamp = 0;
    // false for another payload type sent in the same stream (telephone
    // events, say): it takes a sequence number but carries no G.729.
    bool audio = true;
    bool marker = false;
    int payload_type = 0;
    // Arrived after the playout time of the jitter buffer being modelled:
    // dropped and concealed like a lost packet.
    bool late = false;
    // The adaptive buffer changed its delay within a talk spurt here: by
    // this many frames (+N waited for, -1 dropped); 0 for none.
    int resync_frames = 0;
    std::vector<uint8_t> payload;
    std::size_t payload_size = 0; // as captured, kept also where the bytes are not
};

enum class slot_kind {
    speech,  // a 10-byte frame
    sid,     // a 2-byte silence-description frame
    lost,    // missing: packets lost (a gap in the sequence numbers)
    dtx,     // missing: the sender sent nothing (the timestamp jumps, the sequence does not)
    skipped, // missing: the packets there were unusable or of another payload type
    late,    // missing: the packet arrived after its playout time
};

struct timeline_entry {
    slot_kind kind = slot_kind::speech;
    std::size_t frames = 1; // 1 for a frame; the length of a missing run
    std::array<uint8_t, 10> bytes{};
    bool missing() const { return kind != slot_kind::speech && kind != slot_kind::sid; }
};

// A gap filled with less than the timestamps asked for.
struct shortened_gap {
    uint64_t packet = 0;         // the capture's packet after the gap
    uint16_t sequence = 0;       // its sequence number
    std::size_t claimed = 0;     // frames the timestamps (or lost packets) asked for
    std::size_t kept = 0;        // frames filled
    bool by_limit = false;       // cut to the gap limit (else to what the capture clock shows)
};

struct stream_stats {
    std::size_t packets = 0;       // as captured, duplicates included
    std::size_t duplicates = 0;    // a sequence number seen before
    std::size_t reordered = 0;     // arrived after a packet with a later sequence number
    std::size_t stale = 0;         // far from the sequence and not a restart: dropped
    std::size_t restarts = 0;      // the sender restarted its sequence numbers
    std::size_t unusable = 0;      // G.729 packets without one whole frame
    std::size_t remainders = 0;    // G.729 packets with bytes after their whole frames
    std::size_t other_payload = 0; // packets of another payload type in the stream
    std::size_t speech_frames = 0;
    std::size_t sid_frames = 0;
    std::size_t lost_packets = 0;
    std::size_t lost_frames = 0;
    std::size_t late_packets = 0; // dropped by the jitter buffer being modelled
    std::size_t late_frames = 0;
    std::size_t dtx_gaps = 0;
    std::size_t dtx_frames = 0;
    std::size_t skipped_frames = 0; // time covered by unusable or other-type packets
    std::size_t frames = 0;         // the whole timeline, in 10 ms frames
    int64_t first_arrival_ns = 0;
    int64_t last_arrival_ns = 0;
    // Capture time of the timeline's first sample: the arrival time of the
    // earliest-arriving packet, less its place in the timeline.
    int64_t start_ns = 0;
    uint64_t first_remainder_packet = 0; // the capture's first packet with a remainder
    // What the adaptive buffer's changes within talk spurts do to the audio
    // heard: frames dropped and frames repeated, and drops not played (too
    // few frames of their spurt near them).
    std::size_t dropped_frames = 0;
    std::size_t repeated_frames = 0;
    std::size_t drops_not_played = 0;
    // The audio heard, in 10 ms frames: the timeline with those changes.
    std::size_t heard_frames() const { return frames + repeated_frames - dropped_frames; }
};

// Where the listener hears a change of the buffer's delay: `frames` frames
// (+N repeated, -N dropped) taken from the quietest frames in
// [begin, end) of the timeline, a window around the change at `at` that
// stays within its talk spurt. The windows of a stream do not overlap, so
// each is decided on its own.
struct resync {
    std::size_t at = 0;
    std::size_t begin = 0;
    std::size_t end = 0;
    int frames = 0;
};

// Frames either side of a change within which the quietest is chosen.
constexpr std::size_t kResyncReach = 5;

struct rebuilt_stream {
    std::vector<timeline_entry> timeline;
    stream_stats stats;
    std::vector<shortened_gap> shortened;
    std::vector<resync> resyncs; // in timeline order
};

// The longest run of missing frames one gap makes by default (an hour).
constexpr std::size_t kMaxGapFrames = 360000;

// What the rebuilding made of one packet.
struct packet_fate {
    std::size_t lost_before = 0; // lost packets in the gap just before it in sequence order
    bool reordered = false;      // came after a packet with a later sequence number
    bool duplicate = false;      // its sequence number was seen before
    bool stale = false;          // far from the sequence and not a restart: dropped
};

// `packets` in the order they were captured; no gap longer than
// `max_gap_frames`. With `fates`, what became of each of the first
// `fates->size()` packets is written there.
rebuilt_stream rebuild_stream(const std::vector<rtp_packet>& packets, std::size_t max_gap_frames = kMaxGapFrames,
                              std::vector<packet_fate>* fates = nullptr);

// a - b, and a + b, held at the ends of the range instead of overflowing.
int64_t saturating_sub(int64_t a, int64_t b);
int64_t saturating_add(int64_t a, int64_t b);

// later - earlier in ns as a figure: exact while the difference fits 64
// bits, and to double precision beyond (two capture times centuries apart),
// never wrapped to the wrong sign.
double time_difference_ns(int64_t later, int64_t earlier);

} // namespace g729::tool
