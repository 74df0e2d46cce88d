// Packet captures through the g729a executable: captures built here with
// libpcap's writer (and a hand-made pcapng) from the project's own coded
// speech, read back by info and decode.
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
#include "tools/capture/packets.h"
#include "tools/capture/rtp_stream.h"
#include "tools/capture/sdp.h"

namespace g729::tool {
namespace {

using namespace testing;
using namespace capture_writer;

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
        std::vector<sent_packet> packets = send(frames, 2, from, to, 0x1a2b3c4d, kStart, 65500);
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
    const std::vector<sent_packet> sent = send(frames, 2, kA, kB, 0x1a2b3c4d, kStart, 1000);
    ASSERT_EQ(sent.size(), 100u);
    struct Case {
        const char* name;
        std::function<std::vector<sent_packet>(std::vector<sent_packet>)> network;
        std::vector<std::size_t> lost_packets; // indices into `sent`
        const char* counts;                    // lost, duplicated, reordered lines
    };
    const Case cases[] = {
        {"5% loss",
         [](std::vector<sent_packet> p) {
             std::vector<sent_packet> kept;
             for (std::size_t i = 0; i < p.size(); ++i)
                 if (i % 20 != 7) kept.push_back(p[i]);
             return kept;
         },
         {7, 27, 47, 67, 87},
         "  lost:          5 packets (10 frames)\n  duplicated:    0\n  reordered:     0\n"},
        {"reordering",
         [](std::vector<sent_packet> p) {
             for (std::size_t i = 3; i + 1 < p.size(); i += 10) std::swap(p[i], p[i + 1]);
             // 53 54 51 52 54 50: three packets arrive after a later one.
             std::swap(p[50], p[54]);
             return p;
         },
         {},
         "  lost:          0 packets (0 frames)\n  duplicated:    0\n  reordered:     12\n"},
        {"duplicates",
         [](std::vector<sent_packet> p) {
             std::vector<sent_packet> out;
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
    std::vector<sent_packet> a = send(male, 2, kA, kB, 0x1a2b3c4d, kStart, 10);
    std::vector<sent_packet> b = send(female, 1, kB, kA, 0x5e6f7a8b, kStart + 250 * kMs, 20);
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
    const std::vector<sent_packet> c = send(male, 2, v4("10.0.0.3", 6000), v4("10.0.0.4", 7000), 0x99, kStart, 1);
    const std::vector<frame_record> rc = on_link(link::ethernet, c);
    records.insert(records.end(), rc.begin(), rc.end());
    write_pcap(path("three.pcap"), DLT_EN10MB, by_time(records));
    const run_result three = run({"decode", "--mix", path("mix3.wav"), path("three.pcap")});
    ASSERT_EQ(three.status, 0) << three.err;
    EXPECT_EQ(testing::read_audio(path("mix3.wav")).samples, mix.samples);

    // With a second call in the capture, --mix needs to be told which one.
    const std::vector<sent_packet> d2 = send(female, 2, v4("10.0.0.4", 7000), v4("10.0.0.3", 6000), 0x98, kStart, 1);
    const std::vector<frame_record> rd = on_link(link::ethernet, d2);
    records.insert(records.end(), rd.begin(), rd.end());
    write_pcap(path("four.pcap"), DLT_EN10MB, by_time(records));
    expect_refused({{{"decode", "--mix", path("mix4.wav"), path("four.pcap")}, 1, "choose one with --stream SSRC"}});
    const run_result chosen = run({"decode", "--stream", "0x5e6f7a8b", "--mix", path("mix4.wav"), path("four.pcap")});
    ASSERT_EQ(chosen.status, 0) << chosen.err;
    EXPECT_EQ(testing::read_audio(path("mix4.wav")).samples, mix.samples);
}

TEST_F(CaptureTest, ADynamicPayloadTypeIsG729WhenTheCallsSdpOrPtSaysSo) {
    const std::vector<std::vector<uint8_t>> frames = coded_frames("speech_male_librivox.g729", 60);
    std::vector<sent_packet> packets = send(frames, 2, kA, kB, 0x1a2b3c4d, kStart + 100 * kMs, 1);
    for (sent_packet& p : packets) p.payload_type = 96;
    // A telephone event in the same stream takes a sequence number.
    sent_packet event = packets[10];
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

    expect_refused({{{"decode", path("bare.pcap"), path("bare.wav")},
                     1,
                     "g729a: " + path("bare.pcap") +
                         ": no G.729 RTP stream (payload type 18, or one that SDP in the capture or --pt maps to G.729) "
                         "among 31 packets; it holds RTP of payload type 96 (--pt N reads a type as G.729)\n"}});
    const run_result pt = run({"decode", "--pt", "96", path("bare.pcap"), path("bare.wav")});
    ASSERT_EQ(pt.status, 0) << pt.err;
    EXPECT_EQ(wav_samples("bare.wav"), expected);
}

TEST_F(CaptureTest, PacketsThatCannotBeUsedAreSkippedAndCounted) {
    const std::vector<std::vector<uint8_t>> frames = coded_frames("speech_male_librivox.g729", 80);
    std::vector<sent_packet> packets = send(frames, 2, kA, kB, 0x1a2b3c4d, kStart, 1);
    packets[10].payload.resize(7); // not whole frames: its 20 ms are concealed
    std::vector<frame_record> records = on_link(link::ethernet, packets);

    frame_record cut = rtp_frame(link::ethernet, packets[20]);
    cut.captured = 50; // the capture's snap length cut it
    sent_packet fragment = packets[21];
    fragment.fragment_bits = 0x2000; // more fragments follow
    sent_packet old_version = packets[22];
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
    std::vector<sent_packet> pcmu = send(coded_frames("speech_male_librivox.g729", 10), 1, v4("10.0.0.5", 8000), kB, 7, kStart, 1);
    for (sent_packet& p : pcmu) p.payload_type = 0;
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
    std::vector<sent_packet> pcmu = send(coded_frames("speech_male_librivox.g729", 5), 1, kA, kB, 7, kStart, 1);
    for (sent_packet& p : pcmu) p.payload_type = 0;
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
        const std::string message = "g729a: " + path(c.file) + ": " + c.message + "\n";
        expect_refused({{{"decode", path(c.file), path("out")}, 1, message},
                        {{"decode", "--mix", path("mix.wav"), path(c.file)}, 1, message},
                        {{"info", "-q", path(c.file)}, 1, message}});
        EXPECT_EQ(files(), inputs) << c.file;
    }

    write_pcap(path("two.pcap"), DLT_EN10MB,
               by_time([&] {
                   std::vector<frame_record> r = on_link(link::ethernet, send(coded_frames("speech_male_librivox.g729", 4), 2, kA, kB, 1, kStart, 1));
                   const std::vector<frame_record> o = on_link(link::ethernet, send(coded_frames("speech_male_librivox.g729", 4), 2, kB, kA, 2, kStart, 1));
                   r.insert(r.end(), o.begin(), o.end());
                   return r;
               }()));
    const std::string holds = "the capture holds 0x00000001 10.0.0.1:4000 -> 10.0.0.2:5000; 0x00000002 10.0.0.2:5000 -> 10.0.0.1:4000\n";
    expect_refused({
        {{"decode", path("two.pcap"), path("one.wav")}, 1, ": holds 2 G.729 streams: give a directory as OUT, or choose one with --stream SSRC"},
        {{"decode", "--stream", "abc", path("two.pcap"), path("one.wav")}, 1, ": no G.729 stream has SSRC 0x00000abc; " + holds},
        {{"dump", "--stream", "abc", path("two.pcap")}, 1, ": no G.729 stream has SSRC 0x00000abc; " + holds},
    });
}

TEST(CaptureParsing, EveryCutOfAPacketIsTruncatedAndNothingIsReadPastIt) {
    // Each prefix is copied to a buffer of exactly its size, so that a read
    // past the end shows under the address sanitizer.
    sent_packet p;
    p.source = kA;
    p.destination = kB;
    p.csrcs = 2;
    p.extension_words = 1;
    p.padding = 3;
    p.payload = coded_frames("speech_male_librivox.g729", 2)[1];
    p.payload.insert(p.payload.end(), {0xa5, 0xc3});
    for (link l : {link::ethernet, link::vlan, link::cooked, link::cooked2, link::raw, link::loopback}) {
        for (bool ipv6 : {false, true}) {
            sent_packet q = p;
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



} // namespace
} // namespace g729::tool
