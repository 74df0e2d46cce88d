// Hostile captures through the g729a executable. Each capture below is a
// few hundred bytes to a few hundred kilobytes built the way an attacker
// would, and each shows one way a capture once turned against the person
// decoding it.
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
    expect_refused({{{"decode", "--mix", path("apart.wav"), path("apart.pcapng")},
                     1,
                     "s apart, more than the limit of 3600 s (--max-gap SECONDS raises it): not one call"}});
    EXPECT_EQ(files(), (std::set<std::string>{"far.pcapng", "far.wav", "apart.pcapng"}));
}

TEST_F(CaptureTest, SparsePacketsCannotAmplifyACaptureIntoHoursOfAudioOrFiles) {
    // Five one-frame packets five minutes apart, by timestamp and by clock:
    // 700 bytes that once decoded to 20 minutes.
    const std::vector<std::vector<uint8_t>> frames = coded_frames("speech_male_librivox.g729", 5);
    std::vector<rtp_spec> packets;
    for (uint32_t i = 0; i < 5; ++i) {
        rtp_spec p;
        p.time_ns = kStart + int64_t(i) * 300 * kSecond;
        p.source = kA;
        p.destination = kB;
        p.sequence = uint16_t(1 + i);
        p.timestamp = 1000 + i * 300 * 8000;
        p.payload = frames[i];
        packets.push_back(p);
    }
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
    expect_refused({{{"decode", "--max-files", "3", path("many.pcap"), path("many")},
                     1,
                     "would write 5 files, more than the limit of 3 (--max-files N raises it; --stream SSRC decodes one stream)"}});
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

    expect_refused({{{"decode", path("call.pcap"), path("out")},
                     1,
                     "g729a: " + path("out/" + std::string(kAtoB)) +
                         ": is a symbolic link: a name the tool makes up is never followed (remove the link)\n"}});
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
    // Not a capture: a coded stream there still needs -t.
    const run_result coded = run({"info", "-"}, "in.g729");
    EXPECT_EQ(coded.status, 2);
    EXPECT_TRUE(contains(coded.err, "'-' as IN of info is a packet capture or needs --format g729 or bit")) << coded.err; // read from standard input
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


} // namespace
} // namespace g729::tool
