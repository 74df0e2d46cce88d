// Rebuilding one RTP stream from packets as captured: order, duplicates,
// losses, silences and the frame timeline.
#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
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
// for three lost frames, "D3" for DTX, "X3" for skipped, "T3" for late.
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
        case slot_kind::late: s += "T" + std::to_string(e.frames); break;
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

TEST(RtpStream, AJumpIsARestartOnlyWhenThePacketsAfterItContinueFromIt) {
    struct Case {
        const char* name;
        std::vector<rtp_packet> packets;
        std::size_t frames, reordered, duplicates, stale, restarts, lost;
    };
    // 300 packets of two frames; arrival order rearranged per case.
    const std::vector<rtp_packet> sent = call(65000, 300);
    auto moved = [&](std::size_t from, std::size_t after) {
        std::vector<rtp_packet> p = sent;
        rtp_packet late = p[from];
        late.arrival_ns = p[after].arrival_ns + kMs;
        p.erase(p.begin() + std::ptrdiff_t(from));
        p.insert(p.begin() + std::ptrdiff_t(after), late);
        return p;
    };
    // Five packets held up together for 3 s, then the live run goes on.
    std::vector<rtp_packet> burst = sent;
    std::vector<rtp_packet> held(burst.begin() + 10, burst.begin() + 15);
    burst.erase(burst.begin() + 10, burst.begin() + 15);
    for (rtp_packet& p : held) p.arrival_ns += 3000 * kMs;
    burst.insert(burst.begin() + 200, held.begin(), held.end());
    // A copy from long ago, and a number from nowhere.
    std::vector<rtp_packet> stale = sent;
    stale.insert(stale.begin() + 250, sent[5]);
    rtp_packet stray = sent[40];
    stray.sequence = uint16_t(stray.sequence + 20000);
    stale.insert(stale.begin() + 41, stray);
    // A real restart: the numbers jump and go on from there; an old
    // packet that turns up afterwards is stale.
    std::vector<rtp_packet> restart = sent;
    for (std::size_t i = 140; i < restart.size(); ++i) restart[i].sequence = uint16_t(restart[i].sequence + 30000);
    std::vector<rtp_packet> restart_then_old = restart;
    rtp_packet old = sent[130];
    old.arrival_ns = restart[290].arrival_ns + kMs;
    restart_then_old.insert(restart_then_old.begin() + 291, old);
    const Case cases[] = {
        {"one packet 150 late", moved(20, 170), 600, 1, 0, 0, 0, 0},
        {"a held-up burst", burst, 600, 5, 0, 0, 0, 0},
        {"a stale copy and a stray number", stale, 600, 0, 1, 1, 0, 0},
        {"a restart", restart, 600, 0, 0, 0, 1, 0},
        {"a restart, then an old packet", restart_then_old, 600, 0, 0, 1, 1, 0},
    };
    for (const Case& c : cases) {
        const rebuilt_stream r = rebuild_stream(c.packets);
        EXPECT_EQ(r.stats.frames, c.frames) << c.name;
        EXPECT_EQ(r.stats.reordered, c.reordered) << c.name;
        EXPECT_EQ(r.stats.duplicates, c.duplicates) << c.name;
        EXPECT_EQ(r.stats.stale, c.stale) << c.name;
        EXPECT_EQ(r.stats.restarts, c.restarts) << c.name;
        EXPECT_EQ(r.stats.lost_packets, c.lost) << c.name;
        if (c.restarts == 0) {
            // Every frame in its place.
            std::string want;
            for (int f = 0; f < 600; ++f) want += (want.empty() ? "" : " ") + std::to_string(uint8_t(f));
            EXPECT_EQ(shape(r), want) << c.name;
        }
    }
}

TEST(RtpStream, GapsStopAtTheLimitAndAtWhatTheCaptureClockShows) {
    // Two packets: the timestamps claim 100 s between them.
    std::vector<rtp_packet> packets = call(1, 2);
    packets[1].timestamp += 80 * 10000;
    packets[1].number = 2;
    struct Case {
        const char* name;
        int64_t clock_s;            // capture time between the packets
        std::size_t max_gap;        // frames
        std::size_t gap;            // frames filled
        bool by_limit;
    };
    const Case cases[] = {
        {"clock agrees, under the limit", 100, kMaxGapFrames, 10000, false},
        {"clock agrees, over the limit", 100, 3000, 3000, true},
        {"clock shows 30 s: not believed, the clock decides", 30, kMaxGapFrames, 2998, false},
    };
    for (const Case& c : cases) {
        std::vector<rtp_packet> p = packets;
        p[1].arrival_ns = p[0].arrival_ns + c.clock_s * 1000 * kMs;
        const rebuilt_stream r = rebuild_stream(p, c.max_gap);
        EXPECT_EQ(r.stats.dtx_frames, c.gap) << c.name;
        EXPECT_EQ(r.stats.frames, 4 + c.gap) << c.name;
        if (c.gap < 10000 && c.by_limit) {
            ASSERT_EQ(r.shortened.size(), 1u) << c.name;
            EXPECT_EQ(r.shortened[0].packet, 2u);
            EXPECT_EQ(r.shortened[0].claimed, 10000u);
            EXPECT_EQ(r.shortened[0].kept, c.gap);
            EXPECT_TRUE(r.shortened[0].by_limit);
        }
    }
    // Arrival times at the ends of the range do not overflow.
    std::vector<rtp_packet> extremes = call(1, 3);
    extremes[0].arrival_ns = std::numeric_limits<int64_t>::min();
    extremes[2].arrival_ns = std::numeric_limits<int64_t>::max();
    const rebuilt_stream r = rebuild_stream(extremes);
    EXPECT_LE(r.stats.frames, 6u + kMaxGapFrames);
}

TEST(RtpStream, NothingInNothingOut) {
    const rebuilt_stream r = rebuild_stream({});
    EXPECT_TRUE(r.timeline.empty());
    EXPECT_EQ(r.stats.frames, 0u);
}

} // namespace
} // namespace g729::tool
