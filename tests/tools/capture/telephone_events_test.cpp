// RFC 4733 telephone events (DTMF) in info: each key press counted once
// however its packets came, told apart from audio that merely uses the
// same payload type, and bounded.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "tests/tools/capture/capture_writer.h"
#include "tools/capture/telephone_events.h"

namespace g729::tool {
namespace {

using namespace testing;
using namespace capture_writer;

// A 200 OK from `receiver` whose SDP receives on it with these rtpmap lines.
frame_record sdp_answer(const address& receiver, const std::string& media, const std::string& rtpmaps) {
    char ip[64];
    inet_ntop(AF_INET, receiver.bytes.data(), ip, sizeof ip);
    const std::string sdp = std::string("v=0\r\no=- 1 1 IN IP4 ") + ip + "\r\ns=-\r\nc=IN IP4 " + ip + "\r\nt=0 0\r\nm=audio " +
                            std::to_string(receiver.port) + " RTP/AVP " + media + "\r\n" + rtpmaps;
    const std::string sip = "SIP/2.0 200 OK\r\nContent-Type: application/sdp\r\nContent-Length: " + std::to_string(sdp.size()) +
                            "\r\n\r\n" + sdp;
    address from = receiver, to = receiver;
    from.port = to.port = 5060;
    to.bytes[3] ^= 3;
    return {kStart, framed(link::ethernet, ip_udp(from, to, std::vector<uint8_t>(sip.begin(), sip.end()))), 0};
}

// Three seconds of speech from A to B, and the key presses `keys` (event,
// volume, start in ms, duration in ms) in SSRC `event_ssrc` (the speech's
// own 0x1a2b3c4d, or another) as payload type `pt`, numbered with the
// speech when they share its SSRC.
struct key {
    int event, volume, at_ms, duration_ms;
};

std::vector<sent_packet> call_with_keys(const std::vector<key>& keys, uint32_t event_ssrc, int pt) {
    std::vector<sent_packet> packets = send(coded_frames("speech_male_librivox.g729", 300), 2, kA, kB, 0x1a2b3c4d, kStart, 0);
    for (const key& k : keys) {
        sent_packet like = packets[0];
        like.ssrc = event_ssrc;
        const std::vector<sent_packet> press =
            key_press(like, pt, k.event, k.volume, kStart + k.at_ms * kMs, 0x10000000u + uint32_t(k.at_ms) * 8, k.duration_ms, 0);
        packets.insert(packets.end(), press.begin(), press.end());
    }
    std::stable_sort(packets.begin(), packets.end(), [](const sent_packet& a, const sent_packet& b) { return a.time_ns < b.time_ns; });
    uint16_t shared = 100, own = 7000;
    for (sent_packet& p : packets) p.sequence = p.ssrc == 0x1a2b3c4d ? shared++ : own++;
    return packets;
}

nlohmann::json events_of(const run_result& info) { return nlohmann::json::parse(info.out)["streams"][0]["telephone_events"]; }

TEST_F(CaptureTest, EachKeyPressIsOneEventHoweverItsPacketsCame) {
    const std::vector<key> keys = {{1, 10, 300, 120}, {2, 12, 900, 200}, {11, 8, 1600, 100}, {10, 10, 2300, 60}};
    const std::string events_sdp = "a=rtpmap:18 G729/8000\r\na=rtpmap:96 telephone-event/8000\r\n";
    struct Case {
        const char* name;
        uint32_t ssrc;
        int pt;
        bool sdp;
        int first_packet_ms; // after the key went down
        std::function<std::vector<sent_packet>(std::vector<sent_packet>)> network;
    };
    auto as_sent = [](std::vector<sent_packet> p) { return p; };
    const Case cases[] = {
        {"in the stream's SSRC, 101 without SDP", 0x1a2b3c4d, 101, false, 50, as_sent},
        {"in an SSRC of their own, 96 by SDP", 0x0bad0bad, 96, true, 50, as_sent},
        {"repeated, reordered, and the first packet of each lost", 0x1a2b3c4d, 101, false, 100,
         [](std::vector<sent_packet> p) {
             std::vector<sent_packet> out;
             for (std::size_t i = 0; i < p.size(); ++i) {
                 if (p[i].payload_type == 101 && p[i].marker) continue;
                 out.push_back(p[i]);
                 if (p[i].payload_type == 101) out.push_back(p[i]);
             }
             for (std::size_t i = 0; i + 1 < out.size(); ++i)
                 if (out[i].payload_type == 101 && out[i + 1].payload_type == 101 && i % 3 == 0) std::swap(out[i], out[i + 1]);
             return out;
         }},
    };
    for (const Case& c : cases) {
        std::vector<frame_record> records = on_link(link::ethernet, c.network(call_with_keys(keys, c.ssrc, c.pt)));
        if (c.sdp) records.insert(records.begin(), sdp_answer(kB, "18 96", events_sdp));
        write_pcap(path("keys.pcap"), DLT_EN10MB, records);

        const run_result j = run({"info", "--json", path("keys.pcap")});
        ASSERT_EQ(j.status, 0) << c.name << ": " << j.err;
        const nlohmann::json e = events_of(j);
        EXPECT_EQ(e["digits"], "12#*") << c.name;
        EXPECT_EQ(e["payload_type"], c.pt) << c.name;
        EXPECT_EQ(e["payload_type_by"], c.sdp ? "SDP" : "default") << c.name;
        ASSERT_EQ(e["events"].size(), keys.size()) << c.name;
        for (std::size_t k = 0; k < keys.size(); ++k) {
            const nlohmann::json& one = e["events"][k];
            EXPECT_EQ(one["event"], keys[k].event) << c.name << " " << k;
            EXPECT_EQ(one["duration_ms"], double(keys[k].duration_ms)) << c.name << " " << k;
            EXPECT_EQ(one["volume_dbm0"], -keys[k].volume) << c.name << " " << k;
            EXPECT_EQ(one["ended"], true) << c.name << " " << k;
            EXPECT_EQ(one["ssrc"], c.ssrc == 0x1a2b3c4d ? "0x1a2b3c4d" : "0x0bad0bad") << c.name;
            // Its first packet on record: the second when the first was lost.
            const int first_ms = std::min(c.first_packet_ms, keys[k].duration_ms);
            EXPECT_NEAR(one["offset_seconds"].get<double>(), (keys[k].at_ms + first_ms) / 1000.0, 0.0005)
                << c.name << " " << k;
        }

        const run_result t = run({"info", path("keys.pcap")});
        ASSERT_EQ(t.status, 0) << c.name << ": " << t.err;
        EXPECT_TRUE(contains(t.out, "  DTMF:          \"12#*\" (4 events, payload type " + std::to_string(c.pt) + " by " +
                                        (c.sdp ? "SDP" : "default") + ")\n"))
            << c.name << ":\n" << t.out;
        EXPECT_TRUE(contains(t.out, "    # at 2023-11-14 22:13:21.")) << c.name << ":\n" << t.out;
        EXPECT_TRUE(contains(t.out, ", 100 ms, -8 dBm0\n")) << c.name << ":\n" << t.out;
    }
}

TEST_F(CaptureTest, WhatOnlyLooksLikeEventsIsNotTakenForThem) {
    const std::vector<key> keys = {{5, 10, 500, 160}};
    struct Case {
        const char* name;
        uint32_t ssrc;
        int pt;
        std::vector<frame_record> signalling;
        std::function<void(std::vector<sent_packet>&)> change;
        std::vector<std::string> options;
    };
    auto none = [](std::vector<sent_packet>&) {};
    const Case cases[] = {
        // SDP describes the receiving end and maps 101 to nothing.
        {"101 where SDP says otherwise", 0x1a2b3c4d, 101, {sdp_answer(kB, "18", "a=rtpmap:18 G729/8000\r\n")}, none, {}},
        {"101 carrying no digit", 0x1a2b3c4d, 101, {},
         [](std::vector<sent_packet>& p) {
             for (sent_packet& s : p)
                 if (s.payload_type == 101) s.payload[0] = 40;
         },
         {}},
        {"101 payloads of another length", 0x1a2b3c4d, 101, {},
         [](std::vector<sent_packet>& p) {
             for (sent_packet& s : p)
                 if (s.payload_type == 101) s.payload.push_back(0);
         },
         {}},
        {"events between other ends", 0x0bad0bad, 101, {},
         [](std::vector<sent_packet>& p) {
             for (sent_packet& s : p)
                 if (s.payload_type == 101) s.destination = v4("10.0.0.9", 5000);
         },
         {}},
        // The user says 101 is G.729 (its 4-byte payloads are then unusable frames).
        {"101 read as G.729 with --pt", 0x1a2b3c4d, 101, {}, none, {"--pt", "101"}},
    };
    for (const Case& c : cases) {
        std::vector<sent_packet> packets = call_with_keys(keys, c.ssrc, c.pt);
        c.change(packets);
        std::vector<frame_record> records = c.signalling;
        const std::vector<frame_record> media = on_link(link::ethernet, packets);
        records.insert(records.end(), media.begin(), media.end());
        write_pcap(path("keys.pcap"), DLT_EN10MB, records);
        std::vector<std::string> json = {"info", "--json", path("keys.pcap")}, text = {"info", path("keys.pcap")};
        json.insert(json.end(), c.options.begin(), c.options.end());
        text.insert(text.end(), c.options.begin(), c.options.end());
        const run_result j = run(json);
        ASSERT_EQ(j.status, 0) << c.name << ": " << j.err;
        const nlohmann::json e = events_of(j);
        EXPECT_EQ(e["digits"], "") << c.name;
        EXPECT_TRUE(e["events"].empty()) << c.name;
        EXPECT_TRUE(e["payload_type"].is_null()) << c.name;
        EXPECT_FALSE(contains(run(text).out, "DTMF")) << c.name;
    }
}

TEST_F(CaptureTest, ACaptureOfOneEventAPacketIsBounded) {
    // Every packet a new event of its own timestamp, past the limit.
    std::vector<sent_packet> packets = send(coded_frames("speech_male_librivox.g729", 20), 2, kA, kB, 0x1a2b3c4d, kStart, 0);
    const std::size_t extra = 25;
    for (std::size_t i = 0; i < kMaxTelephoneEvents + extra; ++i) {
        sent_packet p = packets[0];
        p.payload_type = 101;
        p.ssrc = 0x0bad0bad;
        p.sequence = uint16_t(i);
        p.timestamp = uint32_t(i * 800);
        p.time_ns = kStart + int64_t(i) * kMs;
        p.payload = event_payload(int(i % 16), true, 10, 80);
        packets.push_back(p);
    }
    write_pcap(path("flood.pcap"), DLT_EN10MB, by_time(on_link(link::ethernet, packets)));
    const run_result j = run({"info", "--json", path("flood.pcap")});
    ASSERT_EQ(j.status, 0) << j.err;
    const nlohmann::json e = events_of(j);
    EXPECT_EQ(e["events"].size(), kMaxTelephoneEvents);
    EXPECT_EQ(e["not_listed"], extra);
    const run_result t = run({"info", path("flood.pcap")});
    ASSERT_EQ(t.status, 0) << t.err;
    EXPECT_TRUE(contains(t.out, "... " + std::to_string(kMaxTelephoneEvents - kMaxEventLinesShown) + " more (--json lists them)\n"))
        << t.out.substr(0, 2000);
    EXPECT_TRUE(contains(t.out, "25 events after the first 10000 of the capture counted, not listed\n"));
    EXPECT_LT(t.out.size(), 20000u) << "the text lists a bounded number of events";
}

} // namespace
} // namespace g729::tool
