// Rebuilding one RTP stream from packets as captured: order, duplicates,
// losses, silences and the frame timeline.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tools/capture/rtp_stream.h"

namespace g729::tool {
namespace {

constexpr int64_t kMs = 1000 * 1000;

// A packet of `frames` speech frames (each filled with its frame number, so
// the timeline shows which frame went where), optionally ending in a SID.
rtp_packet packet(uint16_t sequence, uint32_t first_frame, int frames, bool sid = false) {
    rtp_packet p;
    p.sequence = sequence;
    p.timestamp = 1000 + first_frame * 80;
    p.arrival_ns = 5000 * kMs + int64_t(first_frame) * 10 * kMs;
    for (int f = 0; f < frames; ++f) p.payload.insert(p.payload.end(), 10, uint8_t(first_frame + uint32_t(f)));
    if (sid) p.payload.insert(p.payload.end(), {0xEE, 0xEE});
    return p;
}

// A call of `count` packets of 2 frames each, sequence numbers from `first`.
std::vector<rtp_packet> call(uint16_t first, int count) {
    std::vector<rtp_packet> packets;
    for (int i = 0; i < count; ++i) packets.push_back(packet(uint16_t(first + i), uint32_t(2 * i), 2));
    return packets;
}

// The timeline in short: a frame's number for speech, "S" for SID, "L3"
// for three lost frames, "D3" for DTX, "X3" for skipped.
std::string shape(const rebuilt_stream& r) {
    std::string s;
    for (const timeline_entry& e : r.timeline) {
        if (!s.empty()) s += ' ';
        switch (e.kind) {
        case slot_kind::speech: s += std::to_string(e.bytes[0]); break;
        case slot_kind::sid: s += "S"; break;
        case slot_kind::lost: s += "L" + std::to_string(e.frames); break;
        case slot_kind::dtx: s += "D" + std::to_string(e.frames); break;
        case slot_kind::skipped: s += "X" + std::to_string(e.frames); break;
        }
    }
    return s;
}

TEST(RtpStream, PacketsArePutInSequenceOrderAcrossTheWrap) {
    struct Case {
        const char* name;
        uint16_t first;
        std::vector<int> arrival; // indices into the call, in arrival order
        std::size_t reordered;
        std::size_t duplicates;
    };
    const Case cases[] = {
        {"in order", 100, {0, 1, 2, 3, 4}, 0, 0},
        {"in order across 65535", 65533, {0, 1, 2, 3, 4}, 0, 0},
        {"swapped across the wrap", 65534, {0, 2, 1, 3, 4}, 1, 0},
        {"one very late", 65535, {0, 2, 3, 4, 1}, 1, 0},
        {"first packet late", 10, {1, 0, 2, 3, 4}, 1, 0},
        {"duplicated", 7, {0, 1, 1, 2, 3, 3, 3, 4}, 0, 3},
        {"duplicated late", 65535, {0, 1, 2, 3, 4, 1}, 0, 1},
    };
    for (const Case& c : cases) {
        const std::vector<rtp_packet> all = call(c.first, 5);
        std::vector<rtp_packet> arrived;
        for (int i : c.arrival) arrived.push_back(all[std::size_t(i)]);
        const rebuilt_stream r = rebuild_stream(arrived);
        EXPECT_EQ(shape(r), "0 1 2 3 4 5 6 7 8 9") << c.name;
        EXPECT_EQ(r.stats.packets, c.arrival.size()) << c.name;
        EXPECT_EQ(r.stats.reordered, c.reordered) << c.name;
        EXPECT_EQ(r.stats.duplicates, c.duplicates) << c.name;
        EXPECT_EQ(r.stats.lost_packets, 0u) << c.name;
        EXPECT_EQ(r.stats.frames, 10u) << c.name;
        EXPECT_EQ(r.stats.speech_frames, 10u) << c.name;
        // The audio starts where packet 0 arrived, even when it came late.
        EXPECT_EQ(r.stats.start_ns, 5000 * kMs) << c.name;
    }
}

TEST(RtpStream, GapsBecomeMissingFramesAsTheTimestampsSay) {
    struct Case {
        const char* name;
        std::vector<rtp_packet> packets;
        std::string shape;
        std::size_t lost_packets, lost_frames, dtx_gaps, dtx_frames;
    };
    // Packets of 2 frames; the second number is the first frame it carries.
    std::vector<rtp_packet> dtx = {packet(1, 0, 2), packet(2, 2, 1, true), packet(3, 20, 2), packet(4, 22, 2)};
    std::vector<rtp_packet> lost_after_sid = {packet(1, 0, 2), packet(2, 2, 0, true), packet(4, 30, 2)};
    // The sender restarts its sequence numbers, up or down, mid-call.
    const std::vector<rtp_packet> restart_up = {packet(100, 0, 2), packet(101, 2, 2), packet(40000, 4, 2), packet(40002, 8, 2)};
    const std::vector<rtp_packet> restart_down = {packet(5000, 0, 2), packet(5001, 2, 2), packet(7, 4, 2), packet(8, 6, 2)};
    // Three frames a packet, and a packet of one: timestamps, not the packet
    // count, say how much is missing.
    std::vector<rtp_packet> mixed_sizes = {packet(1, 0, 3), packet(3, 6, 1), packet(4, 7, 3)};
    const Case cases[] = {
        {"one packet lost", {packet(1, 0, 2), packet(3, 4, 2)}, "0 1 L2 4 5", 1, 2, 0, 0},
        {"three packets lost", {packet(1, 0, 2), packet(5, 8, 2)}, "0 1 L6 8 9", 3, 6, 0, 0},
        {"silence after a SID frame", dtx, "0 1 2 S D16 20 21 22 23", 0, 0, 1, 16},
        {"loss inside a silence", lost_after_sid, "0 1 S L27 30 31", 1, 27, 0, 0},
        {"packets of other sizes", mixed_sizes, "0 1 2 L3 6 7 8 9", 1, 3, 0, 0},
        {"sequence restarted upwards", restart_up, "0 1 2 3 4 5 L2 8 9", 1, 2, 0, 0},
        {"sequence restarted downwards", restart_down, "0 1 2 3 4 5 6 7", 0, 0, 0, 0},
    };
    for (const Case& c : cases) {
        const rebuilt_stream r = rebuild_stream(c.packets);
        EXPECT_EQ(shape(r), c.shape) << c.name;
        EXPECT_EQ(r.stats.lost_packets, c.lost_packets) << c.name;
        EXPECT_EQ(r.stats.lost_frames, c.lost_frames) << c.name;
        EXPECT_EQ(r.stats.dtx_gaps, c.dtx_gaps) << c.name;
        EXPECT_EQ(r.stats.dtx_frames, c.dtx_frames) << c.name;
        std::size_t frames = 0;
        for (const timeline_entry& e : r.timeline) frames += e.frames;
        EXPECT_EQ(r.stats.frames, frames) << c.name;
    }
}

TEST(RtpStream, PacketsWithoutG729TakeTheirPlaceButAreNotLost) {
    // A telephone event in the stream, and a payload the frame walk refuses
    // (7 bytes): both keep their sequence number, neither counts as lost,
    // and the time they cover is missing.
    std::vector<rtp_packet> packets = call(200, 6);
    packets[2].audio = false;
    packets[4].payload.resize(7);
    const rebuilt_stream r = rebuild_stream(packets);
    EXPECT_EQ(shape(r), "0 1 2 3 X2 6 7 X2 10 11");
    EXPECT_EQ(r.stats.other_payload, 1u);
    EXPECT_EQ(r.stats.unusable, 1u);
    EXPECT_EQ(r.stats.lost_packets, 0u);
    EXPECT_EQ(r.stats.skipped_frames, 4u);
    EXPECT_EQ(r.stats.frames, 12u);
}

TEST(RtpStream, TimestampsThatContradictTheCaptureClockAreNotBelieved) {
    struct Case {
        const char* name;
        uint32_t jump;          // added to the timestamps from packet 3 on
        std::size_t missing;    // frames between packets 2 and 3
    };
    const Case cases[] = {
        {"sender clock restarted far ahead", 80u * 1000000u, 0},
        {"sender clock went backwards", uint32_t(-80 * 500), 0},
    };
    for (const Case& c : cases) {
        std::vector<rtp_packet> packets = call(1, 5);
        for (std::size_t i = 3; i < packets.size(); ++i) packets[i].timestamp += c.jump;
        const rebuilt_stream r = rebuild_stream(packets);
        EXPECT_EQ(r.stats.frames, 10u + c.missing) << c.name;
        EXPECT_EQ(r.stats.dtx_frames, c.missing) << c.name;
    }

    // A real long silence: the timestamps and the capture clock agree.
    std::vector<rtp_packet> packets = call(1, 2);
    packets[1].timestamp += 80 * 30000;
    packets[1].arrival_ns += 300 * 1000 * kMs;
    const rebuilt_stream r = rebuild_stream(packets);
    EXPECT_EQ(r.stats.dtx_frames, 30000u);
    EXPECT_EQ(r.stats.frames, 30004u);
}

TEST(RtpStream, NothingInNothingOut) {
    const rebuilt_stream r = rebuild_stream({});
    EXPECT_TRUE(r.timeline.empty());
    EXPECT_EQ(r.stats.frames, 0u);
}

} // namespace
} // namespace g729::tool
