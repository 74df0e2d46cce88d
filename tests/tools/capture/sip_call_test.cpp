// Calls from their SIP signalling, through the real g729a info: who called
// whom, post-dial delay, setup time, duration and how each call ended, with
// its G.729 streams grouped under it by the addresses and ports of its SDP;
// over UDP and over TCP segments holding several messages; and SIP built
// to harm (no Call-ID, garbage, huge or control-character headers,
// thousands of calls) that neither crashes, invents calls nor garbles the
// terminal or the JSON.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "tests/tools/capture/capture_writer.h"

namespace g729::tool {
namespace {

using namespace testing;
using namespace capture_writer;

const address kCallerSip = v4("10.0.0.1", 5060);
const address kCalleeSip = v4("10.0.0.2", 5060);
const char* const kCallId = "a84b4c76e66710@10.0.0.1";
const char* const kFrom = "\"Alice\" <sip:alice@10.0.0.1>;tag=1928301774";
const char* const kTo = "<sip:bob@10.0.0.2>";
const char* const kToTagged = "<sip:bob@10.0.0.2>;tag=a6c85cf";

// One SIP message of a crafted call: when, which way, what.
struct sip_step {
    int64_t at_ms = 0; // from the INVITE
    bool from_caller = true;
    std::string text;
};

std::string request(const std::string& method, const std::string& cseq, const std::string& body = "", bool by_callee = false) {
    return sip_message(method + " sip:" + std::string(by_callee ? "alice@10.0.0.1" : "bob@10.0.0.2") + " SIP/2.0", kCallId,
                       by_callee ? kToTagged : kFrom, by_callee ? kFrom : (method == "INVITE" ? kTo : kToTagged), cseq, body);
}

std::string response(const std::string& status, const std::string& cseq, const std::string& body = "") {
    return sip_message("SIP/2.0 " + status, kCallId, kFrom, status.rfind("100", 0) == 0 ? kTo : kToTagged, cseq, body);
}

std::vector<frame_record> signalling(int64_t invite_ns, const std::vector<sip_step>& steps) {
    std::vector<frame_record> out;
    for (const sip_step& s : steps)
        out.push_back(sip_udp_frame(invite_ns + s.at_ms * kMs, s.from_caller ? kCallerSip : kCalleeSip,
                                    s.from_caller ? kCalleeSip : kCallerSip, s.text));
    return out;
}

class SipCallTest : public CaptureTest {
protected:
    // Both directions of a call between kA and kB from kStart, and one
    // stream between two other hosts.
    std::vector<frame_record> media() {
        std::vector<frame_record> out = on_link(link::ethernet, send(talk(), 2, kA, kB, 0x1a2b3c4d, kStart, 1));
        const std::vector<frame_record> back = on_link(link::ethernet, send(talk(), 2, kB, kA, 0x5e6f7a8b, kStart + 10 * kMs, 1));
        out.insert(out.end(), back.begin(), back.end());
        const std::vector<frame_record> stray =
            on_link(link::ethernet, send(talk(), 2, v4("10.0.0.3", 6000), v4("10.0.0.4", 7000), 0x77777777, kStart, 1));
        out.insert(out.end(), stray.begin(), stray.end());
        return out;
    }

    nlohmann::json info_json(const std::string& name) {
        const run_result r = run({"info", "--json", path(name)});
        EXPECT_EQ(r.status, 0) << r.err;
        return nlohmann::json::parse(r.out);
    }
};

TEST_F(SipCallTest, ACallListsItsPartiesFiguresAndBothDirectionsAndLeavesOtherStreamsWithoutACall) {
    const int64_t invite = kStart - 3 * kSecond;
    std::vector<frame_record> records = media();
    const std::vector<frame_record> sip =
        signalling(invite, {{0, true, request("INVITE", "1 INVITE", sdp_body(kA))},
                            {50, false, response("100 Trying", "1 INVITE")},
                            {250, false, response("180 Ringing", "1 INVITE")},
                            {2000, false, response("200 OK", "1 INVITE", sdp_body(kB, {18}, 30, "sendrecv"))},
                            {2010, true, request("ACK", "1 ACK")},
                            {8000, true, request("BYE", "2 BYE")},
                            {8030, false, response("200 OK", "2 BYE")}});
    records.insert(records.end(), sip.begin(), sip.end());
    write_pcap(path("call.pcap"), DLT_EN10MB, by_time(records));

    const nlohmann::json j = info_json("call.pcap");
    ASSERT_EQ(j["calls"].size(), 1u) << j.dump();
    const nlohmann::json& call = j["calls"][0];
    EXPECT_EQ(call["call_id"], kCallId);
    EXPECT_EQ(call["caller"], "\"Alice\" <sip:alice@10.0.0.1>");
    EXPECT_EQ(call["callee"], "<sip:bob@10.0.0.2>");
    EXPECT_EQ(call["post_dial_delay_ms"], 250.0);
    EXPECT_EQ(call["setup_ms"], 2000.0);
    EXPECT_EQ(call["duration_s"], 5.99); // ACK to BYE
    EXPECT_EQ(call["end"], "BYE from caller");
    EXPECT_EQ(call["failed"], false);
    EXPECT_EQ(call["offer"][0]["address"], "10.0.0.1");
    EXPECT_EQ(call["offer"][0]["port"], 4000);
    EXPECT_EQ(call["offer"][0]["codecs"], nlohmann::json({"18 G729/8000", "101 telephone-event/8000"}));
    EXPECT_EQ(call["answer"][0]["port"], 5000);
    EXPECT_EQ(call["answer"][0]["ptime"], 30);
    EXPECT_EQ(call["answer"][0]["direction"], "sendrecv");
    ASSERT_EQ(call["messages"].size(), 7u);
    const std::vector<std::pair<std::string, int>> ladder = {{"INVITE", 0}, {"INVITE", 100}, {"INVITE", 180}, {"INVITE", 200},
                                                             {"ACK", 0},    {"BYE", 0},      {"BYE", 200}};
    const std::vector<bool> by_caller = {true, false, false, false, true, true, false};
    for (std::size_t i = 0; i < ladder.size(); ++i) {
        const nlohmann::json& m = call["messages"][i];
        EXPECT_EQ(m["method"], ladder[i].first) << i;
        EXPECT_EQ(m["status"].is_null() ? 0 : m["status"].get<int>(), ladder[i].second) << i;
        EXPECT_EQ(m["from_caller"], by_caller[i]) << i;
        EXPECT_EQ(m["source"], by_caller[i] ? "10.0.0.1:5060" : "10.0.0.2:5060") << i;
    }
    EXPECT_EQ(call["messages"][0]["sdp"], true);
    ASSERT_EQ(call["streams"].size(), 2u);
    std::set<std::string> grouped;
    for (const auto& i : call["streams"]) grouped.insert(j["streams"][i.get<std::size_t>()]["source"].get<std::string>());
    EXPECT_EQ(grouped, (std::set<std::string>{"10.0.0.1:4000", "10.0.0.2:5000"}));
    EXPECT_EQ(j["sip"]["messages"], 7);

    const run_result text = run({"info", path("call.pcap")});
    ASSERT_EQ(text.status, 0) << text.err;
    for (const char* line : {"SIP:           7 messages, 1 call\n", "\ncall 1:\n", "  caller:          \"Alice\" <sip:alice@10.0.0.1>\n",
                             "  post-dial delay: 250.0 ms\n", "  setup time:      2000.0 ms\n", "  duration:        5.99 s\n",
                             "  end:             BYE from caller\n",
                             "  offer:           10.0.0.1:4000 G729/8000 telephone-event/8000 ptime 20 sendrecv\n",
                             "  answer:          10.0.0.2:5000 G729/8000 ptime 30 sendrecv\n", "  streams:         2\n"})
        EXPECT_TRUE(contains(text.out, line)) << line << "\n" << text.out;
    // The call's streams come under it; the stray one after, on its own.
    const std::size_t without = text.out.find("\nstreams without a call:\n");
    ASSERT_NE(without, std::string::npos) << text.out;
    EXPECT_LT(text.out.find("source:        10.0.0.2:5000"), without);
    EXPECT_LT(text.out.find("source:        10.0.0.1:4000"), without);
    EXPECT_GT(text.out.find("source:        10.0.0.3:6000"), without);
}

TEST_F(SipCallTest, EachWayACallEndsIsNamedWithItsFigures) {
    struct Case {
        const char* name;
        std::vector<sip_step> steps;
        const char* end;
        bool failed;
        std::optional<double> pdd_ms, setup_ms, duration_s;
        std::size_t streams;
    } cases[] = {
        {"busy before any media",
         {{0, true, request("INVITE", "1 INVITE", sdp_body(v4("10.0.0.9", 9000)))},
          {300, false, response("180 Ringing", "1 INVITE")},
          {900, false, response("486 Busy Here", "1 INVITE")},
          {910, true, request("ACK", "1 ACK")}},
         "486 Busy Here", true, 300.0, std::nullopt, std::nullopt, 0},
        {"cancelled while ringing",
         {{0, true, request("INVITE", "1 INVITE", sdp_body(v4("10.0.0.9", 9000)))},
          {120, false, response("183 Session Progress", "1 INVITE")},
          {4000, true, request("CANCEL", "1 CANCEL")},
          {4020, false, response("200 OK", "1 CANCEL")},
          {4030, false, response("487 Request Terminated", "1 INVITE")},
          {4040, true, request("ACK", "1 ACK")}},
         "CANCEL", true, 120.0, std::nullopt, std::nullopt, 0},
        {"hung up by the callee",
         {{0, true, request("INVITE", "1 INVITE", sdp_body(kA))},
          {1500, false, response("200 OK", "1 INVITE", sdp_body(kB))},
          {1600, true, request("ACK", "1 ACK")},
          {9600, false, request("BYE", "7 BYE", "", true)},
          {9700, true, sip_message("SIP/2.0 200 OK", kCallId, kToTagged, kFrom, "7 BYE")}},
         "BYE from callee", false, std::nullopt, 1500.0, 8.0, 2},
        // A challenge is no failure: the INVITE sent again with credentials
        // goes on, timed from the first.
        {"answered after an authentication challenge",
         {{0, true, request("INVITE", "1 INVITE", sdp_body(kA))},
          {30, false, response("407 Proxy Authentication Required", "1 INVITE")},
          {40, true, request("ACK", "1 ACK")},
          {100, true, request("INVITE", "2 INVITE", sdp_body(kA))},
          {400, false, response("180 Ringing", "2 INVITE")},
          {2100, false, response("200 OK", "2 INVITE", sdp_body(kB))},
          {2200, true, request("ACK", "2 ACK")},
          {4200, true, request("BYE", "3 BYE")}},
         "BYE from caller", false, 400.0, 2100.0, 2.0, 2},
        {"still up when the capture ends",
         {{0, true, request("INVITE", "1 INVITE", sdp_body(kA))},
          {1000, false, response("200 OK", "1 INVITE", sdp_body(kB))},
          {1010, true, request("ACK", "1 ACK")}},
         "no end seen", false, std::nullopt, 1000.0, std::nullopt, 2},
    };
    for (const Case& c : cases) {
        std::vector<frame_record> records = media();
        const std::vector<frame_record> sip = signalling(kStart - 3 * kSecond, c.steps);
        records.insert(records.end(), sip.begin(), sip.end());
        write_pcap(path("call.pcap"), DLT_EN10MB, by_time(records));
        const nlohmann::json j = info_json("call.pcap");
        ASSERT_EQ(j["calls"].size(), 1u) << c.name << j.dump();
        const nlohmann::json& call = j["calls"][0];
        EXPECT_EQ(call["end"], c.end) << c.name;
        EXPECT_EQ(call["failed"], c.failed) << c.name;
        auto figure = [](const nlohmann::json& v) { return v.is_null() ? std::nullopt : std::optional<double>(v.get<double>()); };
        EXPECT_EQ(figure(call["post_dial_delay_ms"]), c.pdd_ms) << c.name;
        EXPECT_EQ(figure(call["setup_ms"]), c.setup_ms) << c.name;
        EXPECT_EQ(figure(call["duration_s"]), c.duration_s) << c.name;
        EXPECT_EQ(call["streams"].size(), c.streams) << c.name;
        EXPECT_EQ(call["messages"].size(), c.steps.size()) << c.name;
        const run_result text = run({"info", path("call.pcap")});
        EXPECT_TRUE(contains(text.out, std::string("  end:             ") + c.end + (c.failed ? " (failed)\n" : "\n"))) << c.name << text.out;
        if (c.streams == 0) {
            EXPECT_TRUE(contains(text.out, "  streams:         none\n")) << c.name << text.out;
        }
    }
}

TEST_F(SipCallTest, ACallOverIpv6IsGroupedByTheAddressesOfItsSdp) {
    const address a = v6("2001:db8::1", 4000), b = v6("2001:db8::2", 5000);
    const address a_sip = v6("2001:db8::1", 5060), b_sip = v6("2001:db8::2", 5060);
    std::vector<frame_record> records = on_link(link::ethernet, send(talk(), 2, a, b, 0x1a2b3c4d, kStart, 1));
    const std::vector<frame_record> back = on_link(link::ethernet, send(talk(), 2, b, a, 0x5e6f7a8b, kStart, 1));
    records.insert(records.end(), back.begin(), back.end());
    // The same ports on IPv4 hosts: another call's, not this one's.
    const std::vector<frame_record> v4_media = on_link(link::ethernet, send(talk(), 2, kA, kB, 0x77777777, kStart, 1));
    records.insert(records.end(), v4_media.begin(), v4_media.end());
    const int64_t invite = kStart - kSecond;
    records.push_back(sip_udp_frame(invite, a_sip, b_sip, request("INVITE", "1 INVITE", sdp_body(a))));
    records.push_back(sip_udp_frame(invite + 600 * kMs, b_sip, a_sip, response("200 OK", "1 INVITE", sdp_body(b))));
    records.push_back(sip_udp_frame(invite + 610 * kMs, a_sip, b_sip, request("ACK", "1 ACK")));
    write_pcap(path("v6.pcap"), DLT_EN10MB, by_time(records));
    const nlohmann::json j = info_json("v6.pcap");
    ASSERT_EQ(j["calls"].size(), 1u) << j.dump();
    EXPECT_EQ(j["calls"][0]["offer"][0]["address"], "2001:db8::1");
    EXPECT_EQ(j["calls"][0]["setup_ms"], 600.0);
    std::set<std::string> grouped;
    for (const auto& i : j["calls"][0]["streams"]) grouped.insert(j["streams"][i.get<std::size_t>()]["source"].get<std::string>());
    EXPECT_EQ(grouped, (std::set<std::string>{"[2001:db8::1]:4000", "[2001:db8::2]:5000"}));
}

// An SDP's a=rtcp (RFC 3605) moves a media's RTCP off the port above its
// RTP, to another port and perhaps another host: the reports sent there are
// the call's streams' own, and only because the SDP said so. A garbled
// attribute moves nothing.
TEST_F(SipCallTest, RtcpWhereTheSdpsRtcpAttributeSendsItIsTheStreamsAndOnlyThen) {
    const int64_t invite = kStart - 3 * kSecond;
    struct Case {
        const char* name;
        std::string offer_rtcp, answer_rtcp; // a= lines of the caller's and the callee's media ("" none)
        address caller_rtcp, callee_rtcp;    // where the reports go
        bool theirs;
        nlohmann::json offer_shows, answer_shows; // the offer's and answer's "rtcp" in info --json
        bool session_level = false;               // the offer's line before its m= line
    };
    const nlohmann::json none = nullptr;
    const Case cases[] = {
        {"a port of the caller's own host, and a port of another host",
         "a=rtcp:4711", "a=rtcp:6123 IN IP4 10.0.0.20", v4("10.0.0.1", 4711), v4("10.0.0.20", 6123), true,
         {{"address", "10.0.0.1"}, {"port", 4711}}, {{"address", "10.0.0.20"}, {"port", 6123}}},
        {"the same reports without the attribute", "", "", v4("10.0.0.1", 4711), v4("10.0.0.20", 6123), false, none, none},
        {"the port above the RTP port named (each report once)", "a=rtcp:4001", "a=rtcp:5001", v4("10.0.0.1", 4001),
         v4("10.0.0.2", 5001), true, {{"address", "10.0.0.1"}, {"port", 4001}}, {{"address", "10.0.0.2"}, {"port", 5001}}},
        {"RTCP multiplexed on the RTP ports", "a=rtcp-mux", "a=rtcp-mux", kA, kB, true, none, none},
        {"a port beyond 65535 (70000 wrapped is 4464)", "a=rtcp:70000", "a=rtcp:70000", v4("10.0.0.1", 4464), v4("10.0.0.2", 4464),
         false, none, none},
        {"a port followed by garbage", "a=rtcp:4711x", "a=rtcp:6123;", v4("10.0.0.1", 4711), v4("10.0.0.2", 6123), false, none, none},
        {"an address that is none, or a host name", "a=rtcp:4711 IN IP4 10.0.0.300", "a=rtcp:6123 IN IP4 relay.example",
         v4("10.0.0.1", 4711), v4("10.0.0.2", 6123), false, none, none},
        {"at the session level, where it means nothing", "a=rtcp:4711", "", v4("10.0.0.1", 4711), v4("10.0.0.2", 5001), false,
         none, none, true},
    };
    for (const Case& c : cases) {
        std::string offer = sdp_body(kA), answer = sdp_body(kB);
        if (!c.offer_rtcp.empty()) {
            if (c.session_level)
                offer.insert(offer.find("m=audio"), c.offer_rtcp + "\r\n");
            else
                offer += c.offer_rtcp + "\r\n";
        }
        if (!c.answer_rtcp.empty()) answer += c.answer_rtcp + "\r\n";
        std::vector<frame_record> records = media();
        const std::vector<frame_record> sip = signalling(invite, {{0, true, request("INVITE", "1 INVITE", offer)},
                                                                  {2000, false, response("200 OK", "1 INVITE", answer)},
                                                                  {2010, true, request("ACK", "1 ACK")}});
        records.insert(records.end(), sip.begin(), sip.end());
        // The caller's sender report, the callee's receiver report about
        // it and the callee's sender report, between the RTCP ends; and a
        // report about the stray stream's SSRC on the same ports.
        const int64_t sr_ns = kStart + 500 * kMs;
        records.push_back({sr_ns, framed(link::ethernet, ip_udp(c.caller_rtcp, c.callee_rtcp, rtcp_sr(0x1a2b3c4d, 50, 1000, sr_ns))), 0});
        records.push_back({sr_ns + 100 * kMs,
                           framed(link::ethernet, ip_udp(c.callee_rtcp, c.caller_rtcp,
                                                         rtcp_rr(0x5e6f7a8b, 0x1a2b3c4d, 0, 0, 40, ntp_middle32(sr_ns), 65536 * 60 / 1000))),
                           0});
        records.push_back({sr_ns + 200 * kMs,
                           framed(link::ethernet, ip_udp(c.callee_rtcp, c.caller_rtcp, rtcp_sr(0x5e6f7a8b, 40, 800, sr_ns + 200 * kMs))), 0});
        records.push_back({sr_ns + 300 * kMs,
                           framed(link::ethernet, ip_udp(c.caller_rtcp, c.callee_rtcp, rtcp_sr(0x77777777, 30, 600, sr_ns + 300 * kMs))), 0});
        write_pcap(path("call.pcap"), DLT_EN10MB, by_time(records));

        const nlohmann::json j = info_json("call.pcap");
        ASSERT_EQ(j["calls"].size(), 1u) << c.name;
        EXPECT_EQ(j["calls"][0]["offer"][0]["rtcp"], c.offer_shows) << c.name;
        EXPECT_EQ(j["calls"][0]["answer"][0]["rtcp"], c.answer_shows) << c.name;
        std::map<std::string, nlohmann::json> by_ssrc;
        for (const nlohmann::json& s : j["streams"]) by_ssrc[s["ssrc"]] = s;
        ASSERT_EQ(by_ssrc.size(), 3u) << c.name;
        const std::size_t n = c.theirs ? 1 : 0;
        EXPECT_EQ(by_ssrc["0x1a2b3c4d"]["rtcp_sender_reports"].size(), n) << c.name;
        EXPECT_EQ(by_ssrc["0x1a2b3c4d"]["rtcp_receiver_reports"].size(), n) << c.name;
        EXPECT_EQ(by_ssrc["0x5e6f7a8b"]["rtcp_sender_reports"].size(), n) << c.name;
        if (c.theirs && by_ssrc["0x1a2b3c4d"]["rtcp_receiver_reports"].size() == 1) {
            EXPECT_NEAR(by_ssrc["0x1a2b3c4d"]["rtcp_receiver_reports"][0]["rtt_ms"].get<double>(), 40.0, 0.1) << c.name;
        }
        EXPECT_EQ(by_ssrc["0x77777777"]["rtcp_sender_reports"].size(), 0u) << c.name << ": a stream between other hosts";
    }

    // The text names where each side's RTCP goes.
    std::vector<frame_record> records = media();
    const std::vector<frame_record> sip =
        signalling(invite, {{0, true, request("INVITE", "1 INVITE", sdp_body(kA) + "a=rtcp:4711\r\n")},
                            {2000, false, response("200 OK", "1 INVITE", sdp_body(kB) + "a=rtcp:6123 IN IP4 10.0.0.20\r\n")}});
    records.insert(records.end(), sip.begin(), sip.end());
    write_pcap(path("moved.pcap"), DLT_EN10MB, by_time(records));
    const run_result moved = run({"info", path("moved.pcap")});
    ASSERT_EQ(moved.status, 0) << moved.err;
    EXPECT_TRUE(contains(moved.out, "sendrecv rtcp 10.0.0.1:4711\n")) << moved.out;
    EXPECT_TRUE(contains(moved.out, "sendrecv rtcp 10.0.0.20:6123\n")) << moved.out;
}

TEST_F(SipCallTest, ACaptureOfAFailedCallAloneIsDescribedNotRefused) {
    write_pcap(path("busy.pcap"), DLT_EN10MB,
               signalling(kStart, {{0, true, request("INVITE", "1 INVITE", sdp_body(kA))},
                                   {700, false, response("486 Busy Here", "1 INVITE")},
                                   {710, true, request("ACK", "1 ACK")}}));
    const run_result r = run({"info", path("busy.pcap")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(r.out, "G.729 streams: 0\n")) << r.out;
    EXPECT_TRUE(contains(r.out, "  end:             486 Busy Here (failed)\n  offer:           10.0.0.1:4000")) << r.out;
    EXPECT_TRUE(contains(r.out, "  streams:         none\n")) << r.out;
    // With no call either, there is nothing to describe.
    write_pcap(path("options.pcap"), DLT_EN10MB,
               {sip_udp_frame(kStart, kCallerSip, kCalleeSip, sip_message("OPTIONS sip:b SIP/2.0", "o1", kFrom, kTo, "1 OPTIONS"))});
    expect_refused({{{"info", path("options.pcap")}, 1, "no G.729 RTP stream"}});
}

TEST_F(SipCallTest, SipOverTcpIsReadMessageByMessageWhereASegmentHoldsSeveral) {
    const int64_t invite = kStart - 2 * kSecond;
    const std::string cut = request("BYE", "2 BYE");
    std::vector<frame_record> records = media();
    tcp_sender caller{kCallerSip, kCalleeSip, 1000}, callee{kCalleeSip, kCallerSip, 50000};
    for (const frame_record& f : std::vector<frame_record>{
             caller.send(invite, request("INVITE", "1 INVITE", sdp_body(kA))),
             // Two whole messages in one segment, keep-alive CRLFs between.
             callee.send(invite + 200 * kMs, response("100 Trying", "1 INVITE") + "\r\n\r\n" + response("180 Ringing", "1 INVITE")),
             // A whole message and the start of the next, which the
             // capture ends before: the part is not read.
             callee.send(invite + 1000 * kMs,
                         response("200 OK", "1 INVITE", sdp_body(kB)) + response("200 OK", "1 INVITE", sdp_body(kB)).substr(0, 100)),
             caller.send(invite + 1100 * kMs, request("ACK", "1 ACK") + cut.substr(0, cut.size() - 10))})
        records.push_back(f);
    write_pcap(path("tcp.pcap"), DLT_EN10MB, by_time(records));
    const nlohmann::json j = info_json("tcp.pcap");
    ASSERT_EQ(j["calls"].size(), 1u) << j.dump();
    const nlohmann::json& call = j["calls"][0];
    EXPECT_EQ(call["messages"].size(), 5u);
    EXPECT_EQ(call["post_dial_delay_ms"], 200.0);
    EXPECT_EQ(call["setup_ms"], 1000.0);
    EXPECT_EQ(call["end"], "no end seen") << "the BYE was cut short, and is not read";
    EXPECT_EQ(call["streams"].size(), 2u);
    EXPECT_EQ(j["sip"]["messages"], 5);
    EXPECT_EQ(j["sip"]["partial_tcp_messages"], 2);
    const run_result text = run({"info", path("tcp.pcap")});
    EXPECT_TRUE(contains(text.out, "SIP not used:  2 over TCP not read whole (")) << text.out;
}

// The messages of an answered call over TCP. Its INVITE (1.9 kB, more
// than an Ethernet frame carries) offers G.729 as the dynamic payload type
// 97 at kA, and nothing else in the capture says so; the answer offers 18.
struct tcp_call_messages {
    std::string invite = sip_message("INVITE sip:bob@10.0.0.2 SIP/2.0", kCallId, kFrom, kTo, "1 INVITE",
                                     sdp_body(kA, {97}) + "a=rtpmap:97 G729/8000\r\n",
                                     {"User-Agent: test phone", "X-Padding: " + std::string(1400, 'p')});
    std::string trying = response("100 Trying", "1 INVITE");
    std::string ringing = response("180 Ringing", "1 INVITE");
    std::string ok = response("200 OK", "1 INVITE", sdp_body(kB, {18}));
    std::string ack = request("ACK", "1 ACK");
    std::string bye = request("BYE", "2 BYE");
    std::string bye_ok = response("200 OK", "2 BYE");
};

TEST_F(SipCallTest, SipOverTcpIsPutBackTogetherFromItsSegments) {
    const tcp_call_messages m;
    ASSERT_GT(m.invite.size(), 1500u);
    const int64_t t = kStart - 2 * kSecond; // the INVITE, once whole
    auto ms = [t](int n) { return t + n * kMs; };
    using segments = std::vector<frame_record>;
    // What follows the INVITE, each message in a segment of its own.
    auto after_invite = [&](tcp_sender& caller, tcp_sender& callee) {
        return segments{callee.send(ms(50), m.trying), callee.send(ms(300), m.ringing), callee.send(ms(2000), m.ok),
                        caller.send(ms(2010), m.ack),  caller.send(ms(8000), m.bye),      callee.send(ms(8030), m.bye_ok)};
    };
    auto join = [](segments a, const segments& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    // The call, with `text` sent by the caller between the ACK and the BYE
    // in segments of 1400 bytes.
    auto between_ack_and_bye = [&](const std::string& text) {
        return [&, text](tcp_sender& caller, tcp_sender& callee) {
            segments s{caller.send(ms(0), m.invite), callee.send(ms(50), m.trying), callee.send(ms(300), m.ringing),
                       callee.send(ms(2000), m.ok), caller.send(ms(2010), m.ack)};
            for (std::size_t at = 0; at < text.size(); at += 1400) s.push_back(caller.send(ms(3000), text.substr(at, 1400)));
            return join(s, {caller.send(ms(8000), m.bye), callee.send(ms(8030), m.bye_ok)});
        };
    };
    const std::string huge_info = sip_message("INFO sip:bob@10.0.0.2 SIP/2.0", kCallId, kFrom, kToTagged, "2 INFO", std::string(70000, 'x'));
    std::string endless_header = "INFO sip:bob@10.0.0.2 SIP/2.0\r\n";
    while (endless_header.size() < 70000) endless_header += "X-Filler: " + std::string(100, 'f') + "\r\n";

    struct Case {
        const char* name;
        uint32_t first_sequence; // of both directions
        std::function<segments(tcp_sender& caller, tcp_sender& callee)> send;
        std::size_t messages;    // read, all of the call
        std::size_t partial;
        std::optional<double> pdd_ms, setup_ms;
        const char* end;
    } cases[] = {
        {"an INVITE in three segments, after the SYN and before the FIN", 7000,
         [&](tcp_sender& caller, tcp_sender& callee) {
             segments s{caller.send(ms(-10), "", kTcpSyn), caller.send(ms(-2), m.invite.substr(0, 600)),
                        caller.send(ms(-1), m.invite.substr(600, 700)), caller.send(ms(0), m.invite.substr(1300))};
             s = join(s, after_invite(caller, callee));
             s.push_back(caller.send(ms(8040), "", kTcpFin | kTcpAck));
             return s;
         },
         7, 0, 300.0, 2000.0, "BYE from caller"},
        {"two messages in one segment, a third split over two", 7000,
         [&](tcp_sender& caller, tcp_sender& callee) {
             return segments{caller.send(ms(0), m.invite),
                             callee.send(ms(300), m.trying + m.ringing + m.ok.substr(0, 200)),
                             callee.send(ms(2000), m.ok.substr(200)),
                             caller.send(ms(2010), m.ack),
                             caller.send(ms(8000), m.bye),
                             callee.send(ms(8030), m.bye_ok)};
         },
         7, 0, 300.0, 2000.0, "BYE from caller"},
        // (Its request line whole in the first: a connection is followed
        // from a segment that shows it is SIP.)
        {"the INVITE three bytes a segment after its request line, its blank line across two", 7000,
         [&](tcp_sender& caller, tcp_sender& callee) {
             const std::size_t line = m.invite.find('\n') + 1;
             const std::size_t pieces = (m.invite.size() - line + 2) / 3;
             segments s{caller.send(t - int64_t(pieces) * 1000, m.invite.substr(0, line))};
             for (std::size_t i = 0; i < pieces; ++i)
                 s.push_back(caller.send(t - int64_t(pieces - 1 - i) * 1000, m.invite.substr(line + i * 3, 3)));
             return join(s, after_invite(caller, callee));
         },
         7, 0, 300.0, 2000.0, "BYE from caller"},
        {"segments sent again: the same bytes, and part of them with more", 7000,
         [&](tcp_sender& caller, tcp_sender& callee) {
             const uint32_t first = caller.next;
             segments s{caller.send(ms(-3), m.invite.substr(0, 700)), caller.again(ms(-2), m.invite.substr(0, 700), first),
                        caller.again(ms(-1), m.invite.substr(500, 700), first + 500)};
             caller.next = first + 1200;
             s.push_back(caller.send(ms(0), m.invite.substr(1200)));
             s = join(s, after_invite(caller, callee));
             // The whole 200 OK once more, after it was read.
             s.push_back(callee.again(ms(2500), m.ok, callee.next - uint32_t(m.ok.size() + m.bye_ok.size())));
             return s;
         },
         7, 0, 300.0, 2000.0, "BYE from caller"},
        {"a segment missing in the middle of the 200 OK: it alone is lost", 7000,
         [&](tcp_sender& caller, tcp_sender& callee) {
             segments s{caller.send(ms(0), m.invite), callee.send(ms(50), m.trying), callee.send(ms(300), m.ringing),
                        callee.send(ms(2000), m.ok.substr(0, 200))};
             callee.lose(m.ok.substr(200, 200));
             return join(std::move(s), {callee.send(ms(2001), m.ok.substr(400)), caller.send(ms(2010), m.ack), caller.send(ms(8000), m.bye),
                             callee.send(ms(8030), m.bye_ok)});
         },
         6, 1, 300.0, std::nullopt, "BYE from caller"},
        {"a segment missing with a whole 180 and the start of the 200 OK: both lost, the BYE read", 7000,
         [&](tcp_sender& caller, tcp_sender& callee) {
             segments s{caller.send(ms(0), m.invite), callee.send(ms(50), m.trying)};
             callee.lose(m.ringing + m.ok.substr(0, 300));
             return join(s, {callee.send(ms(2000), m.ok.substr(300)), caller.send(ms(2010), m.ack), caller.send(ms(8000), m.bye),
                             callee.send(ms(8030), m.bye_ok)});
         },
         5, 1, std::nullopt, std::nullopt, "BYE from caller"},
        {"sequence numbers wrapping past 2^32 inside the INVITE and the 200 OK", 0xFFFFFFFFu - 800,
         [&](tcp_sender& caller, tcp_sender& callee) {
             segments s{caller.send(ms(-1), m.invite.substr(0, 1000)), caller.send(ms(0), m.invite.substr(1000)),
                        callee.send(ms(50), m.trying), callee.send(ms(300), m.ringing), callee.send(ms(1999), m.ok.substr(0, 300))};
             // The INVITE's last segment sent again across the wrap.
             s.push_back(caller.again(ms(1000), m.invite.substr(1000), 0xFFFFFFFFu - 800 + 1000));
             return join(s, {callee.send(ms(2000), m.ok.substr(300)), caller.send(ms(2010), m.ack), caller.send(ms(8000), m.bye),
                             callee.send(ms(8030), m.bye_ok)});
         },
         7, 0, 300.0, 2000.0, "BYE from caller"},
        {"a message over 64 KB is passed over, the BYE after it read", 7000,
         between_ack_and_bye(huge_info),
         7, 1, 300.0, 2000.0, "BYE from caller"},
        {"a header over 64 KB that never ends: the BYE after it read", 7000,
         between_ack_and_bye(endless_header),
         7, 1, 300.0, 2000.0, "BYE from caller"},
    };
    for (const Case& c : cases) {
        // The caller's stream on 97, known only from the INVITE; the
        // callee's on 18.
        std::vector<sent_packet> forth = send(talk(), 2, kA, kB, 0x1a2b3c4d, kStart, 1);
        for (sent_packet& p : forth) p.payload_type = 97;
        std::vector<frame_record> records = on_link(link::ethernet, forth);
        const std::vector<frame_record> back = on_link(link::ethernet, send(talk(), 2, kB, kA, 0x5e6f7a8b, kStart + 10 * kMs, 1));
        records.insert(records.end(), back.begin(), back.end());
        tcp_sender caller{kCallerSip, kCalleeSip, c.first_sequence}, callee{kCalleeSip, kCallerSip, c.first_sequence};
        const segments sip = c.send(caller, callee);
        records.insert(records.end(), sip.begin(), sip.end());
        write_pcap(path("tcp.pcap"), DLT_EN10MB, by_time(records));

        const nlohmann::json j = info_json("tcp.pcap");
        ASSERT_EQ(j["calls"].size(), 1u) << c.name << j.dump();
        const nlohmann::json& call = j["calls"][0];
        EXPECT_EQ(call["messages"].size(), c.messages) << c.name;
        EXPECT_EQ(j["sip"]["messages"], c.messages) << c.name << ": nothing read twice";
        EXPECT_EQ(j["sip"]["partial_tcp_messages"], c.partial) << c.name;
        auto figure = [](const nlohmann::json& v) { return v.is_null() ? std::nullopt : std::optional<double>(v.get<double>()); };
        EXPECT_EQ(figure(call["post_dial_delay_ms"]), c.pdd_ms) << c.name;
        EXPECT_EQ(figure(call["setup_ms"]), c.setup_ms) << c.name;
        EXPECT_EQ(call["end"], c.end) << c.name;
        // The INVITE is read at the segment that completed it, its SDP with it.
        const nlohmann::json& invite = call["messages"][0];
        EXPECT_EQ(invite["method"], "INVITE") << c.name;
        EXPECT_EQ(invite["sdp"], true) << c.name;
        EXPECT_EQ(invite["time"], double(t) / 1e9) << c.name;
        EXPECT_EQ(call["offer"][0]["codecs"], nlohmann::json({"97 G729/8000"})) << c.name;
        // Both streams are G.729 and the call's: 97 by its SDP alone.
        ASSERT_EQ(j["streams"].size(), 2u) << c.name << j.dump();
        ASSERT_EQ(call["streams"].size(), 2u) << c.name;
        std::set<int> types;
        for (const auto& s : j["streams"]) types.insert(s["payload_type"].get<int>());
        EXPECT_EQ(types, (std::set<int>{18, 97})) << c.name;
    }
}

// Every byte of the text output either printable, UTF-8 or a line break.
bool terminal_safe(const std::string& text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char b = static_cast<unsigned char>(text[i]);
        if ((b < 0x20 && b != '\n') || b == 0x7F) return false;
        if (b == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) < 0xA0) return false;
    }
    return true;
}

TEST_F(SipCallTest, HostileSignallingNeitherCrashesNorInventsCallsNorGarblesTheOutput) {
    const std::string invite_line = "INVITE sip:bob@10.0.0.2 SIP/2.0";
    const std::string huge(60000, 'x');
    struct Case {
        const char* name;
        std::vector<std::string> datagrams; // each one UDP datagram, 10 ms apart
        std::size_t calls;
        const char* count; // the "sip" figure that counts what was not used
        std::size_t counted;
    } cases[] = {
        {"no Call-ID", {sip_message(invite_line, "", kFrom, kTo, "1 INVITE", sdp_body(kA))}, 0, "without_call_id", 1},
        {"garbage after a request line", {invite_line + "\r\n\x01\x02garbage: \xff\xfe\r\n:::\r\n\r\n"}, 0, "unreadable", 1},
        {"a status out of range", {"SIP/2.0 999999999999 Huge\r\nCall-ID: x\r\nCSeq: 1 INVITE\r\n\r\n"}, 0, "unreadable", 1},
        {"a BYE of a call begun before the capture", {request("BYE", "2 BYE")}, 0, "outside_calls", 1},
        {"a re-INVITE inside a dialog", {sip_message(invite_line, kCallId, kFrom, kToTagged, "3 INVITE", sdp_body(kA))}, 0,
         "outside_calls", 1},
        {"responses alone", {response("180 Ringing", "1 INVITE"), response("200 OK", "1 INVITE")}, 0, "outside_calls", 2},
        {"a From of 60 kB", {sip_message(invite_line, kCallId, "\"" + huge + "\" <sip:a@b>;tag=1", kTo, "1 INVITE")}, 1,
         "unreadable", 0},
        {"a Call-ID of 60 kB", {sip_message(invite_line, huge, kFrom, kTo, "1 INVITE")}, 1, "unreadable", 0},
        {"control characters and bytes that are no UTF-8",
         {sip_message(invite_line, "id\x1b[2J\x07@h", "\"\x1b]0;owned\x07\xc2\x9b" "31m\xff\" <sip:a@b>;tag=1", kTo, "1 INVITE"),
          sip_message("SIP/2.0 486 Busy\x1b[5m Here\x08\x08", "id\x1b[2J\x07@h", "<sip:a@b>;tag=1", kToTagged, "1 INVITE")},
         1, "unreadable", 0},
    };
    for (const Case& c : cases) {
        std::vector<frame_record> records = media();
        for (std::size_t i = 0; i < c.datagrams.size(); ++i)
            records.push_back(sip_udp_frame(kStart - kSecond + int64_t(i) * 10 * kMs, kCallerSip, kCalleeSip, c.datagrams[i]));
        write_pcap(path("hostile.pcap"), DLT_EN10MB, by_time(records));
        const run_result json = run({"info", "--json", path("hostile.pcap")});
        ASSERT_EQ(json.status, 0) << c.name << ": " << json.err;
        nlohmann::json j;
        ASSERT_NO_THROW(j = nlohmann::json::parse(json.out)) << c.name << ": not JSON\n" << json.out;
        EXPECT_EQ(j["calls"].size(), c.calls) << c.name;
        EXPECT_EQ(j["sip"][c.count], c.counted) << c.name;
        for (const auto& call : j["calls"]) {
            EXPECT_LE(call["call_id"].get<std::string>().size(), 256u) << c.name;
            EXPECT_LE(call["caller"].get<std::string>().size(), 256u) << c.name;
        }
        const run_result text = run({"info", path("hostile.pcap")});
        ASSERT_EQ(text.status, 0) << c.name << ": " << text.err;
        EXPECT_TRUE(terminal_safe(text.out)) << c.name << ":\n" << text.out;
        EXPECT_LT(text.out.size(), 40000u) << c.name;
    }
    // What the terminal shows of them.
    const run_result text = run({"info", path("hostile.pcap")});
    EXPECT_TRUE(contains(text.out, "  Call-ID:         id\\x1b[2J\\x07@h\n")) << text.out;
    EXPECT_TRUE(contains(text.out, "  end:             486 Busy\\x1b[5m Here\\x08\\x08 (failed)\n")) << text.out;
}

TEST_F(SipCallTest, ThousandsOfCallsAreListedUpToTheLimitAndTheRestCounted) {
    std::vector<frame_record> records = media();
    for (int i = 0; i < 2300; ++i)
        records.push_back(sip_udp_frame(kStart - kSecond + i * kMs / 10, kCallerSip, kCalleeSip,
                                        sip_message("INVITE sip:bob@10.0.0.2 SIP/2.0", "call-" + std::to_string(i), kFrom, kTo,
                                                    "1 INVITE", sdp_body(kA))));
    write_pcap(path("many.pcap"), DLT_EN10MB, by_time(records));
    const nlohmann::json j = info_json("many.pcap");
    EXPECT_EQ(j["calls"].size(), 2000u);
    EXPECT_EQ(j["sip"]["calls_not_listed"], 300);
    // Every call says it receives at kA: the streams go to the last one
    // begun before them, once.
    std::size_t grouped = 0;
    for (const auto& call : j["calls"]) grouped += call["streams"].size();
    EXPECT_EQ(grouped, 2u);
    EXPECT_EQ(j["calls"][1999]["streams"].size(), 2u);
    const run_result text = run({"info", path("many.pcap")});
    EXPECT_TRUE(contains(text.out, "300 INVITEs of calls beyond the first 2000 (not listed)")) << text.out.substr(0, 2000);
}

} // namespace
} // namespace g729::tool
