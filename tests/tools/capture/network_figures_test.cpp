// The network figures an engineer checks a capture by, each on a capture
// built here with known arrivals and read by the real g729a: the sender's
// clock skew and its uncertainty, the adaptive jitter buffer against
// reordering, a lasting delay step and jitter without silences, the
// E-model from what the listener got, and RFC 3550's packet counts.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tests/tools/capture/capture_info.h"
#include "tests/tools/capture/capture_writer.h"
#include "tests/tools/tool_test_support.h"
#include "tools/capture/emodel.h"
#include "tools/capture/jitter_buffer.h"
#include "tools/capture/stream_analysis.h"

namespace g729::tool {
namespace {

using testing::contains;
using testing::run_result;
using namespace capture_writer;

const address kCaller = v4("10.0.0.1", 4000);
const address kCallee = v4("10.0.0.2", 5000);

// A deterministic uniform draw in [-1, 1), so every run builds the same capture.
class uniform_draw {
public:
    explicit uniform_draw(uint64_t seed) : state_(seed) {}
    double next() {
        state_ = state_ * 6364136223846793005ull + 1442695040888963407ull;
        return double(state_ >> 11) / double(uint64_t(1) << 52) - 1.0;
    }

private:
    uint64_t state_;
};

// `count` packets of two speech frames from the caller, one each 20 ms of
// sender time; packet i arrives at its sender time on a capture clock the
// sender's runs `skew_ppm` faster than, plus `transit_ms(i)`. Written in
// arrival order.
std::vector<sent_packet> call(std::size_t count, double skew_ppm, const std::function<double(std::size_t)>& transit_ms) {
    const std::vector<std::vector<uint8_t>> speech = coded_frames("speech_male_librivox.g729", 200);
    std::vector<std::vector<uint8_t>> frames;
    while (frames.size() < 2 * count) frames.insert(frames.end(), speech.begin(), speech.end());
    frames.resize(2 * count);
    std::vector<sent_packet> packets = send(frames, 2, kCaller, kCallee, 0x1a2b3c4d, kStart, 1);
    for (std::size_t i = 0; i < packets.size(); ++i)
        packets[i].time_ns = kStart + int64_t(std::llround((double(i) * 20.0 / (1.0 + skew_ppm * 1e-6) + transit_ms(i)) * 1e6));
    return packets;
}

class NetworkFiguresTest : public testing::CaptureInfoTest {
protected:
    void write(const std::string& name, const std::vector<sent_packet>& packets, std::vector<frame_record> extra = {}) {
        std::vector<frame_record> records = on_link(link::ethernet, packets);
        records.insert(records.end(), extra.begin(), extra.end());
        write_pcap(path(name), DLT_EN10MB, by_time(records));
    }

    // Ten seconds of the caller, no loss; the caller's sender report at 1 s
    // and the callee's receiver report about it 600 ms later, held 500 ms:
    // a round trip of 100 ms.
    void write_round_trip(const std::string& name) {
        const std::vector<sent_packet> packets = call(500, 0.0, [](std::size_t) { return 0.0; });
        const address rtcp_a = v4("10.0.0.1", 4001), rtcp_b = v4("10.0.0.2", 5001);
        const int64_t sr_time = kStart + 1000 * kMs;
        write(name, packets,
              {{sr_time, framed(link::ethernet, ip_udp(rtcp_a, rtcp_b, rtcp_sr(0x1a2b3c4d, 50, 1000, sr_time))), 0},
               {sr_time + 600 * kMs,
                framed(link::ethernet,
                       ip_udp(rtcp_b, rtcp_a, rtcp_rr(0x55667788, 0x1a2b3c4d, 0, 0, 40, ntp_middle32(sr_time), 32768))),
                0}});
    }

};

TEST_F(NetworkFiguresTest, SkewIsTheFastestPacketOfEachSecondWhateverOrderTheyCameIn) {
    struct row {
        const char* what;
        std::size_t packets;
        double skew_ppm;
        std::function<double(std::size_t)> transit_ms;
        double within_ppm; // of the truth; 0: within three printed standard errors (see SkewFit below)
    };
    // In the second half the last packet of each second comes 25 ms late,
    // after the next second's first packet.
    auto late_at_edges = [](std::size_t i) { return 30.0 + (i >= 500 && i % 50 == 49 ? 25.0 : 0.0); };
    std::vector<row> rows = {
        {"late at the second edges, no drift", 1000, 0.0, late_at_edges, 5.0},
        {"late at the second edges, +100 ppm", 1000, 100.0, late_at_edges, 5.0},
    };
    for (uint64_t seed : {1, 2, 3}) {
        auto jitter = [draw = std::make_shared<uniform_draw>(seed)](std::size_t) { return 30.0 + 15.0 * draw->next(); };
        rows.push_back({"+-15 ms jitter, +100 ppm, 30 s", 1500, 100.0, jitter, 0.0});
    }
    for (const row& r : rows) {
        write("skew.pcap", call(r.packets, r.skew_ppm, r.transit_ms));
        const nlohmann::json s = info_stream({}, "skew.pcap");
        ASSERT_FALSE(s["skew_ppm"].is_null()) << r.what << ": " << s.dump();
        const double skew = s["skew_ppm"].get<double>(), error = s["skew_ppm_stderr"].get<double>();
        std::printf("%s: %+.1f ppm +- %.1f (truth %+.1f)\n", r.what, skew, error, r.skew_ppm);
        EXPECT_NEAR(skew, r.skew_ppm, r.within_ppm > 0 ? r.within_ppm : 3 * error) << r.what;
        EXPECT_LT(error, std::fabs(skew) + 1e-9) << r.what;
    }
}

TEST(SkewFit, TheStandardErrorDescribesHowFarTheFitStrays) {
    // Many jittered copies of one drifting call: the truth lies within one
    // standard error of the fit about as often as a standard error says
    // (two times in three), and within three nearly always.
    std::size_t within_one = 0, within_two = 0, within_three = 0, measured = 0;
    constexpr int kCopies = 200;
    for (int seed = 1; seed <= kCopies; ++seed) {
        uniform_draw draw(uint64_t(seed) * 7919);
        std::vector<packet_observation> packets;
        for (int i = 0; i < 1500; ++i) {
            packet_observation p;
            p.arrival_ns = int64_t(std::llround((20.0 * i / (1 + 100e-6) + 30.0 + 15.0 * draw.next()) * 1e6));
            p.sequence = uint16_t(i);
            p.timestamp = uint32_t(160 * i);
            p.frames = 2;
            packets.push_back(p);
        }
        const arrival_analysis a = analyse_arrivals(packets, 8000 * 60);
        if (!a.skew_known) continue;
        ++measured;
        const double off = std::fabs(a.skew_ppm - 100.0) / a.skew_stderr_ppm;
        within_one += off <= 1;
        within_two += off <= 2;
        within_three += off <= 3;
    }
    std::printf("skew fit over %d copies: %zu measured, truth within 1 SE %zu, 2 SE %zu, 3 SE %zu\n", kCopies, measured,
                within_one, within_two, within_three);
    EXPECT_EQ(measured, std::size_t(kCopies));
    EXPECT_GE(within_one, measured * 55 / 100);
    EXPECT_LE(within_one, measured * 80 / 100);
    EXPECT_GE(within_three, measured * 98 / 100);
}

TEST_F(NetworkFiguresTest, SkewIsNotMeasuredWhereTheFitCannotSay) {
    uniform_draw draw(7);
    struct row {
        const char* what;
        std::size_t packets;
        double jitter_ms;
        const char* text;
        bool error_given;
    };
    const row rows[] = {
        {"two seconds", 100, 0.0, "  clock skew:    n/a (under three seconds to fit)\n", false},
        {"8 s of +-15 ms jitter, no drift", 400, 15.0, ": the uncertainty is larger than the value)\n", true},
    };
    for (const row& r : rows) {
        write("short.pcap", call(r.packets, 0.0, [&](std::size_t) { return 30.0 + r.jitter_ms * draw.next(); }));
        const nlohmann::json s = info_stream({}, "short.pcap");
        EXPECT_TRUE(s["skew_ppm"].is_null()) << r.what << ": " << s["skew_ppm"] << " +- " << s["skew_ppm_stderr"];
        EXPECT_EQ(s["skew_ppm_stderr"].is_null(), !r.error_given) << r.what;
        const std::string text = info_text({}, "short.pcap");
        EXPECT_TRUE(contains(text, r.text)) << r.what << ":\n" << text;
    }
}

// Packets of 20 ms, one continuous talk spurt, in arrival order.
std::vector<playout_packet> spurt(const std::vector<double>& transit_ms) {
    std::vector<playout_packet> out;
    for (std::size_t i = 0; i < transit_ms.size(); ++i)
        out.push_back({int64_t(std::llround((20.0 * double(i) + transit_ms[i]) * 1e6)), uint32_t(160 * i), i == 0, 2,
                       uint16_t(i)});
    std::stable_sort(out.begin(), out.end(), [](const playout_packet& a, const playout_packet& b) { return a.arrival_ns < b.arrival_ns; });
    return out;
}

TEST(AdaptiveBuffer, ReorderedPacketsChangeNothing) {
    // A steady 30 ms transit with a little jitter, then three packets each
    // held back behind the next one.
    std::vector<double> transit;
    for (int i = 0; i < 300; ++i) transit.push_back(30.0 + (i % 4) * 2.0);
    std::vector<double> reordered = transit;
    for (int i : {60, 150, 240}) reordered[std::size_t(i)] += 25.0;
    const playout_result steady = play_out(spurt(transit), {true, kAdaptiveMinDelayMs}, 8000 * 60);
    const playout_result swapped = play_out(spurt(reordered), {true, kAdaptiveMinDelayMs}, 8000 * 60);
    EXPECT_EQ(swapped.delay_changes, steady.delay_changes);
    ASSERT_EQ(swapped.delay_series.size(), steady.delay_series.size());
    for (std::size_t i = 0; i < steady.delay_series.size(); ++i)
        EXPECT_EQ(swapped.delay_series[i].delay_ms, steady.delay_series[i].delay_ms) << i;
    // Only they themselves can be late.
    EXPECT_LE(swapped.late_packets, steady.late_packets + 3);
    std::printf("steady: %zu changes, %zu late; with three reordered: %zu changes, %zu late\n", steady.delay_changes,
                steady.late_packets, swapped.delay_changes, swapped.late_packets);
}

TEST_F(NetworkFiguresTest, ThreeReorderedPacketsInACaptureChangeNothingInTheAdaptiveBuffer) {
    auto transit = [](std::size_t i) { return 30.0 + double(i % 4) * 2.0; };
    write("steady.pcap", call(300, 0.0, transit));
    write("reordered.pcap", call(300, 0.0, [&](std::size_t i) { return transit(i) + (i == 60 || i == 150 || i == 240 ? 25.0 : 0.0); }));
    const nlohmann::json steady = info_stream({"--jitter-buffer", "adaptive"}, "steady.pcap");
    const nlohmann::json reordered = info_stream({"--jitter-buffer", "adaptive"}, "reordered.pcap");
    EXPECT_EQ(reordered["reordered"], 3);
    EXPECT_EQ(reordered["jitter_buffer"]["delay_changes"], steady["jitter_buffer"]["delay_changes"]);
    EXPECT_EQ(reordered["jitter_buffer"]["delay_over_time"].size(), steady["jitter_buffer"]["delay_over_time"].size());
    for (std::size_t i = 0; i < steady["jitter_buffer"]["delay_over_time"].size(); ++i)
        EXPECT_EQ(reordered["jitter_buffer"]["delay_over_time"][i][1], steady["jitter_buffer"]["delay_over_time"][i][1]) << i;
    EXPECT_LE(reordered["jitter_buffer"]["late_packets"].get<int>(), steady["jitter_buffer"]["late_packets"].get<int>() + 3);
}

TEST(AdaptiveBuffer, StaysWithinItsRangeAndGivesDelayBackSlowly) {
    // A 200 ms spike in one spurt (the link stalls, then lets the queue go
    // at once): the buffer grows to cover it and then shrinks a frame a
    // second, never below 20 ms.
    std::vector<double> transit(1500, 30.0);
    for (std::size_t i = 100; i < 110; ++i) transit[i] = 230.0 - 20.0 * double(i - 100);
    const playout_result r = play_out(spurt(transit), {true, kAdaptiveMinDelayMs}, 8000 * 60);
    ASSERT_GE(r.delay_series.size(), 3u);
    double top = 0;
    for (std::size_t i = 1; i < r.delay_series.size(); ++i) {
        const delay_point& p = r.delay_series[i];
        top = std::max(top, p.delay_ms);
        EXPECT_GE(p.delay_ms, kAdaptiveMinDelayMs);
        EXPECT_LE(p.delay_ms, kAdaptiveMaxDelayMs);
        const delay_point& before = r.delay_series[i - 1];
        if (p.delay_ms < before.delay_ms) {
            EXPECT_LE(before.delay_ms - p.delay_ms, 10.0) << "a frame at a time";
            EXPECT_GE(p.arrival_ns - before.arrival_ns, 990 * kMs) << "a frame a second";
        }
    }
    EXPECT_GE(top, 200.0);
    EXPECT_LE(r.late_packets, 1u);
    EXPECT_NEAR(r.delay_series.back().delay_ms, kAdaptiveMinDelayMs, 10.0);
}

TEST_F(NetworkFiguresTest, AnAdaptiveBufferResyncsWithinASpurtAfterALastingDelayStep) {
    // Ten seconds without a silence; the transit steps from 30 to 90 ms at 3 s.
    write("step.pcap", call(500, 0.0, [](std::size_t i) { return i < 150 ? 30.0 : 90.0; }));
    const nlohmann::json adaptive = info_stream({"--jitter-buffer", "adaptive"}, "step.pcap");
    const nlohmann::json fixed = info_stream({"--jitter-buffer", "20"}, "step.pcap");
    std::printf("step: adaptive %d late, delay %s; fixed 20 ms %d late, R %.1f against %.1f\n",
                adaptive["jitter_buffer"]["late_packets"].get<int>(), adaptive["jitter_buffer"]["delay_over_time"].dump().c_str(),
                fixed["jitter_buffer"]["late_packets"].get<int>(), fixed["r_factor"].get<double>(), adaptive["r_factor"].get<double>());
    EXPECT_LE(adaptive["jitter_buffer"]["late_packets"].get<int>(), 3);
    EXPECT_GE(fixed["jitter_buffer"]["late_packets"].get<int>(), 300);
    EXPECT_EQ(adaptive["timeline_frames"], 1000);
    EXPECT_LE(adaptive["late_frames"].get<int>(), 6);
    // The delay moved up once, by the step, in whole frames.
    const nlohmann::json series = adaptive["jitter_buffer"]["delay_over_time"];
    ASSERT_GE(series.size(), 2u);
    EXPECT_EQ(series.back()[1].get<double>(), 60.0);
    EXPECT_NEAR(series[1][0].get<double>() - series[0][0].get<double>(), 3.09, 0.05);

    // Decoded, it is as long as the call and the four frames the buffer
    // waited for when its delay went from 20 to 60 ms.
    const run_result d = run({"decode", "--jitter-buffer", "adaptive", path("step.pcap"), path("step.wav")});
    ASSERT_EQ(d.status, 0) << d.err;
    EXPECT_TRUE(contains(d.err, "0 frames dropped and 4 repeated")) << d.err;
    EXPECT_EQ(testing::read_audio(path("step.wav")).samples.size(), std::size_t(10 * 8000 + 4 * 80));
}

TEST_F(NetworkFiguresTest, WithoutSilencesTheAdaptiveBufferFollowsTheJitter) {
    // A call with no silence suppression and +-15 ms of jitter: the buffer
    // grows to cover the jitter instead of staying at its least delay.
    // The first packet is the fastest, so a fixed buffer timed from it
    // loses what comes more than its delay later.
    uniform_draw draw(11);
    write("jitter.pcap", call(1000, 0.0, [&](std::size_t i) { return i == 0 ? 15.0 : 30.0 + 15.0 * draw.next(); }));
    const nlohmann::json adaptive = info_stream({"--jitter-buffer", "adaptive"}, "jitter.pcap");
    const nlohmann::json fixed = info_stream({"--jitter-buffer", "20"}, "jitter.pcap");
    const nlohmann::json& b = adaptive["jitter_buffer"];
    std::printf("jitter: adaptive %d late, %d changes, mean delay %.1f ms, max %.1f ms; fixed 20 ms %d late\n",
                b["late_packets"].get<int>(), b["delay_changes"].get<int>(), b["mean_delay_ms"].get<double>(),
                b["max_delay_ms"].get<double>(), fixed["jitter_buffer"]["late_packets"].get<int>());
    EXPECT_GT(b["delay_changes"].get<int>(), 0);
    EXPECT_GT(b["delay_over_time"].size(), 1u);
    EXPECT_GT(b["max_delay_ms"].get<double>(), 25.0);
    EXPECT_LT(b["late_packets"].get<int>(), fixed["jitter_buffer"]["late_packets"].get<int>());
    EXPECT_LE(b["late_packets"].get<int>(), 5);
}

TEST(EModel, RatingStaysWithinItsRange) {
    // Nine packets in ten lost and two seconds of delay: far past useless.
    const emodel_result worst = estimate_quality({2000, 90, 1});
    EXPECT_EQ(worst.r, 0.0);
    EXPECT_EQ(worst.mos, 1.0);
    EXPECT_LE(estimate_quality({0, 0, 1}).r, 100.0);
}

TEST_F(NetworkFiguresTest, QualityCountsWhatTheListenerGot) {
    uniform_draw draw(5);
    write("jitter.pcap", call(500, 0.0, [&](std::size_t i) { return i == 0 ? 15.0 : 30.0 + 15.0 * draw.next(); }));
    const nlohmann::json none = info_stream({}, "jitter.pcap");
    const nlohmann::json buffered = info_stream({"--jitter-buffer", "20"}, "jitter.pcap");
    std::printf("quality: no buffer R %.2f (delay %.1f ms); 20 ms buffer R %.2f (delay %.1f ms, %d late)\n",
                none["r_factor"].get<double>(), none["one_way_delay_ms"].get<double>(), buffered["r_factor"].get<double>(),
                buffered["one_way_delay_ms"].get<double>(), buffered["jitter_buffer"]["late_packets"].get<int>());
    ASSERT_GT(buffered["jitter_buffer"]["late_packets"].get<int>(), 0);
    EXPECT_LT(buffered["r_factor"].get<double>(), none["r_factor"].get<double>());
    EXPECT_EQ(none["one_way_delay_ms"].get<double>(), 35.0);
    EXPECT_GT(buffered["one_way_delay_ms"].get<double>(), 35.0);
    EXPECT_EQ(none["quality_loss"], "network only");
    EXPECT_EQ(buffered["quality_loss"], "network and buffer");
    EXPECT_TRUE(contains(info_text({}, "jitter.pcap"),
                         "(E-model estimate: network loss only, no jitter buffer modelled; one-way delay 35.0 ms: 20 ms packets, "
                         "15 ms coding, network unknown)\n"));

    // Four packets in five lost, a second of buffer: R bottoms out at 0.
    std::vector<sent_packet> sparse;
    const std::vector<sent_packet> all = call(500, 0.0, [](std::size_t) { return 30.0; });
    for (std::size_t i = 0; i < all.size(); i += 5) sparse.push_back(all[i]);
    write("sparse.pcap", sparse);
    const nlohmann::json worst = info_stream({"--jitter-buffer", "1000"}, "sparse.pcap");
    std::printf("worst: loss %.1f%%, delay %.1f ms, R %.2f\n", worst["loss_percent"].get<double>(),
                worst["one_way_delay_ms"].get<double>(), worst["r_factor"].get<double>());
    EXPECT_EQ(worst["r_factor"].get<double>(), 0.0);
    EXPECT_TRUE(contains(info_text({"--jitter-buffer", "1000"}, "sparse.pcap"), "  quality:       R 0.0, MOS 1.00 (E-model estimate: loss with"));
}

TEST_F(NetworkFiguresTest, TheNetworksDelayIsHalfTheMeasuredRoundTrip) {
    write_round_trip("rtt.pcap");
    const nlohmann::json s = info_stream({}, "rtt.pcap");
    EXPECT_NEAR(s["network_delay_ms"].get<double>(), 50.0, 0.1);
    EXPECT_NEAR(s["one_way_delay_ms"].get<double>(), 85.0, 0.1);
    EXPECT_TRUE(contains(info_text({}, "rtt.pcap"), "; one-way delay 85.0 ms: 20 ms packets, 15 ms coding, 50.0 ms network (half the RTCP round trip))\n"));
}

TEST_F(NetworkFiguresTest, TheOneWayDelayGivenStandsForTheOneTheCaptureShows) {
    write_round_trip("rtt.pcap");
    write("plain.pcap", call(500, 0.0, [](std::size_t) { return 0.0; }));
    struct Case {
        const char* capture;
        std::vector<std::string> options;
        double delay_ms;
        const char* source;
        const char* text;
    };
    const Case cases[] = {
        {"plain.pcap", {}, 35.0, "without network", "; one-way delay 35.0 ms: 20 ms packets, 15 ms coding, network unknown)\n"},
        {"rtt.pcap", {}, 85.0, "rtcp", "; one-way delay 85.0 ms: 20 ms packets, 15 ms coding, 50.0 ms network (half the RTCP round trip))\n"},
        {"rtt.pcap", {"--one-way-delay", "300"}, 300.0, "given", "; one-way delay 300.0 ms given with --one-way-delay)\n"},
        {"plain.pcap", {"--one-way-delay=400", "--jitter-buffer", "40"}, 400.0, "given",
         "; one-way delay 400.0 ms given with --one-way-delay)\n"},
        {"plain.pcap", {"--one-way-delay", "0"}, 0.0, "given", "; one-way delay 0.0 ms given with --one-way-delay)\n"},
    };
    for (const Case& c : cases) {
        const nlohmann::json s = info_stream(c.options, c.capture);
        EXPECT_EQ(s["one_way_delay_ms"].get<double>(), c.delay_ms) << c.capture << " " << c.delay_ms;
        EXPECT_EQ(s["one_way_delay_source"], c.source) << c.capture << " " << c.delay_ms;
        // The same loss, the delay alone moves R: not at all below 100 ms,
        // less and less beyond.
        const double loss_only = estimate_quality({0.0, s["loss_percent"].get<double>(), 1.0}).r;
        EXPECT_NEAR(s["r_factor"].get<double>(), loss_only - delay_impairment(c.delay_ms), 0.01) << c.capture << " " << c.delay_ms;
        if (c.delay_ms > 100.0) {
            EXPECT_LT(s["r_factor"].get<double>(), loss_only - 1.0);
        }
        const std::string text = info_text(c.options, c.capture);
        EXPECT_TRUE(contains(text, c.text)) << text;
    }
}

TEST_F(NetworkFiguresTest, Rfc3550CountsStandBesideTheUniquePacketCounts) {
    // 100 packets sent; two lost, three copied, one reordered.
    std::vector<sent_packet> packets = call(100, 0.0, [](std::size_t) { return 10.0; });
    packets[40].time_ns += 30 * kMs;
    for (std::size_t i : {10, 20, 30}) {
        sent_packet copy = packets[i];
        copy.time_ns += 5 * kMs;
        packets.push_back(copy);
    }
    packets.erase(packets.begin() + 70);
    packets.erase(packets.begin() + 50);
    write("counts.pcap", packets);
    const nlohmann::json s = info_stream({}, "counts.pcap");
    EXPECT_EQ(s["expected_packets"], 100);
    EXPECT_EQ(s["received_packets"], 101);
    EXPECT_EQ(s["cumulative_lost"], -1);
    EXPECT_EQ(s["lost_packets"], 2);
    EXPECT_EQ(s["duplicated"], 3);
    EXPECT_TRUE(contains(info_text({}, "counts.pcap"), "  RFC 3550:      expected 100, received 101, cumulative lost -1\n"));
}

} // namespace
} // namespace g729::tool
