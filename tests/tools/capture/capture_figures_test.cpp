// Figures that a crafted capture can push past what they measure: arrival
// times centuries apart, a sender clock that is no clock, round trips from
// a report the capture never carried, and packets that arrive so early a
// jitter buffer would hold them without limit. Each capture is built here
// and read by the real g729a; each figure is either a measurement or shown
// as not measured.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "tests/tools/capture/capture_info.h"
#include "tests/tools/capture/capture_writer.h"
#include "tests/tools/tool_test_support.h"
#include "tools/capture/jitter_buffer.h"
#include "tools/capture/stream_analysis.h"

namespace g729::tool {
namespace {

using testing::contains;
using testing::run_result;
using namespace capture_writer;

constexpr int64_t kSecondNs = kSecond;
const address kCaller = v4("10.0.0.1", 4000);
const address kCallee = v4("10.0.0.2", 5000);

class CaptureFiguresTest : public testing::CaptureInfoTest {};

// `count` packets of two speech frames from the caller, a packet each 20 ms
// of sender time from `start`.
std::vector<sent_packet> call(std::size_t count, int64_t start = kStart) {
    const std::vector<std::vector<uint8_t>> speech = coded_frames("speech_male_librivox.g729", 200);
    std::vector<std::vector<uint8_t>> frames;
    while (frames.size() < 2 * count) frames.insert(frames.end(), speech.begin(), speech.end());
    frames.resize(2 * count);
    return send(frames, 2, kCaller, kCallee, 0x1a2b3c4d, start, 1);
}

// Gives the pcapng's first interface (the block after the section header
// that write_pcapng makes) an if_tsoffset option: `seconds` added to every
// packet time of the interface.
std::vector<uint8_t> with_interface_time_offset(std::vector<uint8_t> pcapng, int64_t seconds) {
    constexpr std::size_t kInterfaceBlock = 28, kInterfaceBlockEnd = kInterfaceBlock + 16; // before its closing length
    std::vector<uint8_t> option;
    put32le(option, 14 | 8 << 16); // if_tsoffset, 8 bytes
    put32le(option, uint32_t(uint64_t(seconds)));
    put32le(option, uint32_t(uint64_t(seconds) >> 32));
    put32le(option, 0); // end of options
    pcapng.insert(pcapng.begin() + std::ptrdiff_t(kInterfaceBlockEnd), option.begin(), option.end());
    const uint32_t total = 20 + uint32_t(option.size());
    for (std::size_t at : {kInterfaceBlock + 4, kInterfaceBlockEnd + option.size()})
        for (int i = 0; i < 4; ++i) pcapng[at + std::size_t(i)] = uint8_t(total >> (8 * i));
    return pcapng;
}

TEST_F(CaptureFiguresTest, ArrivalTimesCenturiesApartAreDifferencedWithoutOverflowAndTheGapReported) {
    // An interface offset of -9e9 s puts the first half of a call in 1684;
    // the second half, 567 years of packet time on, lands in 2251. Both
    // are nanoseconds since 1970, their difference is not.
    constexpr int64_t kOffsetSeconds = -9000000000;
    constexpr uint64_t kGapMicros = uint64_t(567 * 365.25 * 86400) * 1000000;
    const std::vector<sent_packet> packets = call(100);
    std::vector<frame_record> records;
    for (std::size_t i = 0; i < packets.size(); ++i) {
        frame_record r = rtp_frame(link::ethernet, packets[i]);
        r.pcapng_micros = 1000000 + uint64_t(i) * 20000 + (i >= 50 ? kGapMicros : 0);
        records.push_back(r);
    }
    write_pcapng(path("far.pcapng"), DLT_EN10MB, records);
    testing::write_file(path("far.pcapng"), with_interface_time_offset(testing::read_file(path("far.pcapng")), kOffsetSeconds));

    const double gap_ms = double(kGapMicros) / 1000 + 20;
    const double far_s = double(kOffsetSeconds) + double(1000000 + 50 * 20000 + kGapMicros) / 1e6;
    for (const char* buffer : {"40", "adaptive"}) {
        SCOPED_TRACE(buffer);
        const nlohmann::json s = info_stream({"--jitter-buffer", buffer}, "far.pcapng");
        EXPECT_NEAR(s["max_delta_ms"].get<double>(), gap_ms, 1.0);
        EXPECT_NEAR(s["max_delta_at"].get<double>(), far_s, 1e-3);
        ASSERT_EQ(s["timestamp_jumps"].size(), 1u);
        EXPECT_EQ(s["timestamp_jumps"][0]["packet"], 51);
        EXPECT_NEAR(s["timestamp_jumps"][0]["seen_s"].get<double>(), gap_ms / 1000, 1e-3);
        // Neither side of the gap is jitter: each half arrived on time.
        EXPECT_EQ(s["jitter_max_ms"].get<double>(), 0.0);
        // A buffer starts afresh after the gap and plays both halves.
        EXPECT_EQ(s["jitter_buffer"]["late_packets"], 0);
        EXPECT_EQ(s["jitter_buffer"].value("discarded_packets", -1), 0);
    }
    const std::string text = info_text({}, "far.pcapng");
    EXPECT_TRUE(contains(text, "  first packet:  1684-")) << text;
    EXPECT_TRUE(contains(text, "  last packet:   2251-")) << text;
    EXPECT_TRUE(contains(text, "s seen, not believed (packet 51, 2251-")) << text;
    EXPECT_FALSE(contains(text, "-546744073")) << text;
}

TEST_F(CaptureFiguresTest, AnInterfaceTimeOffsetPastWhatNanosecondsHoldLeavesThePacketsUnused) {
    // Offsets at the ends of 64 bits: the packet times wrap inside the
    // capture library or lie before 1677 or past 2262; they are not used.
    std::vector<frame_record> records = on_link(link::ethernet, call(20));
    for (const int64_t offset : {std::numeric_limits<int64_t>::max(), std::numeric_limits<int64_t>::min(), int64_t(1) << 40,
                                 -(int64_t(1) << 40)}) {
        SCOPED_TRACE(offset);
        write_pcapng(path("offset.pcapng"), DLT_EN10MB, records);
        testing::write_file(path("offset.pcapng"), with_interface_time_offset(testing::read_file(path("offset.pcapng")), offset));
        // With every packet's time unusable the capture holds no stream.
        const run_result r = run({"info", path("offset.pcapng")});
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(contains(r.err, "offset.pcapng: no G.729 RTP stream")) << r.err;
    }
}

TEST(StreamFigures, ASkewBeyondATenthOfTheClockRateIsNotMeasured) {
    struct row {
        const char* what;
        double arrival_per_sender_second; // capture seconds passing per second of timestamps
        bool measured;
        double ppm;
    };
    const row rows[] = {
        {"100 ppm fast", 1.0 / (1 + 100e-6), true, 100.0},
        {"5% slow", 1.0 / (1 - 0.05), true, -50000.0},
        {"twice the rate", 0.5, false, 0},
        {"a burst: ten seconds arrive in a millisecond", 1e-4, false, 0},
        {"a stalled clock: arrivals ten times the timestamps", 10.0, false, 0},
    };
    for (const row& r : rows) {
        std::vector<packet_observation> packets;
        for (int i = 0; i < 500; ++i) {
            packet_observation p;
            p.arrival_ns = int64_t(std::llround(20e6 * i * r.arrival_per_sender_second));
            p.sequence = uint16_t(i);
            p.timestamp = uint32_t(160 * i);
            p.payload_type = 18;
            p.frames = 2;
            packets.push_back(p);
        }
        const arrival_analysis a = analyse_arrivals(packets, int64_t(8000) * 3600);
        EXPECT_EQ(a.skew_known, r.measured) << r.what << ": " << a.skew_ppm;
        EXPECT_EQ(a.skew_beyond_range, !r.measured) << r.what;
        if (r.measured) {
            EXPECT_NEAR(a.skew_ppm, r.ppm, std::fabs(r.ppm) * 1e-3) << r.what;
        }
    }
}

TEST_F(CaptureFiguresTest, InfoShowsASkewNoClockCouldHaveAsNotMeasured) {
    // Ten seconds of packets captured within ten milliseconds: a replayed
    // buffer, not a sender clock 10^9 ppm fast.
    std::vector<sent_packet> packets = call(500);
    for (std::size_t i = 0; i < packets.size(); ++i) packets[i].time_ns = kStart + int64_t(i) * 20 * 1000;
    write_pcap(path("burst.pcap"), DLT_EN10MB, on_link(link::ethernet, packets));
    EXPECT_TRUE(info_stream({}, "burst.pcap")["skew_ppm"].is_null());
    const std::string text = info_text({}, "burst.pcap");
    EXPECT_TRUE(contains(text, "  clock skew:    n/a (the timestamps follow no 8 kHz clock)\n")) << text;
}

// An RTCP sender report from the caller whose NTP time is `sent_ns`.
std::vector<uint8_t> sender_report(int64_t sent_ns) { return rtcp_sr(0x1a2b3c4d, 100, 2000, sent_ns); }

// The callee's receiver report about the caller naming the sender report
// of `lsr_ns`, held `dlsr_ms` before it was sent.
std::vector<uint8_t> receiver_report(int64_t lsr_ns, uint32_t dlsr_ms) {
    return rtcp_rr(0x55667788, 0x1a2b3c4d, 0, 0, 40, ntp_middle32(lsr_ns), uint32_t(uint64_t(dlsr_ms) * 65536 / 1000));
}

TEST_F(CaptureFiguresTest, ARoundTripIsMeasuredOnlyFromASenderReportSeenAndUnderTenSeconds) {
    // A 20 s call; the caller's sender report at 1 s; the callee's
    // receiver reports, each a row, on the RTCP ports next to the call's.
    const int64_t sr_ns = kStart + 1 * kSecondNs;
    struct row {
        const char* what;
        int64_t arrival_ns, lsr_ns;
        uint32_t dlsr_ms;
        double rtt_ms; // < 0: not measured
    };
    const row rows[] = {
        {"names the report, 100 ms", sr_ns + 600 * kMs, sr_ns, 500, 100.0},
        {"names a report the capture does not hold", kStart + 5 * kSecondNs, kStart + 3 * kSecondNs, 500, -1},
        {"12 s after the report it names", sr_ns + 13 * kSecondNs, sr_ns, 1000, -1},
        {"names a report the capture shows only after it", kStart + 16 * kSecondNs, kStart + 15900 * kMs, 50, -1},
    };
    std::vector<frame_record> records = on_link(link::ethernet, call(1000));
    const address rtcp_caller = v4("10.0.0.1", 4001), rtcp_callee = v4("10.0.0.2", 5001);
    records.push_back({sr_ns, framed(link::ethernet, ip_udp(rtcp_caller, rtcp_callee, sender_report(sr_ns))), 0});
    // A report stamped 15.9 s that passes the capture point at 16.5 s,
    // after the receiver report naming it.
    records.push_back({kStart + 16500 * kMs,
                       framed(link::ethernet, ip_udp(rtcp_caller, rtcp_callee, sender_report(kStart + 15900 * kMs))), 0});
    for (const row& r : rows)
        records.push_back({r.arrival_ns, framed(link::ethernet, ip_udp(rtcp_callee, rtcp_caller, receiver_report(r.lsr_ns, r.dlsr_ms))), 0});
    write_pcap(path("rtcp.pcap"), DLT_EN10MB, by_time(records));

    const nlohmann::json reports = info_stream({}, "rtcp.pcap")["rtcp_receiver_reports"];
    ASSERT_EQ(reports.size(), std::size(rows));
    for (const row& r : rows) {
        const auto it = std::find_if(reports.begin(), reports.end(), [&](const nlohmann::json& j) {
            return std::fabs(j["time"].get<double>() - double(r.arrival_ns) / 1e9) < 1e-4;
        });
        ASSERT_NE(it, reports.end()) << r.what;
        if (r.rtt_ms < 0)
            EXPECT_TRUE((*it)["rtt_ms"].is_null()) << r.what << ": " << *it;
        else
            EXPECT_NEAR((*it)["rtt_ms"].get<double>(), r.rtt_ms, 0.1) << r.what;
    }
    const std::string text = info_text({}, "rtcp.pcap");
    EXPECT_TRUE(contains(text, ", round trip 100.0 ms\n")) << text;
    EXPECT_TRUE(contains(text, ", round trip n/a\n")) << text;
}

TEST_F(CaptureFiguresTest, JitterBuffersHoldNoMoreThanTheirSizeAndDiscardWhatWouldWaitLonger) {
    // Two seconds on time, then four seconds of audio arriving in one
    // burst (a stalled link flushing its queue), then on time again: held
    // without limit, the burst's last packets would wait four seconds.
    std::vector<sent_packet> packets = call(500);
    for (std::size_t i = 100; i < 300; ++i) packets[i].time_ns = kStart + 2 * kSecondNs + int64_t(i - 100) * 1000;
    write_pcap(path("burst.pcap"), DLT_EN10MB, by_time(on_link(link::ethernet, packets)));

    struct row {
        const char* buffer;
        double most_ms; // the buffer's size and a 20 ms packet, or the adaptive buffer's ceiling
    };
    for (const row& r : {row{"0", 20}, row{"40", 60}, row{"200", 220}, row{"adaptive", 500}}) {
        SCOPED_TRACE(r.buffer);
        const nlohmann::json s = info_stream({"--jitter-buffer", r.buffer}, "burst.pcap");
        const nlohmann::json& b = s["jitter_buffer"];
        const int discarded = b.value("discarded_packets", -1), late = b["late_packets"].get<int>();
        EXPECT_LE(b["max_delay_ms"].get<double>(), r.most_ms + 1e-6);
        EXPECT_LE(b["mean_delay_ms"].get<double>(), b["max_delay_ms"].get<double>());
        EXPECT_GT(discarded, 100);
        // The packets after the burst are played.
        EXPECT_LT(discarded + late, 300);
        // What the buffer did not play counts as lost to the listener.
        EXPECT_EQ(s["late_packets"], discarded + late);
        EXPECT_GT(s["loss_percent"].get<double>(), 20.0);
        const std::string text = info_text({"--jitter-buffer", r.buffer}, "burst.pcap");
        EXPECT_TRUE(contains(text, std::to_string(discarded) + " early packets discarded (buffer full)")) << text;
    }
}

TEST(JitterBufferFigures, NoPlayedPacketWaitsLongerThanTheBufferHolds) {
    // On time, then packets arriving ever earlier against their sender
    // time (a sender clock that races): each played packet's delay stays
    // within the capacity, the rest are discarded.
    std::vector<playout_packet> packets;
    for (int i = 0; i < 400; ++i) {
        const double early_ms = i < 50 ? 0.0 : 5.0 * (i - 50);
        packets.push_back({int64_t(std::llround((20.0 * i - early_ms) * 1e6)), uint32_t(160 * i), i == 0, 2});
    }
    struct row {
        jitter_buffer_setting setting;
        double most_ms;
    };
    for (const row& r : {row{{false, 40}, 60}, row{{false, 300}, 320}, row{{true, kAdaptiveMinDelayMs}, kAdaptiveMaxDelayMs}}) {
        const playout_result p = play_out(packets, r.setting, int64_t(8000) * 3600);
        SCOPED_TRACE(r.most_ms);
        EXPECT_LE(p.max_delay_ms, r.most_ms + 1e-9);
        EXPECT_GT(p.discarded_packets, 0u);
        EXPECT_EQ(p.played_packets + p.late_packets + p.discarded_packets, packets.size());
        for (std::size_t i = 0; i < packets.size(); ++i) EXPECT_FALSE(p.late[i] && p.discarded[i]) << i;
    }
}

} // namespace
} // namespace g729::tool
