// Packet captures through the g729a executable: captures built here with
// libpcap's writer (and a hand-made pcapng) from the project's own coded
// speech, read back by info and decode.
#include <gtest/gtest.h>

#include <cairo.h>
#include <nlohmann/json.hpp>

#include <arpa/inet.h>
#include <pcap/pcap.h>
#include <sys/stat.h>

#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <map>
#include <array>
#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "g729a.h"
#include "capture_writer.h"
#include "tool_test_support.h"
#include "tools/capture/capture_file.h"
#include "tools/plot/plot.h"

namespace g729::tool {
namespace {

using namespace capture_writer;
using testing::read_file;
using testing::run_result;
using testing::write_file;
using testing::contains;


const address kA = v4("10.0.0.1", 4000);
const address kB = v4("10.0.0.2", 5000);
const char* const kAtoB = "10.0.0.1_4000-10.0.0.2_5000_1a2b3c4d.wav";

class CaptureTest : public testing::ToolTest {
protected:
    void TearDown() override {
        // Output directories the tests made.
        for (const std::string& name : files()) {
            struct stat st;
            if (stat(path(name).c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
                const std::string command = "rm -rf '" + path(name) + "'";
                EXPECT_EQ(std::system(command.c_str()), 0);
            }
        }
        testing::ToolTest::TearDown();
    }

    std::vector<int16_t> wav_samples(const std::string& name) { return testing::read_audio(path(name)).samples; }

    // 120 frames of speech from A to B, two a packet, the last packet a
    // speech frame and a SID frame.
    std::vector<std::vector<uint8_t>> talk() {
        std::vector<std::vector<uint8_t>> frames = coded_frames("speech_male_librivox.g729", 121);
        frames.push_back({0xa5, 0xc3});
        return frames;
    }
};

TEST_F(CaptureTest, EveryLinkLayerAndIpVersionDecodesToTheFramesDirectDecode) {
    struct Case {
        const char* name;
        link l;
        bool ipv6;
        bool pcapng;
        const char* file;
    };
    const Case cases[] = {
        {"Ethernet", link::ethernet, false, false, kAtoB},
        {"802.1ad + 802.1Q VLAN tags", link::vlan, false, false, kAtoB},
        {"Linux cooked v1", link::cooked, false, false, kAtoB},
        {"Linux cooked v2, IPv6", link::cooked2, true, false, "2001:db8::1_4000-2001:db8::2_5000_1a2b3c4d.wav"},
        {"raw IPv4", link::raw, false, false, kAtoB},
        {"raw IPv6", link::raw, true, false, "2001:db8::1_4000-2001:db8::2_5000_1a2b3c4d.wav"},
        {"BSD loopback", link::loopback, false, false, kAtoB},
        {"pcapng, Ethernet, IPv6", link::ethernet, true, true, "2001:db8::1_4000-2001:db8::2_5000_1a2b3c4d.wav"},
        {"pcapng, Linux cooked", link::cooked, false, true, kAtoB},
    };
    const std::vector<std::vector<uint8_t>> frames = talk();
    const std::vector<int16_t> expected = testing::decode_in_process(frames);
    ASSERT_EQ(expected.size(), 122u * 80u);
    for (const Case& c : cases) {
        const address from = c.ipv6 ? v6("2001:db8::1", 4000) : kA;
        const address to = c.ipv6 ? v6("2001:db8::2", 5000) : kB;
        std::vector<rtp_spec> packets = send(frames, 2, from, to, 0x1a2b3c4d, kStart, 65500);
        // Every header feature RTP allows on the way.
        for (std::size_t i = 0; i < packets.size(); ++i) {
            if (i % 3 == 1) packets[i].csrcs = 2;
            if (i % 5 == 2) packets[i].extension_words = int(i % 3);
            if (i % 7 == 3) packets[i].padding = 4;
        }
        const std::string capture = c.pcapng ? "call.pcapng" : "call.pcap";
        if (c.pcapng)
            write_pcapng(path(capture), dlt_of(c.l), on_link(c.l, packets));
        else
            write_pcap(path(capture), dlt_of(c.l), on_link(c.l, packets));

        const run_result d = run({"decode", path(capture), path("out")});
        ASSERT_EQ(d.status, 0) << c.name << ": " << d.err;
        EXPECT_EQ(wav_samples("out/" + std::string(c.file)), expected) << c.name;
        EXPECT_TRUE(contains(d.err, "decode: 122 frames, 1.22 s of audio")) << c.name << ": " << d.err;

        const run_result i = run({"info", path(capture)});
        ASSERT_EQ(i.status, 0) << c.name << ": " << i.err;
        for (const std::string line : {"packets:       61\n", "G.729 streams: 1\n", "skipped:       none\n",
                                       "  SSRC:          0x1a2b3c4d\n", "  payload type:  18\n", "  packets:       61\n",
                                       "  frames:        122 (121 speech, 1 SID)\n", "  lost:          0 packets (0 frames)\n",
                                       "  duplicated:    0\n", "  reordered:     0\n", "  DTX gaps:      0 (0 frames)\n",
                                       "  first packet:  2023-11-14 22:13:20.000000 UTC\n",
                                       "  last packet:   2023-11-14 22:13:21.200000 UTC\n", "  duration:      1.22 s\n"})
            EXPECT_TRUE(contains(i.out, line)) << c.name << ": " << line << "in:\n" << i.out;
        EXPECT_TRUE(contains(i.out, c.ipv6 ? "  source:        [2001:db8::1]:4000\n" : "  source:        10.0.0.1:4000\n"))
            << i.out;
        std::remove(path(capture).c_str());
        EXPECT_EQ(std::system(("rm -rf '" + path("out") + "'").c_str()), 0);
    }
}

TEST_F(CaptureTest, LossReorderingAndDuplicatesKeepTheTimeline) {
    const std::vector<std::vector<uint8_t>> frames = coded_frames("speech_male_librivox.g729", 200);
    const std::vector<rtp_spec> sent = send(frames, 2, kA, kB, 0x1a2b3c4d, kStart, 1000);
    ASSERT_EQ(sent.size(), 100u);
    struct Case {
        const char* name;
        std::function<std::vector<rtp_spec>(std::vector<rtp_spec>)> network;
        std::vector<std::size_t> lost_packets; // indices into `sent`
        const char* counts;                    // lost, duplicated, reordered lines
    };
    const Case cases[] = {
        {"5% loss",
         [](std::vector<rtp_spec> p) {
             std::vector<rtp_spec> kept;
             for (std::size_t i = 0; i < p.size(); ++i)
                 if (i % 20 != 7) kept.push_back(p[i]);
             return kept;
         },
         {7, 27, 47, 67, 87},
         "  lost:          5 packets (10 frames)\n  duplicated:    0\n  reordered:     0\n"},
        {"reordering",
         [](std::vector<rtp_spec> p) {
             for (std::size_t i = 3; i + 1 < p.size(); i += 10) std::swap(p[i], p[i + 1]);
             // 53 54 51 52 54 50: three packets arrive after a later one.
             std::swap(p[50], p[54]);
             return p;
         },
         {},
         "  lost:          0 packets (0 frames)\n  duplicated:    0\n  reordered:     12\n"},
        {"duplicates",
         [](std::vector<rtp_spec> p) {
             std::vector<rtp_spec> out;
             for (std::size_t i = 0; i < p.size(); ++i) {
                 out.push_back(p[i]);
                 if (i % 15 == 0) out.push_back(p[i]);
                 if (i == 40) out.push_back(p[38]); // a late copy
             }
             return out;
         },
         {},
         "  lost:          0 packets (0 frames)\n  duplicated:    8\n  reordered:     0\n"},
    };
    for (const Case& c : cases) {
        write_pcap(path("call.pcap"), DLT_EN10MB, on_link(link::ethernet, c.network(sent)));
        std::vector<std::vector<uint8_t>> expected_frames = frames;
        for (std::size_t lost : c.lost_packets) expected_frames[2 * lost].clear(), expected_frames[2 * lost + 1].clear();

        const run_result d = run({"decode", "--stream", "1A2B3C4D", path("call.pcap"), path("call.wav")});
        ASSERT_EQ(d.status, 0) << c.name << ": " << d.err;
        EXPECT_EQ(wav_samples("call.wav"), testing::decode_in_process(expected_frames)) << c.name;

        const run_result i = run({"info", path("call.pcap")});
        ASSERT_EQ(i.status, 0) << c.name << ": " << i.err;
        EXPECT_TRUE(contains(i.out, c.counts)) << c.name << ":\n" << i.out;
        EXPECT_TRUE(contains(i.out, "  duration:      2.00 s\n")) << c.name << ":\n" << i.out;
    }
}

TEST_F(CaptureTest, SilenceSuppressionIsDecodedOnTime) {
    // 100 speech frames, a SID frame, 199 frames not sent, 100 speech frames.
    std::vector<std::vector<uint8_t>> frames = coded_frames("speech_male_librivox.g729", 200);
    frames.insert(frames.begin() + 100, std::vector<uint8_t>{0xa5, 0xc3});
    frames.insert(frames.begin() + 101, 199, std::vector<uint8_t>{});
    ASSERT_EQ(frames.size(), 400u);
    write_pcap(path("dtx.pcap"), DLT_EN10MB, on_link(link::ethernet, send(frames, 2, kA, kB, 0x1a2b3c4d, kStart, 1)));

    const run_result d = run({"decode", path("dtx.pcap"), path("dtx.wav")});
    ASSERT_EQ(d.status, 0) << d.err;
    const std::vector<int16_t> decoded = wav_samples("dtx.wav");
    EXPECT_EQ(decoded.size(), 400u * 80u) << "the second talk spurt starts 3 s in, as sent";
    EXPECT_EQ(decoded, testing::decode_in_process(frames));

    const run_result i = run({"info", "--json", path("dtx.pcap")});
    ASSERT_EQ(i.status, 0) << i.err;
    for (const char* field : {"\"frames\": 201", "\"speech_frames\": 200", "\"sid_frames\": 1", "\"lost_packets\": 0",
                              "\"dtx_gaps\": 1", "\"dtx_frames\": 199", "\"duration\": 4.00", "\"ssrc\": \"0x1a2b3c4d\"",
                              "\"source\": \"10.0.0.1:4000\"", "\"destination\": \"10.0.0.2:5000\"",
                              "\"first_time\": 1700000000.000000", "\"other_rtp_streams\": []"})
        EXPECT_TRUE(contains(i.out, field)) << field << " in:\n" << i.out;
    EXPECT_EQ(i.out.front(), '{');
    EXPECT_EQ(i.out.substr(i.out.size() - 2), "}\n");

    // Saved without an extension (tcpdump -w dtx), it is known by its header.
    write_file(path("dtx"), read_file(path("dtx.pcap")));
    const run_result bare = run({"info", "--json", path("dtx")});
    ASSERT_EQ(bare.status, 0) << bare.err;
    EXPECT_TRUE(contains(bare.out, "\"dtx_frames\": 199")) << bare.out;
}

TEST_F(CaptureTest, OurEncodersSuppressedStreamDecodesOnTimeFromACapture) {
    // Speech with pauses of digital silence, coded with silence suppression:
    // speech frames, a SID frame after each spurt, gaps.
    std::vector<int16_t> input = testing::speech_samples(2 * 8000);
    for (int part = 0; part < 2; ++part) {
        input.insert(input.end(), 8000, int16_t(0));
        const std::vector<int16_t> again = testing::speech_samples(8000);
        input.insert(input.end(), again.begin(), again.end());
    }
    g729a_encoder* enc = g729a_encoder_create(nullptr);
    g729a_encoder_set_dtx(enc, 1);
    std::vector<std::vector<uint8_t>> frames;
    std::size_t gaps = 0;
    for (std::size_t f = 0; f + kFrame <= input.size(); f += kFrame) {
        uint8_t frame[kSpeechFrameBytes];
        const int n = g729a_encode(enc, &input[f], kFrame, frame, sizeof frame);
        frames.emplace_back(frame, frame + n);
        gaps += n == 0;
    }
    g729a_encoder_destroy(enc);
    ASSERT_GT(gaps, 100u);
    write_pcap(path("dtx.pcap"), DLT_EN10MB, on_link(link::ethernet, send(frames, 2, kA, kB, 0x5eed, kStart, 7)));

    const run_result d = run({"decode", path("dtx.pcap"), path("dtx.wav")});
    ASSERT_EQ(d.status, 0) << d.err;
    EXPECT_EQ(wav_samples("dtx.wav"), testing::decode_in_process(frames)) << "every gap in its place";
}

TEST_F(CaptureTest, BothDirectionsMixIntoOneStereoFileAlignedOnCaptureTime) {
    const std::vector<std::vector<uint8_t>> male = coded_frames("speech_male_librivox.g729", 150);
    const std::vector<std::vector<uint8_t>> female = coded_frames("speech_female_espeak.g729", 100);
    // B answers 250 ms after A starts, one frame a packet; A's first packet
    // is captured after B's second, to show arrival time, not file order,
    // places the streams.
    std::vector<rtp_spec> a = send(male, 2, kA, kB, 0x1a2b3c4d, kStart, 10);
    std::vector<rtp_spec> b = send(female, 1, kB, kA, 0x5e6f7a8b, kStart + 250 * kMs, 20);
    std::vector<frame_record> records = by_time(on_link(link::ethernet, a));
    const std::vector<frame_record> rb = on_link(link::ethernet, b);
    records.insert(records.end(), rb.begin(), rb.end());
    records = by_time(records);
    write_pcap(path("call.pcap"), DLT_EN10MB, records);

    const run_result d = run({"decode", "--mix", path("mix.wav"), path("call.pcap"), path("out")});
    ASSERT_EQ(d.status, 0) << d.err;
    const std::vector<int16_t> left = testing::decode_in_process(male);
    const std::vector<int16_t> right = testing::decode_in_process(female);
    EXPECT_EQ(wav_samples("out/" + std::string(kAtoB)), left);
    EXPECT_EQ(wav_samples("out/10.0.0.2_5000-10.0.0.1_4000_5e6f7a8b.wav"), right);

    const testing::audio_file mix = testing::read_audio(path("mix.wav"));
    EXPECT_EQ(mix.info.channels, 2);
    EXPECT_EQ(mix.info.samplerate, 8000);
    ASSERT_EQ(mix.samples.size(), 2u * std::max(left.size(), 2000 + right.size()));
    std::vector<int16_t> mix_left, mix_right;
    for (std::size_t i = 0; i < mix.samples.size(); i += 2) {
        mix_left.push_back(mix.samples[i]);
        mix_right.push_back(mix.samples[i + 1]);
    }
    std::vector<int16_t> want_right(2000, 0);
    want_right.insert(want_right.end(), right.begin(), right.end());
    want_right.resize(mix_right.size(), 0);
    std::vector<int16_t> want_left = left;
    want_left.resize(mix_left.size(), 0);
    EXPECT_EQ(mix_left, want_left);
    EXPECT_EQ(mix_right, want_right);
    EXPECT_TRUE(contains(d.err, "right: 0x5e6f7a8b 10.0.0.2:5000 -> 10.0.0.1:4000, 2000 samples later")) << d.err;

    // A stream that has no other direction does not make a call.
    const std::vector<rtp_spec> c = send(male, 2, v4("10.0.0.3", 6000), v4("10.0.0.4", 7000), 0x99, kStart, 1);
    const std::vector<frame_record> rc = on_link(link::ethernet, c);
    records.insert(records.end(), rc.begin(), rc.end());
    write_pcap(path("three.pcap"), DLT_EN10MB, by_time(records));
    const run_result three = run({"decode", "--mix", path("mix3.wav"), path("three.pcap")});
    ASSERT_EQ(three.status, 0) << three.err;
    EXPECT_EQ(testing::read_audio(path("mix3.wav")).samples, mix.samples);

    // With a second call in the capture, --mix needs to be told which one.
    const std::vector<rtp_spec> d2 = send(female, 2, v4("10.0.0.4", 7000), v4("10.0.0.3", 6000), 0x98, kStart, 1);
    const std::vector<frame_record> rd = on_link(link::ethernet, d2);
    records.insert(records.end(), rd.begin(), rd.end());
    write_pcap(path("four.pcap"), DLT_EN10MB, by_time(records));
    const run_result ambiguous = run({"decode", "--mix", path("mix4.wav"), path("four.pcap")});
    EXPECT_EQ(ambiguous.status, 1);
    EXPECT_TRUE(contains(ambiguous.err, "choose one with --stream SSRC")) << ambiguous.err;
    const run_result chosen = run({"decode", "--stream", "0x5e6f7a8b", "--mix", path("mix4.wav"), path("four.pcap")});
    ASSERT_EQ(chosen.status, 0) << chosen.err;
    EXPECT_EQ(testing::read_audio(path("mix4.wav")).samples, mix.samples);
}

TEST_F(CaptureTest, ADynamicPayloadTypeIsG729WhenTheCallsSdpOrPtSaysSo) {
    const std::vector<std::vector<uint8_t>> frames = coded_frames("speech_male_librivox.g729", 60);
    std::vector<rtp_spec> packets = send(frames, 2, kA, kB, 0x1a2b3c4d, kStart + 100 * kMs, 1);
    for (rtp_spec& p : packets) p.payload_type = 96;
    // A telephone event in the same stream takes a sequence number.
    rtp_spec event = packets[10];
    event.payload_type = 101;
    event.payload = {1, 0x0A, 0, 160};
    packets.insert(packets.begin() + 11, event);
    for (std::size_t i = 11; i < packets.size(); ++i) ++packets[i].sequence;

    const std::string sdp = "v=0\r\no=- 1 1 IN IP4 10.0.0.2\r\ns=-\r\nc=IN IP4 10.0.0.2\r\nt=0 0\r\n"
                            "m=audio 5000 RTP/AVP 96 101\r\na=rtpmap:96 G729/8000\r\na=fmtp:96 annexb=no\r\n"
                            "a=rtpmap:101 telephone-event/8000\r\n";
    const std::string sip = "SIP/2.0 200 OK\r\nVia: SIP/2.0/UDP 10.0.0.1:5060\r\nContent-Type: application/sdp\r\n"
                            "Content-Length: " + std::to_string(sdp.size()) + "\r\n\r\n" + sdp;
    std::vector<frame_record> with_sdp = {
        {kStart, framed(link::ethernet, ip_udp(v4("10.0.0.2", 5060), v4("10.0.0.1", 5060),
                                               std::vector<uint8_t>(sip.begin(), sip.end()))), 0}};
    const std::vector<frame_record> media = on_link(link::ethernet, packets);
    with_sdp.insert(with_sdp.end(), media.begin(), media.end());
    write_pcap(path("sdp.pcap"), DLT_EN10MB, with_sdp);
    write_pcap(path("bare.pcap"), DLT_EN10MB, media);

    // The event's 20 ms are missing from the timeline, not lost.
    std::vector<std::vector<uint8_t>> expected_frames = frames;
    std::vector<int16_t> expected = testing::decode_in_process(expected_frames);

    const run_result i = run({"info", path("sdp.pcap")});
    ASSERT_EQ(i.status, 0) << i.err;
    EXPECT_TRUE(contains(i.out, "  payload type:  96 (G.729 by SDP)\n")) << i.out;
    EXPECT_TRUE(contains(i.out, "  lost:          0 packets (0 frames)\n")) << i.out;
    EXPECT_TRUE(contains(i.out, "skipped:       1 (1 other payload types)\n")) << i.out;
    EXPECT_TRUE(contains(i.out, "other traffic: 1 packet\n")) << i.out;
    ASSERT_EQ(run({"decode", path("sdp.pcap"), path("sdp.wav")}).status, 0);
    EXPECT_EQ(wav_samples("sdp.wav"), expected);

    const run_result bare = run({"decode", path("bare.pcap"), path("bare.wav")});
    EXPECT_EQ(bare.status, 1);
    EXPECT_EQ(bare.err, "g729a: " + path("bare.pcap") +
                            ": no G.729 RTP stream (payload type 18, or one that SDP in the capture or --pt maps to G.729) "
                            "among 31 packets; it holds RTP of payload type 96 (--pt N reads a type as G.729)\n");
    const run_result pt = run({"decode", "--pt", "96", path("bare.pcap"), path("bare.wav")});
    ASSERT_EQ(pt.status, 0) << pt.err;
    EXPECT_EQ(wav_samples("bare.wav"), expected);
}

TEST_F(CaptureTest, PacketsThatCannotBeUsedAreSkippedAndCounted) {
    const std::vector<std::vector<uint8_t>> frames = coded_frames("speech_male_librivox.g729", 80);
    std::vector<rtp_spec> packets = send(frames, 2, kA, kB, 0x1a2b3c4d, kStart, 1);
    packets[10].payload.resize(7); // not whole frames: its 20 ms are concealed
    std::vector<frame_record> records = on_link(link::ethernet, packets);

    frame_record cut = rtp_frame(link::ethernet, packets[20]);
    cut.captured = 50; // the capture's snap length cut it
    rtp_spec fragment = packets[21];
    fragment.fragment_bits = 0x2000; // more fragments follow
    rtp_spec old_version = packets[22];
    old_version.version = 1;
    std::vector<uint8_t> broken = rtp_bytes(packets[23]);
    broken[0] |= 0x0F; // 15 CSRCs announced, fewer bytes follow
    std::vector<uint8_t> arp(60, 0);
    arp[12] = 0x08;
    arp[13] = 0x06;
    records.push_back(cut);
    records.push_back(rtp_frame(link::ethernet, fragment));
    records.push_back(rtp_frame(link::ethernet, old_version));
    records.push_back({kStart, framed(link::ethernet, ip_udp(kA, kB, broken)), 0});
    records.push_back({kStart, arp, 0});
    // A stream of another codec.
    std::vector<rtp_spec> pcmu = send(coded_frames("speech_male_librivox.g729", 10), 1, v4("10.0.0.5", 8000), kB, 7, kStart, 1);
    for (rtp_spec& p : pcmu) p.payload_type = 0;
    const std::vector<frame_record> rp = on_link(link::ethernet, pcmu);
    records.insert(records.end(), rp.begin(), rp.end());
    write_pcap(path("mixed.pcap"), DLT_EN10MB, by_time(records));

    const run_result i = run({"info", path("mixed.pcap")});
    ASSERT_EQ(i.status, 0) << i.err;
    for (const std::string line :
         {"packets:       55\n",
          "skipped:       15 (2 truncated, 1 IP fragments, 1 not RTP version 2, 10 other payload types, 1 G.729 payloads "
          "without a whole frame)\n",
          "other traffic: 1 packet\n", "  packets:       40\n", "  lost:          0 packets (0 frames)\n",
          "  unused:        1 without a whole frame, 0 other payload types (2 frames)\n",
          "other RTP streams (not read as G.729):\n  0x00000007 10.0.0.5:8000 -> 10.0.0.2:5000, payload type 0, 10 packets\n"})
        EXPECT_TRUE(contains(i.out, line)) << line << "in:\n" << i.out;

    const run_result d = run({"decode", path("mixed.pcap"), path("out.raw")});
    ASSERT_EQ(d.status, 0) << d.err;
    std::vector<std::vector<uint8_t>> expected = frames;
    expected[20].clear();
    expected[21].clear();
    EXPECT_EQ(testing::raw_samples(read_file(path("out.raw"))), testing::decode_in_process(expected));
    EXPECT_TRUE(contains(d.err, "g729a: " + path("mixed.pcap") + ": 15 packets skipped: 2 truncated")) << d.err;
}

TEST_F(CaptureTest, ACaptureCutShortDecodesWhatItHoldsUnlessStrict) {
    const std::vector<std::vector<uint8_t>> frames = coded_frames("speech_male_librivox.g729", 40);
    write_pcap(path("full.pcap"), DLT_EN10MB, on_link(link::ethernet, send(frames, 2, kA, kB, 0x1a2b3c4d, kStart, 1)));
    std::vector<uint8_t> bytes = read_file(path("full.pcap"));
    bytes.resize(bytes.size() - 10);
    write_file(path("cut.pcap"), bytes);
    std::remove(path("full.pcap").c_str());

    const run_result d = run({"decode", path("cut.pcap"), path("cut.wav")});
    ASSERT_EQ(d.status, 0) << d.err;
    EXPECT_TRUE(contains(d.err, "g729a: " + path("cut.pcap") + ": cut short after packet 19: ")) << d.err;
    EXPECT_TRUE(contains(d.err, "; decoded the packets before it\n")) << d.err;
    EXPECT_EQ(wav_samples("cut.wav"), testing::decode_in_process({frames.begin(), frames.begin() + 38}));

    const run_result strict = run({"decode", "--strict", path("cut.pcap"), path("strict.wav")});
    EXPECT_EQ(strict.status, 1);
    EXPECT_EQ(strict.err.rfind("g729a: " + path("cut.pcap") + ": cut short after packet 19: ", 0), 0u) << strict.err;
    EXPECT_EQ(std::count(strict.err.begin(), strict.err.end(), '\n'), 1) << strict.err;

    const run_result i = run({"info", path("cut.pcap")});
    EXPECT_EQ(i.status, 1);
    EXPECT_TRUE(contains(i.out, "malformed:     cut short after packet 19: ")) << i.out;
    EXPECT_EQ(files(), (std::set<std::string>{"cut.pcap", "cut.wav"}));
}

TEST_F(CaptureTest, BadCapturesFailWithOneMessageNamingTheFileAndNoOutput) {
    write_file(path("text.pcap"), std::vector<uint8_t>(200, 'x'));
    write_file(path("empty.pcap"), {});
    write_pcap(path("nothing.pcap"), DLT_EN10MB, {});
    write_pcap(path("wifi.pcap"), DLT_IEEE802_11, {{kStart, std::vector<uint8_t>(40, 0), 0}});
    std::vector<rtp_spec> pcmu = send(coded_frames("speech_male_librivox.g729", 5), 1, kA, kB, 7, kStart, 1);
    for (rtp_spec& p : pcmu) p.payload_type = 0;
    write_pcap(path("pcmu.pcap"), DLT_EN10MB, on_link(link::ethernet, pcmu));
    const std::set<std::string> inputs = files();

    struct Case {
        const char* file;
        std::string message; // after "g729a: FILE: "
    };
    const Case cases[] = {
        {"text.pcap", "not a packet capture (pcap or pcapng): unknown file format"},
        {"empty.pcap", "not a packet capture (pcap or pcapng): the file is empty"},
        {"missing.pcap", "cannot open: No such file or directory"},
        {"nothing.pcap",
         "no G.729 RTP stream (payload type 18, or one that SDP in the capture or --pt maps to G.729) among 0 packets"},
        {"wifi.pcap", "link type IEEE802_11 (not read): the capture is read from Ethernet, Linux cooked capture, raw IP "
                      "or loopback"},
        {"pcmu.pcap", "no G.729 RTP stream (payload type 18, or one that SDP in the capture or --pt maps to G.729) among 5 "
                      "packets; it holds RTP of payload type 0 (--pt N reads a type as G.729)"},
    };
    for (const Case& c : cases) {
        for (const std::vector<std::string>& args : {std::vector<std::string>{"decode", path(c.file), path("out")},
                                                    std::vector<std::string>{"decode", "--mix", path("mix.wav"), path(c.file)},
                                                    std::vector<std::string>{"info", "-q", path(c.file)}}) {
            const run_result r = run(args);
            EXPECT_EQ(r.status, 1) << c.file;
            EXPECT_EQ(r.err, "g729a: " + path(c.file) + ": " + c.message + "\n") << args[0];
            EXPECT_EQ(files(), inputs) << c.file;
        }
    }

    write_pcap(path("two.pcap"), DLT_EN10MB,
               by_time([&] {
                   std::vector<frame_record> r = on_link(link::ethernet, send(coded_frames("speech_male_librivox.g729", 4), 2, kA, kB, 1, kStart, 1));
                   const std::vector<frame_record> o = on_link(link::ethernet, send(coded_frames("speech_male_librivox.g729", 4), 2, kB, kA, 2, kStart, 1));
                   r.insert(r.end(), o.begin(), o.end());
                   return r;
               }()));
    const run_result one_file = run({"decode", path("two.pcap"), path("one.wav")});
    EXPECT_EQ(one_file.status, 1);
    EXPECT_TRUE(contains(one_file.err, ": holds 2 G.729 streams: give a directory as OUT, or choose one with --stream SSRC"))
        << one_file.err;
    const run_result no_such = run({"decode", "--stream", "abc", path("two.pcap"), path("one.wav")});
    EXPECT_EQ(no_such.status, 1);
    EXPECT_TRUE(contains(no_such.err, ": no G.729 stream has SSRC 0x00000abc; the capture holds 0x00000001 10.0.0.1:4000 -> "
                                      "10.0.0.2:5000; 0x00000002 10.0.0.2:5000 -> 10.0.0.1:4000\n"))
        << no_such.err;
    EXPECT_EQ(files().count("one.wav"), 0u);
}

TEST(CaptureParsing, EveryCutOfAPacketIsTruncatedAndNothingIsReadPastIt) {
    // Each prefix is copied to a buffer of exactly its size, so that a read
    // past the end shows under the address sanitizer.
    rtp_spec p;
    p.source = kA;
    p.destination = kB;
    p.csrcs = 2;
    p.extension_words = 1;
    p.padding = 3;
    p.payload = coded_frames("speech_male_librivox.g729", 2)[1];
    p.payload.insert(p.payload.end(), {0xa5, 0xc3});
    for (link l : {link::ethernet, link::vlan, link::cooked, link::cooked2, link::raw, link::loopback}) {
        for (bool ipv6 : {false, true}) {
            rtp_spec q = p;
            if (ipv6) q.source = v6("2001:db8::1", 4000), q.destination = v6("2001:db8::2", 5000);
            const std::vector<uint8_t> whole = rtp_frame(l, q).bytes;
            for (std::size_t n = 0; n <= whole.size(); ++n) {
                const std::vector<uint8_t> cut(whole.begin(), whole.begin() + std::ptrdiff_t(n));
                const ip_payload ip = unwrap_packet(dlt_of(l), cut.data(), cut.size());
                if (n < whole.size()) {
                    EXPECT_EQ(int(ip.kind), int(packet_class::truncated)) << dlt_of(l) << " " << ipv6 << " cut to " << n;
                    continue;
                }
                ASSERT_EQ(int(ip.kind), int(packet_class::udp)) << dlt_of(l) << " " << ipv6;
                EXPECT_EQ(ip.source.port, 4000);
                EXPECT_EQ(ip.destination.port, 5000);
                rtp_header h;
                ASSERT_EQ(int(parse_rtp(ip.data, ip.size, h)), int(rtp_parse::ok));
                EXPECT_EQ(std::vector<uint8_t>(h.payload, h.payload + h.payload_size), q.payload);
            }
        }
    }

    const std::vector<uint8_t> rtp = rtp_bytes(p);
    for (std::size_t n = 0; n <= rtp.size(); ++n) {
        const std::vector<uint8_t> cut(rtp.begin(), rtp.begin() + std::ptrdiff_t(n));
        rtp_header h;
        const rtp_parse r = parse_rtp(cut.data(), cut.size(), h);
        if (r == rtp_parse::ok) {
            EXPECT_GE(h.payload, cut.data()) << n;
            EXPECT_LE(h.payload + h.payload_size, cut.data() + cut.size()) << n;
        }
    }

    const std::string sdp = "v=0\r\nc=IN IP6 2001:db8::2\r\nm=audio 5000 RTP/AVP 97\r\na=rtpmap:97 g729/8000/1\r\n";
    for (std::size_t n = 0; n <= sdp.size(); ++n) {
        const std::vector<char> cut(sdp.begin(), sdp.begin() + std::ptrdiff_t(n));
        read_sdp(cut.data(), cut.size());
    }
    const std::vector<sdp_g729> found = read_sdp(sdp.data(), sdp.size());
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].receiver.text(), "[2001:db8::2]:5000");
    EXPECT_EQ(found[0].payload_types, std::set<int>{97});
}

TEST_F(CaptureTest, CaptureOptionsAreCheckedLikeAnyOther) {
    write_file(path("in.g729"), std::vector<uint8_t>(20, 0));
    write_pcap(path("call.pcap"), DLT_EN10MB, on_link(link::ethernet, send(talk(), 2, kA, kB, 1, kStart, 1)));
    const std::vector<std::vector<std::string>> cases = {
        {"decode", "--pt", "200", path("call.pcap"), path("out")},
        {"decode", "--pt", "x", path("call.pcap"), path("out")},
        {"decode", "--stream", "not-hex", path("call.pcap"), path("out")},
        {"decode", "--stream", "123456789", path("call.pcap"), path("out")},
        {"decode", "--bad-frames=maybe", path("in.g729"), path("out.raw")},
        {"decode", "--mix", path("mix.wav"), path("in.g729"), path("out.raw")},
        {"decode", "--json", path("in.g729"), path("out.raw")},
        {"decode", path("call.pcap")},
        {"decode", path("call.pcap"), "-"},
        {"info", "--mix", path("mix.wav"), path("call.pcap")},
        {"encode", path("call.pcap"), path("out.g729")},
        {"decode", "--pt"},
    };
    expect_usage_errors(cases);
    EXPECT_EQ(files(), (std::set<std::string>{"in.g729", "call.pcap"}));
}


// --- Hostile captures ----------------------------------------------------
// Each capture below is a few hundred bytes to a few hundred kilobytes built
// the way an attacker would, and each shows one way a capture once turned
// against the person decoding it.

// One more packet after the last of `packets`, `seconds` of silence later:
// the next sequence number, its timestamp and arrival moved on as far.
void send_after_silence(std::vector<rtp_spec>& packets, int seconds) {
    rtp_spec after = packets.back();
    after.sequence = uint16_t(after.sequence + 1);
    after.timestamp += uint32_t(seconds) * 8000;
    after.time_ns += seconds * kSecond;
    packets.push_back(after);
}


TEST_F(CaptureTest, CaptureTimesCenturiesApartOrPast2262NeitherOverflowNorFillTheDisk) {
    const std::vector<rtp_spec> a = send(coded_frames("speech_male_librivox.g729", 50), 2, kA, kB, 0x1a2b3c4d, kStart, 1);
    const std::vector<rtp_spec> b = send(coded_frames("speech_female_espeak.g729", 50), 2, kB, kA, 0x5e6f7a8b, kStart, 1);
    constexpr uint64_t kYearMicros = uint64_t(365.25 * 86400) * 1000000;
    auto capture_with_b_at = [&](uint64_t micros_after_a) {
        std::vector<frame_record> records = on_link(link::ethernet, a);
        for (const rtp_spec& p : b) {
            frame_record r = rtp_frame(link::ethernet, p);
            r.pcapng_micros = uint64_t(p.time_ns / 1000) + micros_after_a;
            records.push_back(r);
        }
        return records;
    };

    // 532 years on: past what nanoseconds since 1970 hold. Those packets
    // are skipped and named; the other direction decodes alone.
    write_pcapng(path("far.pcapng"), DLT_EN10MB, capture_with_b_at(532 * kYearMicros));
    const run_result far = run({"decode", "--mix", path("far.wav"), path("far.pcapng")});
    ASSERT_EQ(far.status, 0) << far.err;
    EXPECT_TRUE(contains(far.err, "25 G.729 packets with a capture time out of range (first: packet 26)")) << far.err;
    EXPECT_EQ(testing::read_audio(path("far.wav")).samples.size(), 2u * 50 * 80);
    const run_result info = run({"info", path("far.pcapng")});
    EXPECT_TRUE(contains(info.out, "G.729 streams: 1\n")) << info.out;

    // 230 years apart, both in range: not one call, and no silence of 230
    // years in front of one channel.
    write_pcapng(path("apart.pcapng"), DLT_EN10MB, capture_with_b_at(230 * kYearMicros));
    const run_result apart = run({"decode", "--mix", path("apart.wav"), path("apart.pcapng")});
    EXPECT_EQ(apart.status, 1);
    EXPECT_TRUE(contains(apart.err, "s apart, more than the limit of 3600 s (--max-gap SECONDS raises it): not one call")) << apart.err;
    EXPECT_EQ(files(), (std::set<std::string>{"far.pcapng", "far.wav", "apart.pcapng"}));
}

TEST_F(CaptureTest, SparsePacketsCannotAmplifyACaptureIntoHoursOfAudioOrFiles) {
    // Five one-frame packets five minutes apart, by timestamp and by clock:
    // 700 bytes that once decoded to 20 minutes.
    const std::vector<rtp_spec> packets = sparse_packets(5, 300, kA, kB);
    write_pcap(path("sparse.pcap"), DLT_EN10MB, on_link(link::ethernet, packets));

    const run_result refused = run({"decode", path("sparse.pcap"), path("sparse.wav")});
    EXPECT_EQ(refused.status, 1);
    EXPECT_TRUE(contains(refused.err, "would write 1200.0 s (0.33 h) of audio, more than the limit of 601.0 s (0.17 h) (ten minutes "
                                      "and twenty times the audio its packets carry); --max-audio SECONDS raises it"))
        << refused.err;
    EXPECT_EQ(files(), (std::set<std::string>{"sparse.pcap"}));

    const run_result raised = run({"decode", "--max-audio", "1300", path("sparse.pcap"), path("sparse.wav")});
    ASSERT_EQ(raised.status, 0) << raised.err;
    EXPECT_EQ(wav_samples("sparse.wav").size(), (4u * 29999 + 5) * 80);

    // Gaps cut to --max-gap, each named with where and by how much.
    const run_result cut = run({"decode", "--max-gap", "60", path("sparse.pcap"), path("cut.wav")});
    ASSERT_EQ(cut.status, 0) << cut.err;
    EXPECT_EQ(wav_samples("cut.wav").size(), (4u * 6000 + 5) * 80);
    EXPECT_TRUE(contains(cut.err, "0x1a2b3c4d: the gap before packet 2 (sequence 2) shortened from 299.99 s to 60.00 s (the limit is "
                                  "60 s; --max-gap SECONDS raises it)"))
        << cut.err;
    EXPECT_TRUE(contains(cut.err, "1 more gaps shortened (4 gaps, 959.96 s left out in all)")) << cut.err;
    const run_result info = run({"info", "--max-gap", "60", path("sparse.pcap")});
    EXPECT_TRUE(contains(info.out, "  shortened:     4 gaps, 959.96 s left out\n")) << info.out;

    // Timestamps that claim hours the capture clock never saw.
    std::vector<rtp_spec> claims = packets;
    for (std::size_t i = 0; i < claims.size(); ++i) claims[i].time_ns = kStart + int64_t(i) * 10 * kMs;
    write_pcap(path("claims.pcap"), DLT_EN10MB, on_link(link::ethernet, claims));
    const run_result clock = run({"decode", path("claims.pcap"), path("claims.wav")});
    ASSERT_EQ(clock.status, 0) << clock.err;
    EXPECT_EQ(wav_samples("claims.wav").size(), 5u * 80);

    // Many small streams: no more files than the limit.
    std::vector<rtp_spec> many;
    for (uint32_t s = 0; s < 5; ++s)
        for (rtp_spec p : send(coded_frames("speech_male_librivox.g729", 4), 2, kA, kB, 0x100 + s, kStart, 1)) many.push_back(p);
    write_pcap(path("many.pcap"), DLT_EN10MB, by_time(on_link(link::ethernet, many)));
    const run_result files_refused = run({"decode", "--max-files", "3", path("many.pcap"), path("many")});
    EXPECT_EQ(files_refused.status, 1);
    EXPECT_TRUE(contains(files_refused.err, "would write 5 files, more than the limit of 3 (--max-files N raises it; --stream SSRC "
                                            "decodes one stream)"))
        << files_refused.err;
    EXPECT_EQ(files().count("many"), 0u);
    ASSERT_EQ(run({"decode", path("many.pcap"), path("many")}).status, 0);
    EXPECT_EQ(listing(path("many")).size(), 5u);
}

TEST_F(CaptureTest, ALatePacketOrAStaleDuplicateLeavesTheCallAsSent) {
    // 8 s, two frames a packet, the sequence numbers wrapping on the way.
    const std::vector<std::vector<uint8_t>> frames = coded_frames("speech_male_espeak.g729", 800);
    const std::vector<rtp_spec> sent = send(frames, 2, kA, kB, 0x1a2b3c4d, kStart, 65300);
    std::vector<rtp_spec> captured = sent;
    captured[100].time_ns = sent[350].time_ns + kMs;  // 250 packets (5 s) late
    rtp_spec stale = sent[50];                         // a copy from 5 s before
    stale.time_ns = sent[300].time_ns + kMs;
    captured.push_back(stale);
    rtp_spec stray = sent[200];                        // a number from nowhere
    stray.sequence = uint16_t(stray.sequence + 20000);
    stray.time_ns = sent[210].time_ns + kMs;
    captured.push_back(stray);
    write_pcap(path("late.pcap"), DLT_EN10MB, by_time(on_link(link::ethernet, captured)));

    const run_result info = run({"info", path("late.pcap")});
    ASSERT_EQ(info.status, 0) << info.err;
    for (const char* line : {"  packets:       402\n", "  lost:          0 packets (0 frames)\n", "  duplicated:    1\n",
                             "  reordered:     1\n", "  stale:         1 (dropped: far from the sequence, not a restart)\n",
                             "  restarts:      0\n", "  duration:      8.00 s\n"})
        EXPECT_TRUE(contains(info.out, line)) << line << "in:\n" << info.out;
    ASSERT_EQ(run({"decode", path("late.pcap"), path("late.wav")}).status, 0);
    EXPECT_EQ(wav_samples("late.wav"), testing::decode_in_process(frames));
}

TEST_F(CaptureTest, AFailedOrInterruptedDecodeLeavesTheFolderAsItWas) {
    // A short stream, and a long one (8 s, then a half-hour silence, long
    // enough to be interrupted while it is written) that fails to be
    // written under a 64 kB file-size limit.
    std::vector<rtp_spec> packets = send(coded_frames("speech_male_librivox.g729", 50), 2, kA, kB, 0x1a2b3c4d, kStart, 1);
    std::vector<rtp_spec> long_one = send(coded_frames("speech_male_espeak.g729", 800), 2, kB, kA, 0x5e6f7a8b, kStart, 1);
    send_after_silence(long_one, 1800);
    packets.insert(packets.end(), long_one.begin(), long_one.end());
    write_pcap(path("call.pcap"), DLT_EN10MB, by_time(on_link(link::ethernet, packets)));

    ASSERT_EQ(mkdir(path("out").c_str(), 0777), 0);
    write_file(path("out/" + std::string(kAtoB)), {'e', 'a', 'r', 'l', 'i', 'e', 'r'});
    write_file(path("out/notes.txt"), {'k', 'e', 'e', 'p'});
    const std::map<std::string, std::string> before = listing(path("out"));
    const std::string limited = "bash -c \"trap '' XFSZ; ulimit -f 64; exec '" G729A_TOOL_PATH "' decode --max-audio 7200 '" + path("call.pcap") + "' '";
    for (const char* target : {"out", "fresh"}) {
        const run_result r = run_shell(limited + path(target) + "'\" >" + path(".stdout") + " 2>" + path(".stderr"));
        EXPECT_EQ(r.status, 1) << target << r.err;
        EXPECT_TRUE(contains(r.err, "cannot write")) << r.err;
        EXPECT_EQ(listing(path("out")), before) << target;
        EXPECT_EQ(files(), (std::set<std::string>{"call.pcap", "out"})) << target;
    }

    // Interrupted while the long stream is being written: the same.
    for (const char* target : {"out", "fresh"}) {
        for (int sig : {SIGINT, SIGTERM}) {
            const pid_t pid = testing::spawn({"decode", "--max-audio", "7200", path("call.pcap"), path(target)}, -1, path(".stdout"),
                                             path(".stderr"));
            // Wait for a temporary file (or folder) to appear, then
            // interrupt; up to 30 s, for a loaded machine or a sanitizer
            // build.
            bool seen = false;
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
            while (!seen && std::chrono::steady_clock::now() < deadline) {
                for (const std::string& n : files()) seen = seen || n.find(".tmp-") != std::string::npos;
                for (const auto& [n, bytes] : listing(path("out"))) seen = seen || n.find(".tmp-") != std::string::npos;
                if (!seen) usleep(200);
            }
            kill(pid, sig);
            const testing::child_run r = testing::wait_child(pid);
            EXPECT_TRUE(seen) << target;
            EXPECT_EQ(r.signal, sig) << target << " exited " << r.status;
            EXPECT_EQ(listing(path("out")), before) << target;
            EXPECT_EQ(files(), (std::set<std::string>{"call.pcap", "out"})) << target;
        }
    }

    // Done, the earlier file is replaced and nothing else touched.
    ASSERT_EQ(run({"decode", "--max-audio", "7200", path("call.pcap"), path("out")}).status, 0);
    const std::map<std::string, std::string> after_run = listing(path("out"));
    EXPECT_EQ(after_run.size(), 3u);
    EXPECT_EQ(after_run.at("notes.txt"), "keep");
    EXPECT_NE(after_run.at(kAtoB), "earlier");
}

TEST_F(CaptureTest, AnSdpMapsPayloadTypesOnlyForTheAddressAndPortItDescribes) {
    const std::vector<std::vector<uint8_t>> frames = coded_frames("speech_male_librivox.g729", 40);
    std::vector<rtp_spec> g729 = send(frames, 2, kA, kB, 0x1a2b3c4d, kStart + 100 * kMs, 1);
    for (rtp_spec& p : g729) p.payload_type = 96;
    // Another call, whose SDP is not in the capture, sends G.711 as 96.
    std::vector<rtp_spec> g711 = send(frames, 2, v4("10.0.0.7", 9000), v4("10.0.0.8", 9002), 0x77, kStart + 100 * kMs, 1);
    for (rtp_spec& p : g711) {
        p.payload_type = 96;
        p.payload.assign(160, 0xD5);
    }
    const std::string sdp = "v=0\r\no=- 1 1 IN IP4 10.0.0.2\r\ns=-\r\nc=IN IP4 10.0.0.2\r\nt=0 0\r\n"
                            "m=audio 5000 RTP/AVP 96\r\na=rtpmap:96 G729/8000\r\n";
    std::vector<frame_record> records = {
        {kStart, framed(link::ethernet, ip_udp(v4("10.0.0.2", 5060), v4("10.0.0.1", 5060), std::vector<uint8_t>(sdp.begin(), sdp.end()))), 0}};
    for (const std::vector<rtp_spec>* s : {&g729, &g711}) {
        const std::vector<frame_record> r = on_link(link::ethernet, *s);
        records.insert(records.end(), r.begin(), r.end());
    }
    write_pcap(path("two.pcap"), DLT_EN10MB, by_time(records));

    const run_result info = run({"info", path("two.pcap")});
    ASSERT_EQ(info.status, 0) << info.err;
    EXPECT_TRUE(contains(info.out, "G.729 streams: 1\n")) << info.out;
    EXPECT_TRUE(contains(info.out, "  0x00000077 10.0.0.7:9000 -> 10.0.0.8:9002, payload type 96, 20 packets\n")) << info.out;
    ASSERT_EQ(run({"decode", path("two.pcap"), path("out")}).status, 0);
    EXPECT_EQ(listing(path("out")).size(), 1u);
    EXPECT_EQ(wav_samples("out/" + std::string(kAtoB)), testing::decode_in_process(frames));
}

TEST_F(CaptureTest, GeneratedNamesNeverFollowALinkOutOfTheFolder) {
    write_pcap(path("call.pcap"), DLT_EN10MB, on_link(link::ethernet, send(talk(), 2, kA, kB, 0x1a2b3c4d, kStart, 1)));
    write_file(path("precious"), {'m', 'i', 'n', 'e'});
    ASSERT_EQ(mkdir(path("out").c_str(), 0777), 0);
    ASSERT_EQ(symlink("../precious", path("out/" + std::string(kAtoB)).c_str()), 0);
    const std::map<std::string, std::string> before = listing(path("out"));

    const run_result r = run({"decode", path("call.pcap"), path("out")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "g729a: " + path("out/" + std::string(kAtoB)) +
                         ": is a symbolic link: a name the tool makes up is never followed (remove the link)\n");
    EXPECT_EQ(read_file(path("precious")), (std::vector<uint8_t>{'m', 'i', 'n', 'e'}));
    EXPECT_EQ(listing(path("out")), before);
}

TEST_F(CaptureTest, APayloadWithBytesAfterItsFramesDecodesTheFramesAndWarns) {
    const std::vector<std::vector<uint8_t>> frames = coded_frames("speech_male_librivox.g729", 40);
    std::vector<rtp_spec> packets = send(frames, 1, kA, kB, 0x1a2b3c4d, kStart, 1);
    packets[3].payload.push_back(0x5A); // 11 bytes
    packets[7].payload.insert(packets[7].payload.end(), {1, 2, 3}); // 13 bytes
    write_pcap(path("odd.pcap"), DLT_EN10MB, on_link(link::ethernet, packets));

    const run_result d = run({"decode", "-q", path("odd.pcap"), path("odd.wav")});
    ASSERT_EQ(d.status, 0) << d.err;
    EXPECT_EQ(wav_samples("odd.wav"), testing::decode_in_process(frames));
    EXPECT_EQ(d.err, "g729a: " + path("odd.pcap") +
                         ": warning: 0x1a2b3c4d: 2 packets carry bytes after its whole frames (first: packet 4); the whole frames are "
                         "decoded, the rest left out\n");
    const run_result i = run({"info", path("odd.pcap")});
    EXPECT_TRUE(contains(i.out, "  remainders:    2 packets with bytes after the whole frames (first: packet 4; those bytes left out)\n"))
        << i.out;
}

TEST_F(CaptureTest, RateAndFloatApplyToCapturesAsToFiles) {
    const std::vector<std::vector<uint8_t>> male = coded_frames("speech_male_librivox.g729", 100);
    std::vector<rtp_spec> a = send(male, 2, kA, kB, 0x1a2b3c4d, kStart, 1);
    const std::vector<rtp_spec> b = send(coded_frames("speech_female_espeak.g729", 100), 2, kB, kA, 0x5e6f7a8b, kStart, 1);
    a.insert(a.end(), b.begin(), b.end());
    write_pcap(path("call.pcap"), DLT_EN10MB, by_time(on_link(link::ethernet, a)));

    struct Case {
        std::vector<std::string> args;
        const char* file;
        int rate, channels, subtype;
    };
    const Case cases[] = {
        {{"--rate", "16000", "--stream", "1a2b3c4d", path("call.pcap"), path("one.wav")}, "one.wav", 16000, 1, SF_FORMAT_PCM_16},
        {{"--float", "--stream", "1a2b3c4d", path("call.pcap"), path("f.wav")}, "f.wav", 8000, 1, SF_FORMAT_FLOAT},
        {{"-r", "48000", "--float", path("call.pcap"), path("dir")}, "dir/10.0.0.1_4000-10.0.0.2_5000_1a2b3c4d.wav", 48000, 1, SF_FORMAT_FLOAT},
        {{"--rate", "16000", "--float", "--mix", path("mix.wav"), path("call.pcap")}, "mix.wav", 16000, 2, SF_FORMAT_FLOAT},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"decode"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const run_result r = run(args);
        ASSERT_EQ(r.status, 0) << c.file << r.err;
        const testing::audio_file f = testing::read_audio(path(c.file));
        EXPECT_EQ(f.info.samplerate, c.rate) << c.file;
        EXPECT_EQ(f.info.channels, c.channels) << c.file;
        EXPECT_EQ(f.info.format & SF_FORMAT_SUBMASK, c.subtype) << c.file;
        EXPECT_EQ(f.info.frames, sf_count_t(100) * 80 * c.rate / 8000) << c.file;
    }
    // Where the formats of files refuse them, captures do too.
    for (const auto& args : std::vector<std::vector<std::string>>{{"info", "--rate", "16000", path("call.pcap")},
                                                                   {"decode", "--float", "--stream", "1a2b3c4d", path("call.pcap"), path("x.raw")}}) {
        const run_result r = run(args);
        EXPECT_EQ(r.status, 2) << r.err;
    }
}

TEST_F(CaptureTest, MemoryFollowsTheG729KeptNotTheCapture) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "peak memory under AddressSanitizer is the sanitizer's quarantine, not the tool's";
#endif
    // Ten minutes of G.729 alone, and the same with twenty streams of G.711
    // around it (about 95% of the packets, 60 MB): the second must not take
    // more memory than the first beyond allocator noise.
    const std::vector<std::vector<uint8_t>> some = coded_frames("speech_male_espeak.g729", 800);
    std::vector<std::vector<uint8_t>> frames;
    while (frames.size() < 60000) frames.insert(frames.end(), some.begin(), some.end());
    frames.resize(60000);
    const std::vector<rtp_spec> g729 = send(frames, 2, kA, kB, 0x1a2b3c4d, kStart, 1);
    write_pcap(path("alone.pcap"), DLT_EN10MB, on_link(link::ethernet, g729));

    pcap_t* dead = pcap_open_dead(DLT_EN10MB, 65535);
    pcap_dumper_t* dumper = pcap_dump_open(dead, path("trunk.pcap").c_str());
    ASSERT_NE(dumper, nullptr);
    std::vector<rtp_spec> others;
    for (uint32_t s = 0; s < 20; ++s) {
        rtp_spec p;
        p.source = v4("10.1.0.1", uint16_t(10000 + 2 * s));
        p.destination = v4("10.1.0.2", uint16_t(20000 + 2 * s));
        p.payload_type = 0;
        p.ssrc = 0x1000 + s;
        p.payload.assign(160, 0xD5);
        others.push_back(p);
    }
    for (std::size_t i = 0; i < g729.size(); ++i) {
        const frame_record r = rtp_frame(link::ethernet, g729[i]);
        pcap_pkthdr h{};
        h.ts.tv_sec = time_t(r.time_ns / 1000000000);
        h.ts.tv_usec = suseconds_t(r.time_ns % 1000000000 / 1000);
        h.len = h.caplen = bpf_u_int32(r.bytes.size());
        pcap_dump(reinterpret_cast<u_char*>(dumper), &h, r.bytes.data());
        for (rtp_spec& o : others) {
            o.sequence = uint16_t(i);
            o.timestamp = uint32_t(i * 160);
            const std::vector<uint8_t> bytes = framed(link::ethernet, ip_udp(o.source, o.destination, rtp_bytes(o)));
            h.len = h.caplen = bpf_u_int32(bytes.size());
            pcap_dump(reinterpret_cast<u_char*>(dumper), &h, bytes.data());
        }
    }
    pcap_dump_close(dumper);
    pcap_close(dead);

    auto measure = [&](const std::vector<std::string>& args, long* result) {
        const testing::memory_run r = testing::run_measuring_memory(args, path(".stdout"), path(".stderr"));
        EXPECT_EQ(r.status, 0);
        *result = r.peak_kb;
    };
    long alone_info = 0, trunk_info = 0, alone_decode = 0, trunk_decode = 0;
    measure({"info", "-q", path("alone.pcap")}, &alone_info);
    measure({"info", "-q", path("trunk.pcap")}, &trunk_info);
    measure({"decode", "-q", path("alone.pcap"), path("alone.wav")}, &alone_decode);
    measure({"decode", "-q", path("trunk.pcap"), path("trunk.wav")}, &trunk_decode);
    struct stat st;
    stat(path("trunk.pcap").c_str(), &st);
    std::printf("peak RSS: info %ld kB alone, %ld kB in a %lld MB trunk capture; decode %ld kB, %ld kB\n", alone_info, trunk_info,
                static_cast<long long>(st.st_size >> 20), alone_decode, trunk_decode);
    constexpr long kNoiseKb = 4 * 1024;
    EXPECT_LT(trunk_info - alone_info, kNoiseKb);
    EXPECT_LT(trunk_decode - alone_decode, kNoiseKb);
    EXPECT_EQ(read_file(path("alone.wav")), read_file(path("trunk.wav")));
}

TEST_F(CaptureTest, ACaptureOnStandardInputIsReadAsANamedOneIs) {
    write_pcap(path("call.pcap"), DLT_EN10MB, on_link(link::ethernet, send(talk(), 2, kA, kB, 0x1a2b3c4d, kStart, 1)));
    write_file(path("in.g729"), read_file(G729A_TEST_DATA "/vectors/speech_male_librivox.g729"));
    const run_result info = run({"info", "-"}, "call.pcap");
    ASSERT_EQ(info.status, 0) << info.err;
    EXPECT_TRUE(contains(info.out, "file:          standard input\n")) << info.out;
    ASSERT_EQ(run({"decode", "-", path("out")}, "call.pcap").status, 0);
    ASSERT_EQ(run({"decode", path("call.pcap"), path("named")}).status, 0);
    EXPECT_EQ(listing(path("out")), listing(path("named")));
    // Not a capture: frames back to back, which nothing marks, still need -t.
    const run_result coded = run({"info", "-"}, "in.g729");
    EXPECT_EQ(coded.status, 1);
    EXPECT_TRUE(contains(coded.err, "standard input: neither a packet capture (.pcap, .pcapng) nor a .bit stream by its first bytes; "
                                    "info of frames back to back (.g729) needs -t g729"))
        << coded.err;
    EXPECT_EQ(run({"info", "-t", "g729", "-"}, "in.g729").status, 0);
}

TEST_F(CaptureTest, SeveralCapturesDecodeEachIntoAFolderOfItsOwn) {
    write_pcap(path("one.pcap"), DLT_EN10MB, on_link(link::ethernet, send(talk(), 2, kA, kB, 0x1a2b3c4d, kStart, 1)));
    write_pcap(path("two.pcap"), DLT_EN10MB,
               on_link(link::ethernet, send(coded_frames("speech_female_espeak.g729", 30), 2, kB, kA, 0x5e6f7a8b, kStart, 1)));
    write_file(path("broken.pcap"), {0xD4, 0xC3, 0xB2, 0xA1, 1, 2});
    ASSERT_EQ(mkdir(path("out").c_str(), 0777), 0);
    const run_result r = run({"decode", "-q", path("one.pcap"), path("broken.pcap"), path("two.pcap"), "-d", path("out")});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.err, "g729a: " + path("broken.pcap") + ": not a packet capture")) << r.err;
    EXPECT_EQ(listing(path("out")).size(), 2u);
    EXPECT_EQ(wav_samples("out/one/" + std::string(kAtoB)), testing::decode_in_process(talk()));
    EXPECT_EQ(listing(path("out/two")).size(), 1u);
}

TEST_F(CaptureTest, ABatchSaysHowToDecodeACaptureInsteadOfUnknownExtension) {
    write_pcap(path("call.pcap"), DLT_EN10MB, on_link(link::ethernet, send(talk(), 2, kA, kB, 0x1a2b3c4d, kStart, 1)));
    write_file(path("in.g729"), read_file(G729A_TEST_DATA "/vectors/speech_male_librivox.g729"));
    ASSERT_EQ(mkdir(path("out").c_str(), 0777), 0);
    const run_result r = run({"decode", path("in.g729"), path("call.pcap"), "-d", path("out")});
    EXPECT_EQ(r.status, 1);
    EXPECT_FALSE(contains(r.err, "unknown extension")) << r.err;
    EXPECT_TRUE(contains(r.err, path("call.pcap") + ": a packet capture holds streams, not one file's frames: decode it on its own "
                                                    "(g729a decode " + path("call.pcap") + " DIR)"))
        << r.err;
}

// --- network analysis, jitter buffer and pictures ---------------------------

TEST_F(CaptureTest, InfoReportsTheNetworkFiguresOfEachStreamAsComputedByHand) {
    // 1000 packets of two frames (20 s), sent every 20 ms by a clock 50 ppm
    // fast against the capture's, arriving 0, 12, 12 or 0 ms late in turn.
    const std::vector<std::vector<uint8_t>> speech = coded_frames("speech_male_librivox.g729", 200);
    std::vector<std::vector<uint8_t>> frames;
    while (frames.size() < 2000) frames.insert(frames.end(), speech.begin(), speech.end());
    std::vector<rtp_spec> packets = send(frames, 2, kA, kB, 0x1a2b3c4d, kStart, 1);
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
    std::vector<rtp_spec> packets = send(coded_frames("speech_male_librivox.g729", 200), 2, kA, kB, 0x1a2b3c4d, kStart, 1);
    for (std::size_t i = 50; i < packets.size(); ++i) packets[i].timestamp += 8000 * 600; // 600 s claimed
    // The sender restarts with a new SSRC on the same addresses.
    std::vector<rtp_spec> after = send(coded_frames("speech_male_librivox.g729", 100), 2, kA, kB, 0x99999999, kStart + 3000 * kMs, 500);
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
    std::vector<rtp_spec> packets = send(frames, 2, kA, kB, 0x1a2b3c4d, kStart, 1);
    packets[40].time_ns += 45 * kMs; // 45 ms late: past a 40 ms buffer, within a 60 ms one
    write_pcap(path("call.pcap"), DLT_EN10MB, by_time(on_link(link::ethernet, packets)));
    // The same call with that packet lost.
    std::vector<rtp_spec> without = packets;
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

TEST_F(CaptureTest, ThePictureMarksTheLossesWhereTheyHappened) {
    const std::vector<std::vector<uint8_t>> frames = coded_frames("speech_male_librivox.g729", 300);
    std::vector<rtp_spec> packets = send(frames, 2, kA, kB, 0x1a2b3c4d, kStart, 1);
    // Packets 50 and 51 (frames 100-103) and packet 120 (frames 240, 241) lost.
    packets.erase(packets.begin() + 120);
    packets.erase(packets.begin() + 50, packets.begin() + 52);
    write_pcap(path("call.pcap"), DLT_EN10MB, on_link(link::ethernet, packets));

    const run_result r = run({"plot", path("call.pcap"), path("call.png")});
    ASSERT_EQ(r.status, 0) << r.err;
    cairo_surface_t* image = cairo_image_surface_create_from_png(path("call.png").c_str());
    ASSERT_EQ(cairo_surface_status(image), CAIRO_STATUS_SUCCESS);

    plot_track track; // the layout depends only on the frames and the legend
    track.frames.resize(300);
    track.network = true;
    track.legend.resize(1);
    const plot_layout layout = layout_plot({track});
    EXPECT_EQ(cairo_image_surface_get_width(image), layout.width);
    EXPECT_EQ(cairo_image_surface_get_height(image), layout.height);

    const unsigned char* pixels = cairo_image_surface_get_data(image);
    const int stride = cairo_image_surface_get_stride(image);
    auto colour_at_frame = [&](int frame) {
        const int x = int((layout.frame_x(frame) + layout.frame_x(frame + 1)) / 2);
        const int y = int(layout.tracks[0].marks.top + layout.tracks[0].marks.height / 2);
        const uint32_t p = *reinterpret_cast<const uint32_t*>(pixels + y * stride + x * 4);
        return mark_colour{uint8_t(p >> 16), uint8_t(p >> 8), uint8_t(p)};
    };
    const mark_colour red = colour_of(frame_mark::lost);
    for (int f : {100, 101, 102, 103, 240, 241}) {
        const mark_colour c = colour_at_frame(f);
        EXPECT_TRUE(c.r == red.r && c.g == red.g && c.b == red.b) << "frame " << f << " is not marked lost";
    }
    for (int f : {10, 98, 106, 150, 238, 244, 290}) {
        const mark_colour c = colour_at_frame(f);
        EXPECT_TRUE(c.r == 255 && c.g == 255 && c.b == 255) << "frame " << f << " is marked";
    }
    cairo_surface_destroy(image);

    for (const char* picture : {"call.svg", "call.pdf"}) {
        EXPECT_EQ(run({"plot", path("call.pcap"), path(picture)}).status, 0) << picture;
        EXPECT_GT(read_file(path(picture)).size(), 1000u) << picture;
    }
    // Coded files too; a failed plot leaves nothing behind.
    write_file(path("in.g729"), read_file(G729A_TEST_DATA "/vectors/speech_male_espeak.g729"));
    EXPECT_EQ(run({"plot", path("in.g729"), path("file.png")}).status, 0);
    EXPECT_EQ(run({"plot", path("in.g729"), path("nowhere/file.png")}).status, 1);
    expect_usage_errors({{"plot", path("in.g729"), path("file.jpg")}, {"plot", path("in.g729")}});
}

// Two streams years apart on one time axis: the axis takes steps of whole
// hours, a dozen at most, instead of a label a second (which kept a
// crafted capture drawing for hours). A hang shows as the timeout's 124.
TEST_F(CaptureTest, StreamsYearsApartArePlottedOnADozenSteps) {
    const std::vector<std::vector<uint8_t>> frames = coded_frames("speech_male_librivox.g729", 100);
    std::vector<rtp_spec> packets = send(frames, 2, kA, kB, 0x1a2b3c4d, kStart, 1);
    const int64_t three_years = int64_t(3) * 365 * 86400 * kSecond;
    const std::vector<rtp_spec> later = send(frames, 2, kB, kA, 0x5e6f7a8b, kStart + three_years, 1);
    packets.insert(packets.end(), later.begin(), later.end());
    write_pcap(path("call.pcap"), DLT_EN10MB, on_link(link::ethernet, packets));
    const run_result r = run_shell("timeout 120 '" G729A_TOOL_PATH "' plot '" + path("call.pcap") + "' '" + path("call.png") + "'");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_GT(read_file(path("call.png")).size(), 1000u);
}

// A few packets spread over a quarter of an hour: drawing would decode all
// of it for the level, so the picture takes the decode's limit on audio,
// and --max-audio raises it.
TEST_F(CaptureTest, APictureOfAFewPacketsSpreadOverLongSilencesTakesTheAudioLimit) {
    std::vector<rtp_spec> packets = send(coded_frames("speech_male_librivox.g729", 20), 2, kA, kB, 0x1a2b3c4d, kStart, 1);
    send_after_silence(packets, 1000);
    write_pcap(path("call.pcap"), DLT_EN10MB, on_link(link::ethernet, packets));

    const run_result refused = run({"plot", path("call.pcap"), path("call.png")});
    EXPECT_EQ(refused.status, 1);
    EXPECT_TRUE(contains(refused.err, path("call.pcap") + ": would decode 1000.2 s (0.28 h) of audio to draw, more than the limit "
                                                          "of 604.4 s (0.17 h)"))
        << refused.err;
    EXPECT_TRUE(contains(refused.err, "--max-audio SECONDS raises it")) << refused.err;
    EXPECT_EQ(files(), (std::set<std::string>{"call.pcap"}));

    const run_result drawn = run({"plot", "--max-audio", "1100", path("call.pcap"), path("call.png")});
    EXPECT_EQ(drawn.status, 0) << drawn.err;
    EXPECT_GT(read_file(path("call.png")).size(), 1000u);
}

TEST_F(CaptureTest, DumpShowsEachStreamsFramesAndWhyTheMissingOnesAreMissing) {
    const std::vector<std::vector<uint8_t>> frames = coded_frames("speech_male_librivox.g729", 100);
    std::vector<rtp_spec> packets = send(frames, 2, kA, kB, 0x1a2b3c4d, kStart, 1);
    packets[30].time_ns += 60 * kMs;       // frames 60 and 61 arrive late
    packets.erase(packets.begin() + 10);   // frames 20 and 21 lost
    write_pcap(path("call.pcap"), DLT_EN10MB, by_time(on_link(link::ethernet, packets)));
    std::vector<uint8_t> g729;
    for (const auto& f : frames) g729.insert(g729.end(), f.begin(), f.end());
    write_file(path("call.g729"), g729);

    const run_result coded = run({"dump", path("call.g729")});
    const run_result r = run({"dump", "--jitter-buffer", "40", path("call.pcap")});
    ASSERT_EQ(coded.status, 0) << coded.err;
    ASSERT_EQ(r.status, 0) << r.err;
    auto frame_lines = [](const std::string& text) {
        std::vector<std::string> lines;
        for (std::size_t at = 0; at < text.size();) {
            const std::size_t end = text.find('\n', at);
            const std::string line = text.substr(at, end - at);
            if (!line.empty() && line[0] != '#') lines.push_back(line.substr(0, line.find(" energy=")));
            at = end + 1;
        }
        return lines;
    };
    const std::vector<std::string> want = frame_lines(coded.out);
    const std::vector<std::string> got = frame_lines(r.out);
    ASSERT_EQ(got.size(), 100u) << r.out;
    for (std::size_t i = 0; i < got.size(); ++i) {
        if (i == 20 || i == 21)
            EXPECT_TRUE(contains(got[i], " lost concealed")) << got[i];
        else if (i == 60 || i == 61)
            EXPECT_TRUE(contains(got[i], " late concealed")) << got[i];
        else
            EXPECT_EQ(got[i], want[i]) << "the received frames read as dump reads the coded file";
    }
    EXPECT_TRUE(contains(r.out, "stream 0x1a2b3c4d 10.0.0.1:4000 -> 10.0.0.2:5000")) << r.out;
    const run_result none = run({"dump", "--stream", "99", path("call.pcap")});
    EXPECT_EQ(none.status, 1);
    EXPECT_TRUE(contains(none.err, "no G.729 stream with SSRC 99")) << none.err;
}

} // namespace
} // namespace g729::tool
