// Captures made to turn the tool against the person reading them, built
// here byte by byte: RTCP that many streams share, reports from strangers,
// capture names that are only dots, packets hours apart, standard input
// that is not a capture, thousands of streams for one picture. Each shows
// the bound the tool keeps, measured on the real executable.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include "capture_writer.h"
#include "tool_test_support.h"

namespace g729::tool {
namespace {

using namespace capture_writer;
using testing::contains;
using testing::run_result;

const address kA = v4("10.0.0.1", 4000);
const address kB = v4("10.0.0.2", 5000);
constexpr uint32_t kSsrc = 0x1a2b3c4d;

// An RTCP sender (type 200) or receiver (201) report from `reporter` with
// one block about each of `about`.
std::vector<uint8_t> rtcp_report_packet(bool sender, uint32_t reporter, const std::vector<uint32_t>& about) {
    std::vector<uint8_t> out = {uint8_t(0x80 | about.size()), uint8_t(sender ? 200 : 201)};
    const std::size_t words = 1 + (sender ? 5 : 0) + 6 * about.size();
    put16(out, uint32_t(words));
    put32(out, reporter);
    if (sender) {
        put32(out, 0), put32(out, 0), put32(out, 0); // NTP and RTP time
        put32(out, 50), put32(out, 1000);            // packets, octets
    }
    for (uint32_t source : about) {
        put32(out, source);
        put32(out, 0x10000003); // 1/16 lost, 3 in all
        put32(out, 1000), put32(out, 40), put32(out, 0), put32(out, 0);
    }
    return out;
}

frame_record rtcp_record(int64_t time_ns, const address& from, const address& to, const std::vector<uint8_t>& rtcp) {
    return {time_ns, framed(link::ethernet, ip_udp(from, to, rtcp)), 0};
}

std::size_t count_of(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++n;
    return n;
}

std::size_t file_size(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? std::size_t(st.st_size) : 0;
}

class CaptureHostileTest : public testing::ToolTest {
protected:
    // The tool's own peak memory in MB and its standard output's size, for
    // the bounds a crafted capture must stay within.
    struct measured {
        int status = -1;
        double peak_mb = 0;
        std::size_t out_bytes = 0;
        std::string err;
    };
    measured measure(const std::vector<std::string>& args) const {
        const testing::memory_run r = testing::run_measuring_memory(args, path(".stdout"), path(".stderr"));
        const std::vector<uint8_t> err = testing::read_file(path(".stderr"));
        return {r.status, double(r.peak_kb) / 1024.0, file_size(path(".stdout")), std::string(err.begin(), err.end())};
    }
};

// 200 one-packet streams of one SSRC, from ports a pair apart, and 1000
// sender reports of 31 blocks each from that SSRC (846 KB): once every
// stream copied every report with all its blocks, 608 MB and 43 MB of text.
TEST_F(CaptureHostileTest, RtcpThatManyStreamsShareIsHeldOnceAndListedWithinBounds) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "peak memory under AddressSanitizer is the sanitizer's quarantine, not the tool's";
#endif
    const std::vector<std::vector<uint8_t>> frame = coded_frames("speech_male_librivox.g729", 1);
    std::vector<frame_record> records;
    for (uint16_t k = 0; k < 200; ++k) {
        rtp_spec p;
        p.time_ns = kStart + int64_t(k) * kMs;
        p.source = v4("10.0.0.1", uint16_t(4000 + 2 * k));
        p.destination = kB;
        p.ssrc = kSsrc;
        p.sequence = 1;
        p.payload = frame[0];
        records.push_back(rtp_frame(link::ethernet, p));
    }
    const std::vector<uint8_t> sr = rtcp_report_packet(true, kSsrc, std::vector<uint32_t>(31, kSsrc));
    for (int i = 0; i < 1000; ++i)
        records.push_back(rtcp_record(kStart + 200 * kMs + i * kMs, v4("10.0.0.1", 4001), v4("10.0.0.2", 5001), sr));
    write_pcap(path("amplify.pcap"), DLT_EN10MB, records);
    const std::size_t size = file_size(path("amplify.pcap"));
    EXPECT_GT(size, 800u * 1024);

    struct Case {
        const char* name;
        std::vector<std::string> args;
    };
    const Case cases[] = {
        {"info", {"info", path("amplify.pcap")}},
        {"info --json", {"info", "--json", path("amplify.pcap")}},
        {"decode", {"decode", "-q", path("amplify.pcap"), path("out")}},
        {"dump", {"dump", path("amplify.pcap")}},
        {"plot", {"plot", "-q", "--max-streams", "200", path("amplify.pcap"), path("amplify.svg")}},
    };
    for (const Case& c : cases) {
        const measured m = measure(c.args);
        std::printf("%s of a %zu-byte capture of 200 streams sharing one SSRC and 1000 reports of 31 blocks: peak %.1f MB, "
                    "%zu bytes of output\n",
                    c.name, size, m.peak_mb, m.out_bytes);
        EXPECT_EQ(m.status, 0) << c.name << ": " << m.err;
        EXPECT_LT(m.peak_mb, 150.0) << c.name;
        EXPECT_LT(m.out_bytes, 2u * 1024 * 1024) << c.name;
    }

    // The reports are the first stream's alone: sent from its port pair.
    const run_result text = run({"info", path("amplify.pcap")});
    ASSERT_EQ(text.status, 0) << text.err;
    EXPECT_EQ(count_of(text.out, "RTCP SR:"), 1000u);
    const nlohmann::json j = nlohmann::json::parse(run({"info", "--json", path("amplify.pcap")}).out);
    ASSERT_EQ(j["streams"].size(), 200u);
    std::size_t listed = 0;
    for (const nlohmann::json& s : j["streams"]) listed += s["rtcp_sender_reports"].size();
    EXPECT_EQ(listed, 1000u);
}

// What one stream lists is bounded too, and what is left out is said.
TEST_F(CaptureHostileTest, ReportsBeyondTheLimitAndRepeatedBlocksAreCountedNotListed) {
    std::vector<frame_record> records = on_link(link::ethernet, send(coded_frames("speech_male_librivox.g729", 100), 2, kA, kB, kSsrc, kStart, 1));
    const address rtcp_a = v4("10.0.0.1", 4001), rtcp_b = v4("10.0.0.2", 5001);
    for (int i = 0; i < 1500; ++i)
        records.push_back(rtcp_record(kStart + i * kMs / 2, rtcp_a, rtcp_b, rtcp_report_packet(true, kSsrc, {})));
    // A receiver that names the stream in every one of its 31 blocks.
    records.push_back(rtcp_record(kStart + 500 * kMs, rtcp_b, rtcp_a, rtcp_report_packet(false, 0x55667788, std::vector<uint32_t>(31, kSsrc))));
    write_pcap(path("many.pcap"), DLT_EN10MB, by_time(records));

    const run_result r = run({"info", "--json", path("many.pcap")});
    ASSERT_EQ(r.status, 0) << r.err;
    const nlohmann::json s = nlohmann::json::parse(r.out)["streams"][0];
    EXPECT_EQ(s["rtcp_sender_reports"].size(), 1000u);
    EXPECT_EQ(s.value("rtcp_reports_not_listed", -1), 500);
    EXPECT_EQ(s["rtcp_receiver_reports"].size(), 1u);
    EXPECT_EQ(s.value("rtcp_blocks_not_shown", -1), 30);

    const run_result text = run({"info", path("many.pcap")});
    EXPECT_TRUE(contains(text.out, "  RTCP:          500 more reports about the stream not listed (the limit is 1000 sender and "
                                   "receiver reports a stream)\n"))
        << text.out;
    EXPECT_TRUE(contains(text.out, "  RTCP:          30 more blocks about the stream in the same reports not shown (one a report)\n"))
        << text.out;

    // A capture keeps the first 10,000 reports and counts the packets after.
    for (int i = 0; i < 8549; ++i)
        records.push_back(rtcp_record(kStart + 600 * kMs + i * kMs / 10, rtcp_a, rtcp_b, rtcp_report_packet(true, kSsrc, {})));
    write_pcap(path("more.pcap"), DLT_EN10MB, by_time(records));
    const run_result more = run({"info", "--json", path("more.pcap")});
    ASSERT_EQ(more.status, 0) << more.err;
    EXPECT_EQ(nlohmann::json::parse(more.out).value("rtcp_packets_not_read", -1), 50);
    EXPECT_TRUE(contains(run({"info", path("more.pcap")}).out,
                         "RTCP:          50 packets after the first 10000 reports not read (the limit of reports kept from one capture)\n"));
}

// An SSRC is a random number each sender picks: a report that names it is
// the stream's only when it went between the stream's ends, on their RTP
// ports or the RTCP ports beside them, while the stream ran.
TEST_F(CaptureHostileTest, AnRtcpReportIsTheStreamsOnlyBetweenItsEndsWhileItRuns) {
    const std::vector<rtp_spec> call = send(coded_frames("speech_male_librivox.g729", 200), 2, kA, kB, kSsrc, kStart, 1);
    const int64_t end = call.back().time_ns;
    struct Case {
        const char* name;
        address from, to;
        int64_t time_ns;
        bool theirs;
    };
    const int64_t year = int64_t(365) * 86400 * kSecond;
    const Case cases[] = {
        {"from the receiver's RTCP port to the sender's, during the call", v4("10.0.0.2", 5001), v4("10.0.0.1", 4001),
         kStart + 500 * kMs, true},
        {"on the RTP ports themselves (RTCP multiplexed)", kB, kA, kStart + 500 * kMs, true},
        {"half a minute after the last packet", v4("10.0.0.2", 5001), v4("10.0.0.1", 4001), end + 30 * kSecond, true},
        {"between two hosts that are not the call's, during it", v4("10.9.9.9", 7001), v4("10.9.9.8", 7003), kStart + 500 * kMs,
         false},
        {"from the right host but another port", v4("10.0.0.2", 6001), v4("10.0.0.1", 4001), kStart + 500 * kMs, false},
        {"in the same direction as the stream", v4("10.0.0.1", 4001), v4("10.0.0.2", 5001), kStart + 500 * kMs, false},
        {"between the call's ports a year later", v4("10.0.0.2", 5001), v4("10.0.0.1", 4001), kStart + year, false},
        {"two minutes after the last packet", v4("10.0.0.2", 5001), v4("10.0.0.1", 4001), end + 120 * kSecond, false},
    };
    for (const Case& c : cases) {
        std::vector<frame_record> records = on_link(link::ethernet, call);
        records.push_back(rtcp_record(c.time_ns, c.from, c.to, rtcp_report_packet(false, 0x55667788, {kSsrc})));
        write_pcap(path("call.pcap"), DLT_EN10MB, by_time(records));
        const run_result r = run({"info", "--json", path("call.pcap")});
        ASSERT_EQ(r.status, 0) << c.name << ": " << r.err;
        const nlohmann::json j = nlohmann::json::parse(r.out);
        ASSERT_EQ(j["streams"].size(), 1u) << c.name;
        EXPECT_EQ(j["streams"][0]["rtcp_receiver_reports"].size(), c.theirs ? 1u : 0u) << c.name;
    }
    // A sender report is the stream's from the stream's own side.
    std::vector<frame_record> records = on_link(link::ethernet, call);
    records.push_back(rtcp_record(kStart + 100 * kMs, v4("10.0.0.1", 4001), v4("10.0.0.2", 5001), rtcp_report_packet(true, kSsrc, {})));
    records.push_back(rtcp_record(kStart + 200 * kMs, v4("10.7.0.1", 4001), v4("10.0.0.2", 5001), rtcp_report_packet(true, kSsrc, {})));
    write_pcap(path("sr.pcap"), DLT_EN10MB, by_time(records));
    const run_result sr = run({"info", "--json", path("sr.pcap")});
    ASSERT_EQ(sr.status, 0) << sr.err;
    EXPECT_EQ(nlohmann::json::parse(sr.out)["streams"][0]["rtcp_sender_reports"].size(), 1u);
}

// With several captures and -d DIR each is decoded into DIR/STEM; a name
// whose stem is "..", "." or nothing once put a stream into DIR's parent,
// replacing a file of the same name there, or straight into DIR.
TEST_F(CaptureHostileTest, NoCaptureNameMakesItsStreamsLeaveTheFolder) {
    ASSERT_EQ(mkdir(path("in").c_str(), 0777), 0);
    ASSERT_EQ(mkdir(path("out").c_str(), 0777), 0);
    const char* const names[] = {"...pcap", "..pcap", ".pcap", "....pcapng"};
    std::vector<std::string> args = {"decode", "-q"};
    std::vector<std::string> wavs;
    for (uint32_t i = 0; i < 4; ++i) {
        const std::string name = names[i];
        const std::vector<rtp_spec> packets = send(coded_frames("speech_male_librivox.g729", 20), 2, kA, kB, 0x100 + i, kStart, 1);
        if (name.size() > 7 && name.substr(name.size() - 7) == ".pcapng")
            write_pcapng(path("in/" + name), DLT_EN10MB, on_link(link::ethernet, packets));
        else
            write_pcap(path("in/" + name), DLT_EN10MB, on_link(link::ethernet, packets));
        args.push_back(path("in/" + name));
        char wav[64];
        std::snprintf(wav, sizeof wav, "10.0.0.1_4000-10.0.0.2_5000_%08x.wav", 0x100 + i);
        wavs.push_back(wav);
    }
    // A file in the folder's parent that once was replaced.
    testing::write_file(path(wavs[0]), {'k', 'e', 'e', 'p'});
    args.insert(args.end(), {"-d", path("out")});
    const run_result r = run(args);
    ASSERT_EQ(r.status, 0) << r.err;

    EXPECT_EQ(files(), (std::set<std::string>{"in", "out", wavs[0]}));
    EXPECT_EQ(testing::read_file(path(wavs[0])), (std::vector<uint8_t>{'k', 'e', 'e', 'p'}));
    const std::map<std::string, std::string> out = listing(path("out"));
    EXPECT_EQ(out, (std::map<std::string, std::string>{
                       {"___pcap", "folder"}, {"__pcap", "folder"}, {".pcap", "folder"}, {"____pcapng", "folder"}}));
    const char* const folders[] = {"___pcap", "__pcap", ".pcap", "____pcapng"};
    for (std::size_t i = 0; i < 4; ++i)
        EXPECT_EQ(listing(path("out/" + std::string(folders[i]))).count(wavs[i]), 1u) << folders[i];
}

// Three one-frame packets an hour apart (264 bytes): dump once printed
// 38 MB of lines for them, where decode and plot refuse.
TEST_F(CaptureHostileTest, DumpOfPacketsHoursApartTakesTheDecodesLimitOnAudio) {
    write_pcap(path("sparse.pcap"), DLT_EN10MB, on_link(link::ethernet, sparse_packets(3, 3600, kA, kB)));
    EXPECT_EQ(file_size(path("sparse.pcap")), 264u);

    const std::string tail = ", more than the limit of 600.6 s (0.17 h) (ten minutes and twenty times the audio its packets carry); "
                             "--max-audio SECONDS raises it";
    const run_result decode = run({"decode", path("sparse.pcap"), path("sparse.wav")});
    EXPECT_EQ(decode.status, 1);
    EXPECT_TRUE(contains(decode.err, tail)) << decode.err;
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"dump", path("sparse.pcap")}, std::vector<std::string>{"dump", "--stream", "1a2b3c4d", path("sparse.pcap")}}) {
        const run_result dump = run(args);
        EXPECT_EQ(dump.status, 1);
        EXPECT_TRUE(contains(dump.err, path("sparse.pcap") + ": would decode 7200.0 s (2.00 h) of audio to dump" + tail)) << dump.err;
        EXPECT_EQ(dump.out, "");
    }
    // The limit raised, the lines are printed.
    const run_result raised = run({"dump", "--max-gap", "1", path("sparse.pcap")});
    EXPECT_EQ(raised.status, 0) << raised.err;
    EXPECT_EQ(count_of(raised.out, " untransmitted c"), 200u) << raised.out.substr(0, 2000);
}

// Standard input is known by its first bytes, as a file is: a capture, or
// a .bit stream; only frames back to back need -t. What is neither is
// refused before it is copied anywhere: an endless stream of zeros once
// went to a temporary file until the disk was full.
TEST_F(CaptureHostileTest, StandardInputIsKnownByItsFirstBytesAndRefusedAtOnceWhenItIsNeither) {
    const std::vector<std::vector<uint8_t>> frames = coded_frames("speech_male_librivox.g729", 60);
    const std::vector<rtp_spec> packets = send(frames, 2, kA, kB, kSsrc, kStart, 1);
    write_pcap(path("call.pcap"), DLT_EN10MB, on_link(link::ethernet, packets));
    write_pcapng(path("call.pcapng"), DLT_EN10MB, on_link(link::ethernet, packets));
    std::vector<uint8_t> g729;
    for (const auto& f : frames) g729.insert(g729.end(), f.begin(), f.end());
    testing::write_file(path("call.g729"), g729);
    ASSERT_EQ(run({"convert", "-q", path("call.g729"), path("call.bit")}).status, 0);
    ASSERT_EQ(run({"decode", "-q", path("call.g729"), path("direct.wav")}).status, 0);
    const std::vector<int16_t> direct = testing::read_audio(path("direct.wav")).samples;

    const std::string tool = "'" G729A_TOOL_PATH "'";
    const std::string redirect = " >'" + path(".stdout") + "' 2>'" + path(".stderr") + "'";
    struct Case {
        const char* input;
        const char* args; // after the tool, with '-' for standard input
        bool works;
    };
    const Case cases[] = {
        {"call.pcap", "info -", true},
        {"call.pcapng", "info --json -", true},
        {"call.bit", "info -", true},
        {"call.pcap", "dump -", true},
        {"call.bit", "dump -", true},
        {"call.g729", "info -t g729 -", true},
        {"call.pcap", "decode -q - OUT/capture", true},
        {"call.pcapng", "decode -q --stream 1a2b3c4d - OUT/capture.wav", true},
        {"call.bit", "decode -q - OUT/bit.wav", true},
        {"call.g729", "decode -q -t g729 - OUT/g729.wav", true},
        {"call.pcap", "plot -q - OUT/capture.png", true},
        {"call.bit", "plot -q - OUT/bit.svg", true},
        {"call.g729", "info -", false},
        {"call.g729", "decode - OUT/refused.wav", false},
        {"call.g729", "dump -", false},
        {"call.g729", "plot - OUT/refused.png", false},
    };
    ASSERT_EQ(mkdir(path("out").c_str(), 0777), 0);
    for (const Case& c : cases) {
        std::string args = c.args;
        const std::size_t at = args.find("OUT/");
        if (at != std::string::npos) args.replace(at, 3, "'" + path("out") + "'");
        // Through a pipe, which cannot be read twice nor sought back.
        const run_result r = run_shell("cat '" + path(c.input) + "' | " + tool + " " + args + redirect);
        EXPECT_EQ(r.status, c.works ? 0 : 1) << c.input << " | g729a " << c.args << ": " << r.err;
        if (!c.works) {
            EXPECT_TRUE(contains(r.err, "standard input: neither a packet capture (.pcap, .pcapng) nor a .bit stream by its first "
                                        "bytes;"))
                << c.args << ": " << r.err;
        }
    }
    EXPECT_EQ(testing::read_audio(path("out/bit.wav")).samples, direct);
    EXPECT_EQ(testing::read_audio(path("out/g729.wav")).samples, direct);
    EXPECT_EQ(testing::read_audio(path("out/capture.wav")).samples, direct);
    EXPECT_EQ(testing::read_audio(path("out/capture/10.0.0.1_4000-10.0.0.2_5000_1a2b3c4d.wav")).samples, direct);
    EXPECT_GT(testing::read_file(path("out/capture.png")).size(), 1000u);
    EXPECT_GT(testing::read_file(path("out/bit.svg")).size(), 1000u);
    EXPECT_EQ(listing(path("out")).count("refused.wav") + listing(path("out")).count("refused.png"), 0u);
    // Nothing at all tells nothing either: without -t it is refused as
    // unknown input (it once was bad usage, before the bytes were looked at).
    const run_result empty = run({"decode", "-", path("out/empty.wav")});
    EXPECT_EQ(empty.status, 1) << empty.err;
    EXPECT_TRUE(contains(empty.err, "standard input: neither a packet capture")) << empty.err;
    // A .bit stream redirected from a file reads as one from a pipe.
    const run_result from_file = run({"info", "-"}, "call.bit");
    EXPECT_EQ(from_file.status, 0) << from_file.err;
    EXPECT_TRUE(contains(from_file.out, "frames:               60\n")) << from_file.out;

    // Zeros without end from the device, and 200 MB of them through a pipe
    // for each command that may read a capture: refused after the first
    // bytes. The timeout and the finite pipe are only there so that a
    // regression fails rather than hangs or fills the disk.
    std::vector<std::string> lines = {"timeout 10 " + tool + " info - </dev/zero" + redirect};
    for (const std::string& args :
         std::vector<std::string>{"info -", "dump -", "decode - '" + path("zero.wav") + "'", "plot - '" + path("zero.png") + "'"})
        lines.push_back("head -c 200000000 /dev/zero | " + tool + " " + args + redirect);
    for (const std::string& line : lines) {
        const run_result r = run_shell(line);
        EXPECT_EQ(r.status, 1) << line << ": " << r.err;
        EXPECT_TRUE(contains(r.err, "standard input: neither a packet capture (.pcap, .pcapng) nor a .bit stream by its first bytes;"))
            << line << ": " << r.err;
    }
    EXPECT_EQ(files().count("zero.wav") + files().count("zero.png"), 0u);
}

// Twenty thousand one-packet streams (1.8 MB) once made a 295 MB SVG in
// 631 MB, and above about a hundred a PNG failed with cairo's bare
// "invalid value": the streams are counted before anything is drawn.
TEST_F(CaptureHostileTest, APictureHasALimitOnStreamsCheckedBeforeDrawing) {
    const std::vector<std::vector<uint8_t>> two = coded_frames("speech_male_librivox.g729", 2);
    std::vector<std::vector<uint8_t>> frame = {two[0]};
    frame[0].insert(frame[0].end(), two[1].begin(), two[1].end());
    auto streams = [&](uint32_t count) {
        std::vector<frame_record> records;
        for (uint32_t k = 0; k < count; ++k) {
            rtp_spec p;
            p.time_ns = kStart + int64_t(k) * kMs;
            p.source = v4("10.0.0.1", uint16_t(1024 + k % 60000));
            p.destination = v4("10.0.0.2", uint16_t(5000 + k / 60000));
            p.ssrc = 0x10000 + k;
            p.sequence = 1;
            p.payload = frame[0];
            records.push_back(rtp_frame(link::ethernet, p));
        }
        return records;
    };
    write_pcap(path("many.pcap"), DLT_EN10MB, streams(20000));
    const std::size_t size = file_size(path("many.pcap"));
    EXPECT_GT(size, 1700u * 1000);

#if !defined(__SANITIZE_ADDRESS__)
    for (const char* picture : {"many.svg", "many.png", "many.pdf"}) {
        const measured m = measure({"plot", path("many.pcap"), path(picture)});
        std::printf("plot of a %zu-byte capture of 20000 streams into %s: status %d, peak %.1f MB, %zu bytes of picture\n", size,
                    picture, m.status, m.peak_mb, file_size(path(picture)));
        EXPECT_EQ(m.status, 1) << m.err;
        EXPECT_TRUE(contains(m.err, path("many.pcap") + ": holds 20000 G.729 streams, more than the limit of 100 in one picture "
                                                        "(--max-streams N raises it)"))
            << m.err;
        EXPECT_LT(m.peak_mb, 300.0);
        EXPECT_EQ(file_size(path(picture)), 0u);
    }
#endif

    // Raised, a PNG too tall for cairo is refused by name; SVG draws it.
    write_pcap(path("tall.pcap"), DLT_EN10MB, streams(150));
    const run_result png = run({"plot", "--max-streams", "150", path("tall.pcap"), path("tall.png")});
    EXPECT_EQ(png.status, 1);
    EXPECT_TRUE(contains(png.err, path("tall.png") + ": a PNG is at most 32767 pixels high, and 150 streams need ")) << png.err;
    EXPECT_TRUE(contains(png.err, "write .svg or .pdf instead")) << png.err;
    EXPECT_FALSE(contains(png.err, "invalid value")) << png.err;
    const run_result svg = run({"plot", "-q", "--max-streams", "150", path("tall.pcap"), path("tall.svg")});
    EXPECT_EQ(svg.status, 0) << svg.err;
    EXPECT_LT(file_size(path("tall.svg")), 20u * 1024 * 1024);
    const run_result limit = run({"plot", "--max-streams", "149", path("tall.pcap"), path("tall.pdf")});
    EXPECT_EQ(limit.status, 1);
    EXPECT_TRUE(contains(limit.err, "holds 150 G.729 streams, more than the limit of 149 in one picture")) << limit.err;
    expect_usage_errors({{"plot", "--max-streams", "0", path("tall.pcap"), path("tall.svg")},
                         {"info", "--max-streams", "5", path("tall.pcap")},
                         {"decode", "--max-streams", "5", path("tall.pcap"), path("tall")}});
}

} // namespace
} // namespace g729::tool
