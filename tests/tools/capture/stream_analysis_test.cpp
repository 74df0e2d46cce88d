// The network figures of a stream, each against a hand computation on
// packets with known arrival times: interarrival jitter, largest gap, clock
// skew, the E-model's rating, a jitter buffer's late packets, and RTCP
// reports with their round-trip time.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "tools/capture/emodel.h"
#include "tools/capture/jitter_buffer.h"
#include "tools/capture/rtcp.h"
#include "tools/capture/stream_analysis.h"

namespace g729::tool {
namespace {

constexpr int64_t kMs = 1000000;
constexpr int64_t kMaxStep = 8000 * 60;

std::vector<packet_observation> packets_at(const std::vector<double>& arrivals_ms) {
    std::vector<packet_observation> out;
    for (std::size_t i = 0; i < arrivals_ms.size(); ++i) {
        packet_observation p;
        p.arrival_ns = int64_t(std::llround(arrivals_ms[i] * 1e6));
        p.sequence = uint16_t(100 + i);
        p.timestamp = uint32_t(160 * i);
        p.payload_type = 18;
        p.frames = 2;
        out.push_back(p);
    }
    return out;
}

TEST(StreamAnalysis, JitterFollowsTheReceiversRunningEstimate) {
    // Transit times 0, 5, 0, 10, 0 ms: |D| = 40, 40, 80, 80 ticks, and
    // J += (|D| - J) / 16 gives 2.5, 4.84375, 9.541015625, 13.944702148 ticks.
    const arrival_analysis a = analyse_arrivals(packets_at({0, 25, 40, 70, 80}), kMaxStep);
    const double expected_ms[] = {2.5 / 8, 4.84375 / 8, 9.541015625 / 8, 13.9447021484375 / 8};
    ASSERT_EQ(a.series.size(), 4u);
    for (int i = 0; i < 4; ++i) EXPECT_NEAR(a.series[std::size_t(i)].jitter_ms, expected_ms[i], 1e-9) << i;
    EXPECT_NEAR(a.max_jitter_ms, expected_ms[3], 1e-9);
    EXPECT_NEAR(a.mean_jitter_ms, (expected_ms[0] + expected_ms[1] + expected_ms[2] + expected_ms[3]) / 4, 1e-9);
    EXPECT_DOUBLE_EQ(a.max_delta_ms, 30.0);
    EXPECT_EQ(a.max_delta_at_ns, 70 * kMs);
    EXPECT_EQ(a.packets, 5u);
    EXPECT_EQ(a.frames_per_packet.at(2), 5u);
}

TEST(StreamAnalysis, DuplicatesAndUnbelievedJumpsDoNotCountAsJitter) {
    std::vector<packet_observation> p = packets_at({0, 20, 40, 60, 80});
    p.insert(p.begin() + 2, p[1]); // a duplicate, arriving with the next one
    p[2].arrival_ns = 40 * kMs;
    p[5].timestamp += 8000 * 600; // a 600 s jump in the timestamps
    for (std::size_t i = 6; i < p.size(); ++i) p[i].timestamp += 8000 * 600;
    const arrival_analysis a = analyse_arrivals(p, kMaxStep);
    EXPECT_EQ(a.packets, 5u);
    EXPECT_DOUBLE_EQ(a.max_jitter_ms, 0.0);
}

TEST(StreamAnalysis, LongStreamsKeepTheirPacketsAcrossSequenceWrapsAndABoundedSeries) {
    // 70,000 packets, 20 ms apart: past one lap of sequence numbers, with a
    // copy of packet 69,000 arriving right after it.
    std::vector<double> arrivals;
    for (int i = 0; i < 70000; ++i) arrivals.push_back(20.0 * i);
    std::vector<packet_observation> p = packets_at(arrivals);
    p.insert(p.begin() + 69001, p[69000]);
    const arrival_analysis a = analyse_arrivals(p, kMaxStep);
    EXPECT_EQ(a.packets, 70000u);
    EXPECT_LE(a.series.size(), kMaxSeriesPoints);
    EXPECT_GT(a.series.size(), kMaxSeriesPoints / 4);
    EXPECT_DOUBLE_EQ(a.max_delta_ms, 20.0);
    EXPECT_EQ(a.series.back().arrival_ns, p.back().arrival_ns);
}

TEST(StreamAnalysis, SkewComparesTheSendersClockWithTheCaptureClock) {
    // 20 ms of sender time arrive every 19.998 ms: the sender runs fast by
    // 20 / 19.998 - 1 = 100.010001 ppm.
    std::vector<double> arrivals;
    for (int i = 0; i < 200; ++i) arrivals.push_back(19.998 * i);
    const arrival_analysis a = analyse_arrivals(packets_at(arrivals), kMaxStep);
    ASSERT_TRUE(a.skew_known);
    EXPECT_NEAR(a.skew_ppm, 100.010001, 0.01);

    const arrival_analysis short_stream = analyse_arrivals(packets_at({0, 20, 40}), kMaxStep);
    EXPECT_FALSE(short_stream.skew_known);
}

TEST(EModel, RatingAndMosFollowTheImpairments) {
    struct row {
        double delay_ms, loss_percent, burst;
        double r;
    };
    // Ie,eff = 11 + 84 * Ppl / (Ppl / BurstR + 19); Id from the delay's
    // doublings past 100 ms (200 ms: 25 * (2^(1/6) - 3 * (1 + 3^-6)^(1/6) + 2)).
    const row rows[] = {
        {0, 0, 1, 93.2 - 11},
        {100, 0, 1, 93.2 - 11},
        {0, 2, 1, 93.2 - 19},
        {0, 5, 2, 93.2 - 11 - 84 * 5 / (2.5 + 19)},
        {200, 0, 1, 93.2 - 11 - 3.04441423},
    };
    for (const row& r : rows) {
        const emodel_result e = estimate_quality({r.delay_ms, r.loss_percent, r.burst});
        EXPECT_NEAR(e.r, r.r, 1e-6) << r.delay_ms << " ms, " << r.loss_percent << "%";
    }
    EXPECT_NEAR(rating_to_mos(82.2), 1 + 0.035 * 82.2 + 82.2 * 22.2 * 17.8 * 7e-6, 1e-12);
    EXPECT_EQ(rating_to_mos(-5), 1.0);
    EXPECT_EQ(rating_to_mos(120), 4.5);
    EXPECT_DOUBLE_EQ(burst_ratio(0.1, 1.0 / 0.9), 1.0);
    EXPECT_DOUBLE_EQ(burst_ratio(0.1, 3.0), 2.7);
}

std::vector<playout_packet> playout_packets(const std::vector<double>& arrivals_ms) {
    std::vector<playout_packet> out;
    for (std::size_t i = 0; i < arrivals_ms.size(); ++i)
        out.push_back({int64_t(std::llround(arrivals_ms[i] * 1e6)), uint32_t(160 * i), i == 0, 2, uint16_t(i)});
    return out;
}

TEST(JitterBuffer, AFixedBufferDropsWhatArrivesAfterItsPlayoutTime) {
    // Packet 3 is 50 ms late; packet 5 is 39 ms late.
    const auto packets = playout_packets({0, 20, 40, 110, 80, 139, 120});
    const playout_result fixed40 = play_out(packets, {false, 40}, kMaxStep);
    EXPECT_EQ(fixed40.late, (std::vector<bool>{false, false, false, true, false, false, false}));
    EXPECT_EQ(fixed40.late_packets, 1u);
    EXPECT_DOUBLE_EQ(fixed40.mean_delay_ms, 40.0);
    const playout_result fixed60 = play_out(packets, {false, 60}, kMaxStep);
    EXPECT_EQ(fixed60.late_packets, 0u);
}

// The picture draws each packet's transit and the buffer's playout line on
// one scale: a packet above the line is one the buffer dropped as late.
TEST(JitterBuffer, APacketIsLateExactlyWhereItsTransitIsAboveThePlayoutLine) {
    const std::vector<double> arrivals = {0, 20, 40, 110, 80, 139, 120, 160, 185};
    const arrival_analysis a = analyse_arrivals(packets_at(arrivals), kMaxStep);
    std::vector<playout_packet> packets = playout_packets(arrivals);
    for (std::size_t i = 0; i < packets.size(); ++i) packets[i].sequence = uint16_t(100 + i);
    ASSERT_EQ(a.series.size(), arrivals.size() - 1);
    for (std::size_t i = 1; i < arrivals.size(); ++i)
        EXPECT_NEAR(a.series[i - 1].transit_ms, arrivals[i] - 20.0 * double(i), 1e-9) << i;
    for (double delay : {20.0, 40.0, 60.0}) {
        const playout_result r = play_out(packets, {false, delay}, kMaxStep);
        ASSERT_EQ(r.delay_series.size(), 1u);
        EXPECT_DOUBLE_EQ(r.delay_series.front().playout_ms, delay);
        for (std::size_t i = 1; i < arrivals.size(); ++i)
            EXPECT_EQ(r.late[i], a.series[i - 1].transit_ms > r.delay_series.front().playout_ms) << delay << " ms, packet " << i;
    }
}

// Marker-bit, reordered and duplicated packets are listed where they
// arrived, and a crafted stream of nothing but copies lists a bounded
// number and counts the rest.
TEST(StreamAnalysis, MarkedPacketsAreListedAndBounded) {
    std::vector<packet_observation> p = packets_at({0, 20, 40, 60, 80, 100});
    p[0].marker = p[4].marker = true;
    std::swap(p[2].arrival_ns, p[3].arrival_ns); // 3 overtakes 2
    std::swap(p[2], p[3]);
    p.insert(p.begin() + 5, p[4]); // a copy of 4
    p[5].arrival_ns += kMs;
    const arrival_analysis a = analyse_arrivals(p, kMaxStep);
    const std::vector<std::pair<int64_t, packet_event_kind>> expected = {{0, packet_event_kind::marker},
                                                                         {60 * kMs, packet_event_kind::reordered},
                                                                         {80 * kMs, packet_event_kind::marker},
                                                                         {81 * kMs, packet_event_kind::duplicate}};
    ASSERT_EQ(a.events.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(a.events[i].arrival_ns, expected[i].first) << i;
        EXPECT_EQ(a.events[i].kind, expected[i].second) << i;
    }

    std::vector<packet_observation> copies(kMaxListedEvents + 500, packets_at({0})[0]);
    const arrival_analysis c = analyse_arrivals(copies, kMaxStep);
    EXPECT_EQ(c.events.size(), kMaxListedEvents);
    EXPECT_EQ(c.events_not_listed, 499u);
}

TEST(JitterBuffer, AnAdaptiveBufferGrowsWithinASpurtAndPlaysTheNextSpurtWhole) {
    // A first spurt with up to 30 ms of jitter, a silence, a second spurt.
    std::vector<playout_packet> packets;
    uint32_t ts = 0;
    int64_t t = 0;
    uint16_t sequence = 0;
    for (int i = 0; i < 50; ++i, ts += 160)
        packets.push_back({t + (i % 3) * 15 * kMs + i * 20 * kMs, ts, i == 0, 2, sequence++});
    ts += 8000; // a second of silence
    t = 50 * 20 * kMs + 1000 * kMs;
    for (int i = 0; i < 50; ++i, ts += 160)
        packets.push_back({t + (i % 3) * 15 * kMs + i * 20 * kMs, ts, i == 0, 2, sequence++});
    const playout_result adaptive = play_out(packets, {true, 20}, kMaxStep);
    // The 20 ms start loses the first packet 30 ms late; the buffer grows
    // by it at once, so the rest of the first spurt and all of the second
    // play.
    std::size_t late_second = 0;
    for (std::size_t i = 50; i < packets.size(); ++i) late_second += adaptive.late[i];
    EXPECT_EQ(adaptive.late_packets, 1u);
    EXPECT_EQ(late_second, 0u);
    EXPECT_GE(adaptive.delay_changes, 1u);
    EXPECT_EQ(adaptive.delay_series.front().delay_ms, 20.0);
}

void put32(std::vector<uint8_t>& out, uint32_t v) {
    for (int s = 24; s >= 0; s -= 8) out.push_back(uint8_t(v >> s));
}

TEST(Rtcp, SenderAndReceiverReportsAndTheRoundTripTime) {
    const int64_t sent_ns = int64_t(1700000000) * 1000000000;
    std::vector<uint8_t> sr = {0x80, 200, 0, 6};
    put32(sr, 0x11111111);
    put32(sr, 0), put32(sr, 0), put32(sr, 1234);                          // NTP, RTP time
    put32(sr, 500), put32(sr, 10000);                                     // packets, octets
    std::vector<uint8_t> rr = {0x81, 201, 0, 7};
    put32(rr, 0x22222222);
    put32(rr, 0x11111111);
    put32(rr, uint32_t(64) << 24 | 0xFFFFFE);                            // 25%, cumulative -2
    put32(rr, 70000), put32(rr, 80);                                      // highest sequence, jitter
    put32(rr, ntp_middle(sent_ns)), put32(rr, 32768);                     // LSR, DLSR 0.5 s
    std::vector<uint8_t> compound = sr;
    compound.insert(compound.end(), rr.begin(), rr.end());

    std::vector<rtcp_report> reports;
    read_rtcp(compound.data(), compound.size(), sent_ns + 600 * kMs, reports);
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_TRUE(reports[0].sender_report);
    EXPECT_EQ(reports[0].packets_sent, 500u);
    EXPECT_EQ(reports[0].octets_sent, 10000u);
    ASSERT_EQ(reports[1].blocks.size(), 1u);
    const rtcp_report_block& b = reports[1].blocks[0];
    EXPECT_DOUBLE_EQ(b.fraction_lost, 0.25);
    EXPECT_EQ(b.cumulative_lost, -2);
    EXPECT_EQ(b.jitter_ticks, 80u);
    ASSERT_TRUE(b.rtt_known);
    EXPECT_NEAR(b.rtt_ms, 100.0, 0.05);

    // A length that runs past the datagram stops the walk there.
    std::vector<rtcp_report> cut;
    read_rtcp(compound.data(), compound.size() - 4, sent_ns, cut);
    EXPECT_EQ(cut.size(), 1u);
}

} // namespace
} // namespace g729::tool
