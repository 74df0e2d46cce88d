// Hostile captures through the g729a executable. Each capture below is a
// few hundred bytes to a few hundred kilobytes built the way an attacker
// would, and each shows one way a capture once turned against the person
// decoding it: times centuries apart, packets hours apart, links in the
// output folder; then RTCP that many streams share, reports from strangers,
// capture names that are only dots, standard input that is not a capture,
// thousands of streams for one picture. Each shows the bound the tool
// keeps, measured on the real executable.
#include <gtest/gtest.h>

#include <cairo.h>
#include <nlohmann/json.hpp>

#include <dirent.h>
#include <sys/stat.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
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

TEST_F(CaptureTest, CaptureTimesCenturiesApartOrPast2262NeitherOverflowNorFillTheDisk) {
    const std::vector<sent_packet> a = send(coded_frames("speech_male_librivox.g729", 50), 2, kA, kB, 0x1a2b3c4d, kStart, 1);
    const std::vector<sent_packet> b = send(coded_frames("speech_female_espeak.g729", 50), 2, kB, kA, 0x5e6f7a8b, kStart, 1);
    constexpr uint64_t kYearMicros = uint64_t(365.25 * 86400) * 1000000;
    auto capture_with_b_at = [&](uint64_t micros_after_a) {
        std::vector<frame_record> records = on_link(link::ethernet, a);
        for (const sent_packet& p : b) {
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
    expect_refused({{{"decode", "--mix", path("apart.wav"), path("apart.pcapng")},
                     1,
                     "s apart, more than the limit of 3600 s (--max-gap SECONDS raises it): not one call"}});
    EXPECT_EQ(files(), (std::set<std::string>{"far.pcapng", "far.wav", "apart.pcapng"}));
}

TEST_F(CaptureTest, SparsePacketsCannotAmplifyACaptureIntoHoursOfAudioOrFiles) {
    // Five one-frame packets five minutes apart, by timestamp and by clock:
    // 700 bytes that once decoded to 20 minutes.
    const std::vector<sent_packet> packets = sparse_packets(5, 300, kA, kB);
    write_pcap(path("sparse.pcap"), DLT_EN10MB, on_link(link::ethernet, packets));

    expect_refused({{{"decode", path("sparse.pcap"), path("sparse.wav")},
                     1,
                     "would write 1200.0 s (0.33 h) of audio, more than the limit of 601.0 s (0.17 h) (ten minutes and twenty "
                     "times the audio its packets carry); --max-audio SECONDS raises it"}});

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
    std::vector<sent_packet> claims = packets;
    for (std::size_t i = 0; i < claims.size(); ++i) claims[i].time_ns = kStart + int64_t(i) * 10 * kMs;
    write_pcap(path("claims.pcap"), DLT_EN10MB, on_link(link::ethernet, claims));
    const run_result clock = run({"decode", path("claims.pcap"), path("claims.wav")});
    ASSERT_EQ(clock.status, 0) << clock.err;
    EXPECT_EQ(wav_samples("claims.wav").size(), 5u * 80);

    // Many small streams: no more files than the limit.
    std::vector<sent_packet> many;
    for (uint32_t s = 0; s < 5; ++s)
        for (sent_packet p : send(coded_frames("speech_male_librivox.g729", 4), 2, kA, kB, 0x100 + s, kStart, 1)) many.push_back(p);
    write_pcap(path("many.pcap"), DLT_EN10MB, by_time(on_link(link::ethernet, many)));
    expect_refused({{{"decode", "--max-files", "3", path("many.pcap"), path("many")},
                     1,
                     "would write 5 files, more than the limit of 3 (--max-files N raises it; --stream SSRC decodes one stream)"}});
    ASSERT_EQ(run({"decode", path("many.pcap"), path("many")}).status, 0);
    EXPECT_EQ(listing(path("many")).size(), 5u);
}

TEST_F(CaptureTest, ALatePacketOrAStaleDuplicateLeavesTheCallAsSent) {
    // 8 s, two frames a packet, the sequence numbers wrapping on the way.
    const std::vector<std::vector<uint8_t>> frames = coded_frames("speech_male_espeak.g729", 800);
    const std::vector<sent_packet> sent = send(frames, 2, kA, kB, 0x1a2b3c4d, kStart, 65300);
    std::vector<sent_packet> captured = sent;
    captured[100].time_ns = sent[350].time_ns + kMs;  // 250 packets (5 s) late
    sent_packet stale = sent[50];                         // a copy from 5 s before
    stale.time_ns = sent[300].time_ns + kMs;
    captured.push_back(stale);
    sent_packet stray = sent[200];                        // a number from nowhere
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
    std::vector<sent_packet> packets = send(coded_frames("speech_male_librivox.g729", 50), 2, kA, kB, 0x1a2b3c4d, kStart, 1);
    std::vector<sent_packet> long_one = send(coded_frames("speech_male_espeak.g729", 800), 2, kB, kA, 0x5e6f7a8b, kStart, 1);
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
    std::vector<sent_packet> g729 = send(frames, 2, kA, kB, 0x1a2b3c4d, kStart + 100 * kMs, 1);
    for (sent_packet& p : g729) p.payload_type = 96;
    // Another call, whose SDP is not in the capture, sends G.711 as 96.
    std::vector<sent_packet> g711 = send(frames, 2, v4("10.0.0.7", 9000), v4("10.0.0.8", 9002), 0x77, kStart + 100 * kMs, 1);
    for (sent_packet& p : g711) {
        p.payload_type = 96;
        p.payload.assign(160, 0xD5);
    }
    const std::string sdp = "v=0\r\no=- 1 1 IN IP4 10.0.0.2\r\ns=-\r\nc=IN IP4 10.0.0.2\r\nt=0 0\r\n"
                            "m=audio 5000 RTP/AVP 96\r\na=rtpmap:96 G729/8000\r\n";
    std::vector<frame_record> records = {
        {kStart, framed(link::ethernet, ip_udp(v4("10.0.0.2", 5060), v4("10.0.0.1", 5060), std::vector<uint8_t>(sdp.begin(), sdp.end()))), 0}};
    for (const std::vector<sent_packet>* s : {&g729, &g711}) {
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

    expect_refused({{{"decode", path("call.pcap"), path("out")},
                     1,
                     "g729a: " + path("out/" + std::string(kAtoB)) +
                         ": is a symbolic link: a name the tool makes up is never followed (remove the link)\n"}});
    EXPECT_EQ(read_file(path("precious")), (std::vector<uint8_t>{'m', 'i', 'n', 'e'}));
    EXPECT_EQ(listing(path("out")), before);
}

TEST_F(CaptureTest, APayloadWithBytesAfterItsFramesDecodesTheFramesAndWarns) {
    const std::vector<std::vector<uint8_t>> frames = coded_frames("speech_male_librivox.g729", 40);
    std::vector<sent_packet> packets = send(frames, 1, kA, kB, 0x1a2b3c4d, kStart, 1);
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
    std::vector<sent_packet> a = send(male, 2, kA, kB, 0x1a2b3c4d, kStart, 1);
    const std::vector<sent_packet> b = send(coded_frames("speech_female_espeak.g729", 100), 2, kB, kA, 0x5e6f7a8b, kStart, 1);
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
    expect_refused({{{"info", "--rate", "16000", path("call.pcap")}, 2, "--rate is for decode and roundtrip"},
                    {{"decode", "--float", "--stream", "1a2b3c4d", path("call.pcap"), path("x.raw")}, 2, "--float"}});
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
    const std::vector<sent_packet> g729 = send(frames, 2, kA, kB, 0x1a2b3c4d, kStart, 1);
    write_pcap(path("alone.pcap"), DLT_EN10MB, on_link(link::ethernet, g729));

    pcap_t* dead = pcap_open_dead(DLT_EN10MB, 65535);
    pcap_dumper_t* dumper = pcap_dump_open(dead, path("trunk.pcap").c_str());
    ASSERT_NE(dumper, nullptr);
    std::vector<sent_packet> others;
    for (uint32_t s = 0; s < 20; ++s) {
        sent_packet p;
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
        for (sent_packet& o : others) {
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
    // Not a capture: a coded stream there still needs -t.
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
    for (const std::string command : {"decode", "convert"}) {
        const run_result r = run({command, path("in.g729"), path("call.pcap"), "-d", path("out")});
        EXPECT_EQ(r.status, 1);
        EXPECT_FALSE(contains(r.err, "unknown extension")) << r.err;
        EXPECT_TRUE(contains(r.err, path("call.pcap") + ": a packet capture holds streams, not one file's frames: " + command +
                                        " it on its own (g729a " + command + " " + path("call.pcap") + " DIR)"))
            << r.err;
    }
}


// --- the second round: RTCP, names, standard input, pictures -----------------

constexpr uint32_t kSsrc = 0x1a2b3c4d;

// An RTCP sender (type 200) or receiver (201) report from `reporter` with
// one block about each of `about`.
std::vector<uint8_t> rtcp_report_packet(bool sender, uint32_t reporter, const std::vector<uint32_t>& about) {
    std::vector<report_block> blocks;
    for (uint32_t source : about) blocks.push_back({source, 0x10, 3, 1000, 40, 0, 0}); // 1/16 lost, 3 in all
    return rtcp_report(reporter, blocks, sender ? std::optional<sender_info>(sender_info{50, 1000, std::nullopt}) : std::nullopt);
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

    // The receiver reports that info --json ties to the one stream of
    // `records`, written to the capture NAME; SIZE_MAX when it fails or
    // finds another number of streams.
    std::size_t receiver_reports_of_the_stream(const std::vector<frame_record>& records, const std::string& name) {
        write_pcap(path(name), DLT_EN10MB, by_time(records));
        const run_result r = run({"info", "--json", path(name)});
        EXPECT_EQ(r.status, 0) << r.err;
        if (r.status != 0) return SIZE_MAX;
        const nlohmann::json streams = nlohmann::json::parse(r.out)["streams"];
        EXPECT_EQ(streams.size(), 1u);
        return streams.size() == 1 ? streams[0]["rtcp_receiver_reports"].size() : SIZE_MAX;
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
        sent_packet p;
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
        {"info --packets --json", {"info", "--packets", "--json", path("amplify.pcap")}},
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
    const std::vector<sent_packet> call = send(coded_frames("speech_male_librivox.g729", 200), 2, kA, kB, kSsrc, kStart, 1);
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
        SCOPED_TRACE(c.name);
        std::vector<frame_record> records = on_link(link::ethernet, call);
        records.push_back(rtcp_record(c.time_ns, c.from, c.to, rtcp_report_packet(false, 0x55667788, {kSsrc})));
        EXPECT_EQ(receiver_reports_of_the_stream(records, "call.pcap"), c.theirs ? 1u : 0u);
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

// SDP's a=rtcp moves a receiver's RTCP to another port; a capture that
// offers one receiver again and again, each time with another RTCP port,
// would give its streams thousands of ends to look for reports between.
// The first 16 ports a receiver is offered are kept; reports on the others
// are not its streams'.
TEST_F(CaptureHostileTest, AReceiverOfferedThousandsOfRtcpPortsKeepsTheFirstFew) {
    std::vector<frame_record> records = on_link(link::ethernet, send(coded_frames("speech_male_librivox.g729", 200), 2, kA, kB, kSsrc, kStart, 1));
    for (int k = 0; k < 3000; ++k) {
        const std::string sdp = sdp_body(kB) + "a=rtcp:" + std::to_string(10000 + k) + "\r\n";
        records.push_back(sip_udp_frame(kStart - kSecond + k * kMs / 10, v4("10.0.0.2", 5060), v4("10.0.0.1", 5060),
                                        sip_message("SIP/2.0 200 OK", "offers@10.0.0.1", "<sip:a@10.0.0.1>;tag=1", "<sip:b@10.0.0.2>;tag=2",
                                                    std::to_string(k + 1) + " INVITE", sdp)));
    }
    struct Case {
        const char* name;
        uint16_t port;
        bool theirs;
    };
    const Case cases[] = {{"the first port offered", 10000, true},
                          {"the sixteenth", 10015, true},
                          {"the seventeenth", 10016, false},
                          {"the last", 12999, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<frame_record> with = records;
        with.push_back(rtcp_record(kStart + 500 * kMs, v4("10.0.0.2", c.port), v4("10.0.0.1", 4001),
                                   rtcp_report_packet(false, 0x55667788, {kSsrc})));
        EXPECT_EQ(receiver_reports_of_the_stream(with, "offers.pcap"), c.theirs ? 1u : 0u);
    }
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
        const std::vector<sent_packet> packets = send(coded_frames("speech_male_librivox.g729", 20), 2, kA, kB, 0x100 + i, kStart, 1);
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
    const std::vector<sent_packet> packets = send(frames, 2, kA, kB, kSsrc, kStart, 1);
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
            sent_packet p;
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
