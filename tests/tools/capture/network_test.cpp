// The network side of captured calls through the g729a executable: info's
// figures against hand computations, timestamp jumps and SSRC changes, and
// a modelled jitter buffer.
#include <gtest/gtest.h>

#include <cairo.h>
#include <nlohmann/json.hpp>

#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "g729a.h"
#include "tests/tools/capture/capture_writer.h"

namespace g729::tool {
namespace {

using namespace testing;
using namespace capture_writer;

TEST_F(CaptureTest, InfoReportsTheNetworkFiguresOfEachStreamAsComputedByHand) {
    // 1000 packets of two frames (20 s), sent every 20 ms by a clock 50 ppm
    // fast against the capture's, arriving 0, 12, 12 or 0 ms late in turn.
    const std::vector<std::vector<uint8_t>> speech = coded_frames("speech_male_librivox.g729", 200);
    std::vector<std::vector<uint8_t>> frames;
    while (frames.size() < 2000) frames.insert(frames.end(), speech.begin(), speech.end());
    std::vector<sent_packet> packets = send(frames, 2, kA, kB, 0x1a2b3c4d, kStart, 1);
    ASSERT_EQ(packets.size(), 1000u);
    const int64_t transit_ms[] = {0, 12, 12, 0};
    for (std::size_t i = 0; i < packets.size(); ++i)
        packets[i].time_ns = kStart + int64_t(std::llround(double(i) * 20e6 / (1 + 50e-6))) + transit_ms[i % 4] * kMs;
    packets[0].marker = true;
    packets[70].marker = true;

    // The receiver's running estimate: J += (|D| - J) / 16, D in RTP ticks.
    double j = 0, sum = 0, top = 0, max_delta = 0;
    for (std::size_t i = 1; i < packets.size(); ++i) {
        const double arrival_step = double(packets[i].time_ns - packets[i - 1].time_ns);
        const double d = arrival_step * 8000 / 1e9 - 160.0;
        j += (std::fabs(d) - j) / 16;
        sum += j / 8;
        top = std::max(top, j / 8);
        max_delta = std::max(max_delta, arrival_step / 1e6);
    }
    const double mean_jitter = sum / double(packets.size() - 1);

    std::vector<frame_record> records = on_link(link::ethernet, packets);
    const address rtcp_a = v4("10.0.0.1", 4001), rtcp_b = v4("10.0.0.2", 5001);
    // B's report about A arrives 600 ms after A's report, which B held for 500 ms.
    const int64_t sr_time = kStart + 1000 * kMs;
    records.push_back({sr_time, framed(link::ethernet, ip_udp(rtcp_a, rtcp_b, rtcp_sr(0x1a2b3c4d, 50, 1000, sr_time))), 0});
    records.push_back({sr_time + 600 * kMs,
                       framed(link::ethernet, ip_udp(rtcp_b, rtcp_a, rtcp_rr(0x55667788, 0x1a2b3c4d, 64, 3, 40, ntp_middle32(sr_time), 32768))),
                       0});
    write_pcap(path("call.pcap"), DLT_EN10MB, by_time(records));

    const run_result r = run({"info", "--json", path("call.pcap")});
    ASSERT_EQ(r.status, 0) << r.err;
    const nlohmann::json s = nlohmann::json::parse(r.out)["streams"][0];
    EXPECT_NEAR(s["jitter_mean_ms"].get<double>(), mean_jitter, 0.01 * mean_jitter);
    EXPECT_NEAR(s["jitter_max_ms"].get<double>(), top, 0.01 * top);
    EXPECT_NEAR(s["max_delta_ms"].get<double>(), max_delta, 0.001);
    // The jitter pattern is symmetric in time, so it does not tilt the fit.
    EXPECT_NEAR(s["skew_ppm"].get<double>(), 50.0, 1.0);
    EXPECT_EQ(s["marker_bits"], 2);
    EXPECT_EQ(s["payload_types"]["18"], 1000);
    EXPECT_EQ(s["packetization_ms"]["20"], 1000);
    EXPECT_EQ(s["loss_percent"], 0.0);
    // No loss, 20 ms packets, no buffer: R = 93.2 - Ie = 82.2.
    EXPECT_NEAR(s["r_factor"].get<double>(), 82.2, 0.01);
    ASSERT_EQ(s["rtcp_sender_reports"].size(), 1u);
    EXPECT_EQ(s["rtcp_sender_reports"][0]["packets"], 50);
    EXPECT_EQ(s["rtcp_sender_reports"][0]["octets"], 1000);
    ASSERT_EQ(s["rtcp_receiver_reports"].size(), 1u);
    const nlohmann::json rr = s["rtcp_receiver_reports"][0];
    EXPECT_EQ(rr["reporter"], "0x55667788");
    EXPECT_EQ(rr["fraction_lost"], 0.25);
    EXPECT_EQ(rr["cumulative_lost"], 3);
    EXPECT_EQ(rr["jitter_ms"], 5.0);
    EXPECT_NEAR(rr["rtt_ms"].get<double>(), 100.0, 0.1);

    const run_result text = run({"info", path("call.pcap")});
    ASSERT_EQ(text.status, 0) << text.err;
    for (const char* line : {"  marker bits:   2\n", "  packetization: 20 ms (1000)\n", "  RTCP SR:       ", "round trip 100.0 ms",
                             "(E-model estimate: network loss only, no jitter buffer modelled; one-way delay 85.0 ms: 20 ms packets, "
                             "15 ms coding, 50.0 ms network (half the RTCP round trip))\n"})
        EXPECT_TRUE(contains(text.out, line)) << line << " in:\n" << text.out;
}

TEST_F(CaptureTest, InfoReportsTimestampJumpsItDidNotBelieveAndSsrcChanges) {
    std::vector<sent_packet> packets = send(coded_frames("speech_male_librivox.g729", 200), 2, kA, kB, 0x1a2b3c4d, kStart, 1);
    for (std::size_t i = 50; i < packets.size(); ++i) packets[i].timestamp += 8000 * 600; // 600 s claimed
    // The sender restarts with a new SSRC on the same addresses.
    std::vector<sent_packet> after = send(coded_frames("speech_male_librivox.g729", 100), 2, kA, kB, 0x99999999, kStart + 3000 * kMs, 500);
    packets.insert(packets.end(), after.begin(), after.end());
    write_pcap(path("call.pcap"), DLT_EN10MB, on_link(link::ethernet, packets));

    const run_result r = run({"info", "--json", path("call.pcap")});
    ASSERT_EQ(r.status, 0) << r.err;
    const nlohmann::json streams = nlohmann::json::parse(r.out)["streams"];
    ASSERT_EQ(streams.size(), 2u);
    ASSERT_EQ(streams[0]["timestamp_jumps"].size(), 1u);
    EXPECT_EQ(streams[0]["timestamp_jumps"][0]["packet"], 51);
    EXPECT_NEAR(streams[0]["timestamp_jumps"][0]["claimed_s"].get<double>(), 600.02, 1e-6);
    EXPECT_NEAR(streams[0]["timestamp_jumps"][0]["time"].get<double>(), 1700000001.0, 1e-6);
    EXPECT_EQ(streams[1]["ssrc_change_from"], nlohmann::json::array({"0x1a2b3c4d"}));
    const run_result text = run({"info", path("call.pcap")});
    EXPECT_TRUE(contains(text.out, "  timestamp jump: 600.02 s claimed, 0.02 s seen, not believed (packet 51, 2023-11-14 22:13:21.000000 UTC)"))
        << text.out;
    EXPECT_TRUE(contains(text.out, "  SSRC change:   from 0x1a2b3c4d at 2023-11-14 22:13:23.000000 UTC")) << text.out;
}

TEST_F(CaptureTest, AJitterBufferConcealsWhatArrivesAfterItsPlayoutTime) {
    const std::vector<std::vector<uint8_t>> frames = coded_frames("speech_male_librivox.g729", 200);
    std::vector<sent_packet> packets = send(frames, 2, kA, kB, 0x1a2b3c4d, kStart, 1);
    packets[40].time_ns += 45 * kMs; // 45 ms late: past a 40 ms buffer, within a 60 ms one
    write_pcap(path("call.pcap"), DLT_EN10MB, by_time(on_link(link::ethernet, packets)));
    // The same call with that packet lost.
    std::vector<sent_packet> without = packets;
    without.erase(without.begin() + 40);
    write_pcap(path("lost.pcap"), DLT_EN10MB, by_time(on_link(link::ethernet, without)));

    ASSERT_EQ(run({"decode", path("call.pcap"), path("sent.wav")}).status, 0);
    EXPECT_EQ(wav_samples("sent.wav"), testing::decode_in_process(frames)) << "without a buffer: what the sender sent";
    ASSERT_EQ(run({"decode", "--jitter-buffer", "40", path("call.pcap"), path("played.wav")}).status, 0);
    ASSERT_EQ(run({"decode", path("lost.pcap"), path("lost.wav")}).status, 0);
    EXPECT_EQ(wav_samples("played.wav"), wav_samples("lost.wav")) << "the late packet concealed as a lost one";
    ASSERT_EQ(run({"decode", "--jitter-buffer", "60", path("call.pcap"), path("deep.wav")}).status, 0);
    EXPECT_EQ(wav_samples("deep.wav"), testing::decode_in_process(frames));

    const run_result i = run({"info", "--json", "--jitter-buffer", "40", path("call.pcap")});
    ASSERT_EQ(i.status, 0) << i.err;
    const nlohmann::json s = nlohmann::json::parse(i.out)["streams"][0];
    EXPECT_EQ(s["late_packets"], 1);
    EXPECT_EQ(s["lost_packets"], 0);
    EXPECT_EQ(s["jitter_buffer"]["late_packets"], 1);
    EXPECT_EQ(s["jitter_buffer"]["mean_delay_ms"], 40.0);
    EXPECT_NEAR(s["loss_percent"].get<double>(), 1.0, 1e-9);
    const run_result adaptive = run({"info", "--jitter-buffer", "adaptive", path("call.pcap")});
    EXPECT_EQ(adaptive.status, 0) << adaptive.err;
    EXPECT_TRUE(contains(adaptive.out, "  jitter buffer: adaptive, ")) << adaptive.out;

    expect_usage_errors({{"decode", "--jitter-buffer", "soon", path("call.pcap"), path("x.wav")},
                         {"decode", "--jitter-buffer", "40", path("x.g729"), path("x.wav")}});
}

// decode's line for a stream says what the buffer dropped, as info counts
// it: the packets too late for it and those too early for its room.
TEST_F(CaptureTest, DecodeSaysWhichPacketsTheJitterBufferDropped) {
    std::vector<sent_packet> packets = send(coded_frames("speech_male_librivox.g729", 200), 2, kA, kB, 0x1a2b3c4d, kStart, 1);
    packets[40].time_ns += 45 * kMs;  // past a 40 ms buffer, within a 60 ms one
    packets[80].time_ns -= 30 * kMs; // ahead of the one before: beyond the room of either
    write_pcap(path("call.pcap"), DLT_EN10MB, by_time(on_link(link::ethernet, packets)));
    struct Case {
        std::vector<std::string> buffer;
        const char* details;
    };
    const Case cases[] = {
        {{}, "(2 reordered)\n"},
        {{"--jitter-buffer", "40"}, "(2 reordered, 1 packet late for the 40 ms jitter buffer, 1 early packet discarded (buffer full))\n"},
        {{"--jitter-buffer", "60"}, "(2 reordered, 1 early packet discarded (buffer full))\n"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"decode"};
        args.insert(args.end(), c.buffer.begin(), c.buffer.end());
        args.insert(args.end(), {path("call.pcap"), path("out.wav")});
        const run_result d = run(args);
        ASSERT_EQ(d.status, 0) << d.err;
        EXPECT_TRUE(contains(d.err, "0x1a2b3c4d 10.0.0.1:4000 -> 10.0.0.2:5000, 200 frames " + std::string(c.details))) << d.err;
        // The counts are info's.
        std::vector<std::string> info = {"info", "--json"};
        info.insert(info.end(), c.buffer.begin(), c.buffer.end());
        info.push_back(path("call.pcap"));
        const nlohmann::json s = nlohmann::json::parse(run(info).out)["streams"][0];
        if (c.buffer.empty()) continue;
        EXPECT_TRUE(contains(d.err, std::to_string(s["jitter_buffer"]["discarded_packets"].get<int>()) + " early packet")) << d.err;
        EXPECT_EQ(contains(d.err, " late for the "), s["jitter_buffer"]["late_packets"].get<int>() > 0) << d.err;
    }
}


} // namespace
} // namespace g729::tool
