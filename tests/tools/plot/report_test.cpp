// g729a report: the strings of a capture cannot leave their place in the
// page, the page carries its audio and nothing from outside, and a run that
// is refused leaves OUT as it was. (The page itself is checked in a real
// browser by tests/tools/report/report_page_test.py.)
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <cstring>
#include <string>
#include <vector>

#include "tests/tools/capture/capture_writer.h"
#include "tools/common/json.h"
#include "tools/formats/page_audio.h"
#include "tools/plot/report_page.h"

namespace g729::tool {
namespace {

using namespace testing;
using namespace capture_writer;

// Strings as a capture may carry them in a SIP header, an SDP body or a file
// name: inside a <script> element the JSON keeps them all as data, and
// reading it back gives them unchanged.
TEST(ReportPage, JsonInAScriptCannotCloseOrCommentIt) {
    const std::vector<std::string> hostile = {
        "</script><script>alert(1)</script>", "<!--<script>", "a & b > c", "\xE2\x80\xA8line\xE2\x80\xA9paragraph",
        "</SCRIPT >", "]]>", "\"quoted\" \\ back", std::string("nul\0byte", 8), "caf\xC3\xA9 \xE2\x80\x93 ok",
    };
    for (const std::string& s : hostile) {
        const std::string json = "{\"from\": " + json_string(s) + "}";
        const std::string safe = script_json(json);
        EXPECT_EQ(safe.find('<'), std::string::npos) << s;
        EXPECT_EQ(safe.find('>'), std::string::npos) << s;
        EXPECT_EQ(safe.find('&'), std::string::npos) << s;
        EXPECT_EQ(safe.find("\xE2\x80\xA8"), std::string::npos) << s;
        EXPECT_EQ(safe.find("\xE2\x80\xA9"), std::string::npos) << s;
        EXPECT_EQ(nlohmann::json::parse(safe).at("from").get<std::string>(), s) << s;
    }
}

TEST(ReportPage, TextForElementsAndAttributesIsEscaped) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"<img src=x onerror=alert(1)>", "&lt;img src=x onerror=alert(1)&gt;"},
        {"a\"b'c", "a&quot;b&#39;c"},
        {"&amp;", "&amp;amp;"},
        {"call.pcap", "call.pcap"},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(html_escape(in), out);
}

TEST(ReportPage, WavForThePageHoldsEverySample) {
    const std::vector<int16_t> samples = {0, 1, -1, 32767, -32768, 1234};
    const page_audio a = wav_for_page(samples.data(), samples.size());
    EXPECT_EQ(a.mime, "audio/wav");
    ASSERT_EQ(a.bytes.size(), 44 + 2 * samples.size());
    EXPECT_EQ(a.bytes.substr(0, 4), "RIFF");
    for (std::size_t i = 0; i < samples.size(); ++i)
        EXPECT_EQ(int16_t(uint8_t(a.bytes[44 + 2 * i]) | uint8_t(a.bytes[45 + 2 * i]) << 8), samples[i]);
}

TEST(ReportPage, Base64OfEveryTailLength) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"foob", "Zm9vYg=="}, {std::string("\xFF\xFE\x00", 3), "//4A"}};
    for (const auto& [in, out] : cases) EXPECT_EQ(base64(in), out);
}

// The page of a call: self-contained, with its audio as Opus at about
// 16 kbit/s, and the figures info gives.
TEST_F(CaptureTest, ThePageOfACallCarriesItsAudioAndNothingFromOutside) {
    std::vector<sent_packet> packets = send(coded_frames("speech_male_librivox.g729", 500), 2, kA, kB, 0x1a2b3c4d, kStart, 1);
    write_pcap(path("call.pcap"), DLT_EN10MB, on_link(link::ethernet, packets));
    const run_result r = run({"report", path("call.pcap"), path("call.html")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(r.err, "call.html: a page of 1 stream")) << r.err;
    const std::vector<uint8_t> bytes = read_file(path("call.html"));
    const std::string page(bytes.begin(), bytes.end());
    EXPECT_TRUE(contains(page, "Content-Security-Policy"));
    // The only URL in it is the SVG namespace, which is a name, not a request.
    std::string rest = page;
    for (const char* scheme : {"http://", "https://", "//cdn", "src=\"http"}) {
        std::size_t at = 0;
        while ((at = rest.find(scheme, at)) != std::string::npos) {
            EXPECT_EQ(rest.compare(at, 26, "http://www.w3.org/2000/svg"), 0) << rest.substr(at, 60);
            ++at;
        }
    }
    const std::size_t start = page.find("id=\"report-data\">") + std::strlen("id=\"report-data\">");
    const nlohmann::json data = nlohmann::json::parse(page.substr(start, page.find("</script>", start) - start));
    ASSERT_EQ(data["streams"].size(), 1u);
    const nlohmann::json& s = data["streams"][0];
    EXPECT_EQ(s["marks"].get<std::string>().size(), 500u);
    EXPECT_EQ(s["level"].size(), 250u);
    ASSERT_EQ(s["audio"].size(), 2u);
    // Every packet on time: the buffer changed nothing, so the player as
    // heard plays the audio of the one as sent, carried once.
    EXPECT_EQ(s["audio"][1].value("same_as", ""), "sent");
    EXPECT_FALSE(s["audio"][1].contains("uri"));
    const std::string uri = s["audio"][0]["uri"];
    ASSERT_EQ(uri.rfind("data:audio/ogg;base64,", 0), 0u) << uri.substr(0, 40);
    EXPECT_EQ(uri.substr(22, 6), "T2dnUw"); // OggS
    // Five seconds at 16 kbit/s: 10 kB, a third more in base64, and the
    // Ogg and Opus headers.
    EXPECT_GT(uri.size(), 8000u);
    EXPECT_LT(uri.size(), 20000u);
    const run_result info = run({"info", "--json", "--jitter-buffer", "adaptive", path("call.pcap")});
    ASSERT_EQ(info.status, 0) << info.err;
    EXPECT_EQ(s["info"], nlohmann::json::parse(info.out)["streams"][0]);
}

// A call that failed before any media has its page: the call, how it
// ended, its ladder, and no stream.
TEST_F(CaptureTest, ACallThatFailedBeforeMediaHasItsLadder) {
    const address a_sip = v4("10.0.0.1", 5060), b_sip = v4("10.0.0.2", 5060);
    const std::string from = "\"Alice\" <sip:alice@a>;tag=1", to = "<sip:bob@b>";
    write_pcap(path("busy.pcap"), DLT_EN10MB,
               {sip_udp_frame(kStart, a_sip, b_sip, sip_message("INVITE sip:bob@b SIP/2.0", "busy1", from, to, "1 INVITE")),
                sip_udp_frame(kStart + 300 * kMs, b_sip, a_sip, sip_message("SIP/2.0 486 Busy Here", "busy1", from, to + ";tag=2", "1 INVITE"))});
    const run_result r = run({"report", path("busy.pcap"), path("busy.html")});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<uint8_t> bytes = read_file(path("busy.html"));
    const std::string page(bytes.begin(), bytes.end());
    const std::size_t start = page.find("id=\"report-data\">") + std::strlen("id=\"report-data\">");
    const nlohmann::json data = nlohmann::json::parse(page.substr(start, page.find("</script>", start) - start));
    EXPECT_EQ(data["streams"].size(), 0u);
    ASSERT_EQ(data["calls"].size(), 1u);
    const nlohmann::json& call = data["calls"][0];
    EXPECT_TRUE(call["failed"].get<bool>());
    EXPECT_EQ(call["caller"], from.substr(0, from.find(';')));
    EXPECT_TRUE(contains(call["end"].get<std::string>(), "486")) << call["end"];
    ASSERT_EQ(call["messages"].size(), 2u);
    EXPECT_EQ(call["messages"][1]["label"], "486 Busy Here");
}

// A refused run names the file and the way past the limit, and leaves OUT
// as it was.
TEST_F(CaptureTest, ARefusedPageLeavesTheOldOneInPlace) {
    std::vector<sent_packet> packets = send(coded_frames("speech_male_librivox.g729", 20), 2, kA, kB, 0x1a2b3c4d, kStart, 1);
    std::vector<sent_packet> back = send(coded_frames("speech_male_librivox.g729", 20), 2, kB, kA, 0x55667788, kStart, 1);
    packets.insert(packets.end(), back.begin(), back.end());
    write_pcap(path("call.pcap"), DLT_EN10MB, on_link(link::ethernet, packets));
    std::vector<sent_packet> sparse = send(coded_frames("speech_male_librivox.g729", 20), 2, kA, kB, 0x1a2b3c4d, kStart, 1);
    send_after_silence(sparse, 310);
    write_pcap(path("sparse.pcap"), DLT_EN10MB, on_link(link::ethernet, sparse));
    // Thousands of calls that failed before any media, then the stream.
    std::vector<frame_record> crowd;
    const address a_sip = v4("10.0.0.1", 5060), b_sip = v4("10.0.0.2", 5060);
    for (int k = 0; k < 2000; ++k) {
        const std::string id = "crowd" + std::to_string(k);
        const int64_t at = kStart - 10 * kSecond + k * kMs;
        crowd.push_back(sip_udp_frame(at, a_sip, b_sip, sip_message("INVITE sip:bob@b SIP/2.0", id, "<sip:a@a>;tag=1", "<sip:bob@b>", "1 INVITE")));
        crowd.push_back(sip_udp_frame(at, b_sip, a_sip, sip_message("SIP/2.0 486 Busy Here", id, "<sip:a@a>;tag=1", "<sip:bob@b>;tag=2", "1 INVITE")));
    }
    for (const frame_record& f : on_link(link::ethernet, packets)) crowd.push_back(f);
    write_pcap(path("crowd.pcap"), DLT_EN10MB, crowd);
    write_file(path("cut.pcap"), std::vector<uint8_t>{0xd4, 0xc3, 0xb2});
    write_file(path("old.html"), std::vector<uint8_t>{'o', 'l', 'd'});
    expect_refused({
        {{"report", "--max-streams", "1", path("call.pcap"), path("old.html")},
         1,
         path("call.pcap") + ": holds 2 G.729 streams, more than the limit of 1 in one page (--max-streams N raises it)"},
        {{"report", path("sparse.pcap"), path("old.html")}, 1, "of audio for the page's players, more than the limit of"},
        {{"report", path("crowd.pcap"), path("old.html")},
         1,
         path("crowd.pcap") + ": holds 2000 calls, more than the limit of 100 in one page (--max-calls N raises it)"},
        {{"report", path("cut.pcap"), path("old.html")}, 1, path("cut.pcap") + ":"},
        {{"report", path("call.pcap"), path("old.png")}, 2, "report writes an HTML page"},
        {{"report", path("call.pcap"), "-"}, 2, "report writes a file"},
        {{"report", path("call.pcap")}, 2, "report takes two files"},
        {{"report", "--stream", "1a2b3c4d", path("call.pcap"), path("old.html")}, 2, "--stream is for"},
        {{"report", "--max-calls", "0", path("call.pcap"), path("old.html")}, 2, "--max-calls needs a number"},
    });
    const run_result raised = run({"report", "-q", "--max-audio", "700", path("sparse.pcap"), path("old.html")});
    EXPECT_EQ(raised.status, 0) << raised.err;
    EXPECT_GT(read_file(path("old.html")).size(), 1000u);
}

} // namespace
} // namespace g729::tool
