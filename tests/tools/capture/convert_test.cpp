// convert of a packet capture: a stream's G.729 taken out as it came, into
// .bit with its timeline kept (or .g729 when nothing is missing), read back
// by the tool's own decode and info.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "tests/tools/capture/capture_writer.h"
#include "tools/formats/coded_stream.h"

namespace g729::tool {
namespace {

using namespace testing;
using namespace capture_writer;

// Sequence numbers in the order the sender sent the packets (by time), as
// one RTP stream numbers its G.729 and its telephone events together.
std::vector<sent_packet> numbered(std::vector<sent_packet> packets, uint16_t first) {
    std::stable_sort(packets.begin(), packets.end(), [](const sent_packet& a, const sent_packet& b) { return a.time_ns < b.time_ns; });
    for (sent_packet& p : packets) p.sequence = first++;
    return packets;
}

// The frames of a .bit file, as info counts them.
std::size_t read_bit_frames(const std::string& file) {
    const std::vector<uint8_t> bytes = read_file(file);
    const coded_stream s = read_bit(bytes.data(), bytes.size());
    EXPECT_FALSE(s.fault) << file;
    return s.frames.size();
}

// Speech, a SID frame and a pause not sent, speech again, a SID frame and a
// shorter pause, speech to the end.
std::vector<std::vector<uint8_t>> call_with_pauses() {
    const std::vector<std::vector<uint8_t>> speech = coded_frames("speech_male_librivox.g729", 200);
    std::vector<std::vector<uint8_t>> frames(speech.begin(), speech.begin() + 80);
    frames.push_back({0xa5, 0xc3});
    frames.insert(frames.end(), 47, std::vector<uint8_t>{});
    frames.insert(frames.end(), speech.begin() + 80, speech.begin() + 140);
    frames.push_back({0x5a, 0x3c});
    frames.insert(frames.end(), 23, std::vector<uint8_t>{});
    frames.insert(frames.end(), speech.begin() + 140, speech.end());
    return frames;
}

TEST_F(CaptureTest, ConvertedBitDecodesAsTheCaptureDoes) {
    const std::vector<sent_packet> clean = send(call_with_pauses(), 2, kA, kB, 0x1a2b3c4d, kStart, 0);
    // A key pressed in the second pause, in the stream's own SSRC.
    std::vector<sent_packet> with_key = clean;
    const std::vector<sent_packet> key = key_press(clean[0], 101, 5, 10, kStart + 1900 * kMs, 0x10000000u + 190 * 80, 160, 0);
    with_key.insert(with_key.end(), key.begin(), key.end());
    const std::vector<sent_packet> sent = numbered(with_key, 65500);
    struct Case {
        const char* name;
        std::vector<std::string> options;
        std::function<std::vector<sent_packet>(std::vector<sent_packet>)> network;
    };
    const Case cases[] = {
        {"as sent", {}, [](std::vector<sent_packet> p) { return p; }},
        {"loss, reordering and duplicates", {},
         [](std::vector<sent_packet> p) {
             std::vector<sent_packet> out;
             for (std::size_t i = 0; i < p.size(); ++i) {
                 if ((i % 17 == 5 && i + 1 < p.size()) || i == 40 || i == 41) continue; // lost, once two in a row
                 out.push_back(p[i]);
                 if (i % 13 == 2) out.push_back(p[i]);       // duplicated at once
                 if (i == 70) out.push_back(p[60]);          // a late copy
             }
             for (std::size_t i = 8; i + 1 < out.size(); i += 11) std::swap(out[i], out[i + 1]);
             return out;
         }},
        {"late for a 20 ms jitter buffer", {"--jitter-buffer", "20"},
         [](std::vector<sent_packet> p) {
             for (std::size_t i = 10; i < p.size(); i += 9) p[i].time_ns += 45 * kMs;
             return p;
         }},
    };
    for (const Case& c : cases) {
        write_pcap(path("call.pcap"), DLT_EN10MB, on_link(link::ethernet, c.network(sent)));
        std::vector<std::string> convert = {"convert", path("call.pcap"), path("call.bit")};
        std::vector<std::string> decode = {"decode", path("call.pcap"), path("capture.wav")};
        convert.insert(convert.end(), c.options.begin(), c.options.end());
        decode.insert(decode.end(), c.options.begin(), c.options.end());
        const run_result r = run(convert);
        ASSERT_EQ(r.status, 0) << c.name << ": " << r.err;
        ASSERT_EQ(run(decode).status, 0) << c.name;
        const run_result b = run({"decode", path("call.bit"), path("bit.wav")});
        ASSERT_EQ(b.status, 0) << c.name << ": " << b.err;
        const std::vector<int16_t> from_capture = wav_samples("capture.wav");
        EXPECT_EQ(from_capture.size(), 272u * 80u) << c.name << ": the whole timeline";
        EXPECT_EQ(wav_samples("bit.wav"), from_capture) << c.name;
        // Marking bad frames decoded changes nothing: an erasure carries no bits.
        ASSERT_EQ(run({"decode", "--bad-frames=decode", path("call.bit"), path("bit.wav")}).status, 0) << c.name;
        EXPECT_EQ(wav_samples("bit.wav"), from_capture) << c.name;

        // The .bit says which frames were erased and which were not sent.
        std::vector<std::string> info = {"info", "--json", path("call.pcap")};
        info.insert(info.end(), c.options.begin(), c.options.end());
        const run_result i = run(info);
        const run_result bi = run({"info", "--json", path("call.bit")});
        ASSERT_EQ(bi.status, 0) << c.name << ": " << bi.err;
        const nlohmann::json stream = nlohmann::json::parse(i.out)["streams"][0];
        const nlohmann::json bit = nlohmann::json::parse(bi.out);
        // Lost, late and skipped: what was sent and not played.
        const std::size_t erased = stream["timeline_frames"].get<std::size_t>() - stream["dtx_frames"].get<std::size_t>() -
                                   stream["speech_frames"].get<std::size_t>() - stream["sid_frames"].get<std::size_t>();
        EXPECT_EQ(bit["frames"], stream["timeline_frames"]) << c.name;
        EXPECT_EQ(bit["speech_frames"], stream["speech_frames"]) << c.name;
        EXPECT_EQ(bit["sid_frames"], stream["sid_frames"]) << c.name;
        EXPECT_EQ(bit["bad_frames"].get<std::size_t>(), erased) << c.name;
        EXPECT_EQ(bit["untransmitted_frames"].get<std::size_t>(), erased + stream["dtx_frames"].get<std::size_t>()) << c.name;
        EXPECT_GT(erased, 0u) << c.name << ": the key press's packets at least";
        EXPECT_TRUE(contains(r.err, "call.bit: 0x1a2b3c4d 10.0.0.1:4000 -> 10.0.0.2:5000: 272 frames")) << c.name << ": " << r.err;
    }
}

TEST_F(CaptureTest, ConvertChoosesStreamsAsDecodeDoes) {
    const std::vector<std::vector<uint8_t>> frames = talk();
    std::vector<sent_packet> packets = send(frames, 2, kA, kB, 0x1a2b3c4d, kStart, 1);
    const std::vector<sent_packet> back = send(frames, 2, kB, kA, 0x55667788, kStart + 5 * kMs, 1);
    packets.insert(packets.end(), back.begin(), back.end());
    write_pcap(path("call.pcap"), DLT_EN10MB, by_time(on_link(link::ethernet, packets)));
    write_file(path("keep.bit"), {1, 2, 3});

    expect_refused({
        {{"convert", path("call.pcap"), path("one.bit")}, 1, "holds 2 G.729 streams: give a directory as OUT, or choose one with --stream SSRC"},
        {{"convert", "--stream", "99", path("call.pcap"), path("one.bit")}, 1, "no G.729 stream has SSRC 0x00000099"},
        {{"convert", path("call.pcap"), path("one.wav")}, 1, "convert of a capture writes a .bit or .g729 file, or a directory of .bit files"},
        {{"convert", "--max-files", "1", path("call.pcap"), path("streams")}, 1, "would write 2 files, more than the limit of 1"},
        {{"convert", path("call.pcap")}, 2, "convert of a capture takes two files"},
        {{"convert", path("call.pcap"), "-"}, 2, "not '-'"},
        {{"convert", "--mix", path("m.wav"), path("call.pcap"), path("one.bit")}, 2, "--mix is for decode"},
    });

    // One stream, as .bit and as .g729 (nothing is missing but the SID frame
    // at its end): the frames as sent.
    ASSERT_EQ(run({"convert", "--stream", "55667788", path("call.pcap"), path("back.g729")}).status, 0);
    std::vector<uint8_t> expected;
    for (const auto& f : frames) expected.insert(expected.end(), f.begin(), f.end());
    EXPECT_EQ(read_file(path("back.g729")), expected);
    ASSERT_EQ(run({"convert", "--stream", "0x55667788", path("call.pcap"), path("back.bit")}).status, 0);
    const run_result g = run({"convert", path("back.bit"), path("again.g729")});
    ASSERT_EQ(g.status, 0) << g.err;
    EXPECT_EQ(read_file(path("again.g729")), expected);

    // Every stream into a folder, named as decode names them; a folder given
    // twice keeps other files.
    for (int pass = 0; pass < 2; ++pass) {
        const run_result r = run({"convert", path("call.pcap"), path("streams")});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(listing(path("streams")).size(), std::size_t(2 + pass));
        EXPECT_FALSE(read_file(path("streams/10.0.0.1_4000-10.0.0.2_5000_1a2b3c4d.bit")).empty());
        EXPECT_EQ(read_file(path("streams/10.0.0.2_5000-10.0.0.1_4000_55667788.bit")), read_file(path("back.bit")));
        write_file(path("streams/mine.txt"), {'x'});
    }
    EXPECT_EQ(read_file(path("keep.bit")), (std::vector<uint8_t>{1, 2, 3}));
}

TEST_F(CaptureTest, ConvertRefusesWhatItCannotWriteAndKeepsWhatItCan) {
    const std::vector<sent_packet> pauses = send(call_with_pauses(), 2, kA, kB, 0x1a2b3c4d, kStart, 1);
    write_pcap(path("pauses.pcap"), DLT_EN10MB, on_link(link::ethernet, pauses));
    std::vector<sent_packet> lossy = send(talk(), 2, kA, kB, 0x1a2b3c4d, kStart, 1);
    lossy.erase(lossy.begin() + 10);
    write_pcap(path("lossy.pcap"), DLT_EN10MB, on_link(link::ethernet, lossy));
    write_pcap(path("sparse.pcap"), DLT_EN10MB, on_link(link::ethernet, sparse_packets(3, 3600, kA, kB)));
    write_file(path("out.g729"), {9, 9});
    write_file(path("out.bit"), {7});
    expect_refused({
        {{"convert", path("pauses.pcap"), path("out.g729")}, 1,
         "0x1a2b3c4d has 70 frames missing (lost, late, untransmitted or unusable) and 2 SID frames before the end, which .g729 "
         "cannot hold without moving what follows; write .bit to keep the timeline"},
        {{"convert", path("lossy.pcap"), path("out.g729")}, 1, "0x1a2b3c4d has 2 frames missing"},
        {{"convert", path("sparse.pcap"), path("out.bit")}, 1, "would write 7200.0 s (2.00 h) of audio, more than the limit of"},
        {{"convert", "--max-gap", "5", "--max-audio", "5", path("sparse.pcap"), path("out.bit")}, 1,
         "more than the limit of 5.0 s"},
    });
    // The same limit as decode; raised, the hours of silence are erasures of
    // 4 bytes each.
    const run_result r = run({"convert", "--max-gap", "5", path("sparse.pcap"), path("out.bit")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(r.err, "shortened")) << r.err;
    const run_result i = run({"info", "--json", "--max-gap", "5", path("sparse.pcap")});
    const std::size_t timeline = nlohmann::json::parse(i.out)["streams"][0]["timeline_frames"];
    EXPECT_EQ(timeline, 3u + 2u * 500u);
    EXPECT_EQ(read_file(path("out.bit")).size(), 3u * 164u + (timeline - 3u) * 4u);

    // A capture whose last packet is cut short: the packets before it.
    std::vector<uint8_t> cut = read_file(path("lossy.pcap"));
    cut.resize(cut.size() - 5);
    write_file(path("cut.pcap"), cut);
    const run_result k = run({"convert", path("cut.pcap"), path("cut.bit")});
    ASSERT_EQ(k.status, 0) << k.err;
    EXPECT_TRUE(contains(k.err, "; converted the packets before it")) << k.err;
    EXPECT_EQ(read_bit_frames(path("cut.bit")), 120u) << "122 frames sent, 2 lost within, the last packet's 2 cut";
}

} // namespace
} // namespace g729::tool
