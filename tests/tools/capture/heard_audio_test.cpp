// What the listener hears through a modelled jitter buffer, decoded by the
// real g729a from captures built here: the adaptive buffer's changes of
// delay within a talk spurt drop or repeat the quietest frames near them,
// the decoder still decodes every frame it got, the output length moves
// by exactly those frames; without a buffer, or with a fixed one, the
// output is the sender's timeline with late packets concealed. Changes at
// every few packets stay bounded.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "tests/tools/capture/capture_info.h"
#include "tests/tools/capture/capture_writer.h"
#include "tests/tools/tool_test_support.h"
#include "tools/capture/jitter_buffer.h"

namespace g729::tool {
namespace {

using testing::contains;
using testing::run_result;
using namespace capture_writer;

const address kCaller = v4("10.0.0.1", 4000);
const address kCallee = v4("10.0.0.2", 5000);

constexpr std::size_t kPeriod = 10; // frames of the loud/quiet pattern

// Frames whose place in the pattern is quiet: two of every ten.
bool quiet_slot(std::size_t frame) { return frame % kPeriod == 4 || frame % kPeriod == 5; }

// `frames` frames of a loud vowel-like tone, silent in the quiet slots,
// coded by the codec.
std::vector<std::vector<uint8_t>> patterned_frames(std::size_t frames) {
    std::vector<int16_t> pcm(frames * kFrame);
    for (std::size_t n = 0; n < pcm.size(); ++n) {
        if (quiet_slot(n / kFrame)) continue;
        const double t = double(n) / 8000.0;
        pcm[n] = int16_t(std::lround(4000.0 * std::sin(2 * M_PI * 220.0 * t) + 2000.0 * std::sin(2 * M_PI * 660.0 * t) +
                                     1000.0 * std::sin(2 * M_PI * 1320.0 * t)));
    }
    const std::vector<uint8_t> coded = testing::encode_in_process(pcm);
    std::vector<std::vector<uint8_t>> out;
    for (std::size_t i = 0; i < coded.size(); i += 10) out.emplace_back(coded.begin() + long(i), coded.begin() + long(i) + 10);
    return out;
}

// Packets of two frames each 20 ms of sender time, one spurt; packet i
// arrives `transit_ms(i)` after it was sent. Written in arrival order.
std::vector<sent_packet> spurt_packets(const std::vector<std::vector<uint8_t>>& frames,
                                       const std::function<double(std::size_t)>& transit_ms) {
    std::vector<sent_packet> packets = send(frames, 2, kCaller, kCallee, 0x1a2b3c4d, kStart, 1);
    for (std::size_t i = 0; i < packets.size(); ++i)
        packets[i].time_ns = kStart + int64_t(std::llround((double(i) * 20.0 + transit_ms(i)) * 1e6));
    std::stable_sort(packets.begin(), packets.end(), [](const sent_packet& a, const sent_packet& b) { return a.time_ns < b.time_ns; });
    return packets;
}

using block = std::vector<int16_t>;

std::vector<block> blocks_of(const std::vector<int16_t>& pcm) {
    std::vector<block> out;
    for (std::size_t i = 0; i + kFrame <= pcm.size(); i += kFrame)
        out.emplace_back(pcm.begin() + long(i), pcm.begin() + long(i + kFrame));
    return out;
}

double energy(const block& b) {
    double e = 0;
    for (const int16_t v : b) e += double(v) * v;
    return e;
}

// The figure before `word` in decode's line ("5 frames dropped").
std::size_t figure_before(const std::string& line, const std::string& word) {
    std::smatch m;
    if (!std::regex_search(line, m, std::regex("([0-9]+) (frames? )?" + word))) return 0;
    return std::stoul(m[1]);
}

class HeardAudioTest : public testing::CaptureInfoTest {
protected:
    void write(const std::string& name, const std::vector<sent_packet>& packets) {
        write_pcap(path(name), DLT_EN10MB, on_link(link::ethernet, packets));
    }

    // The sender's timeline as a phone with this buffer would decode it,
    // worked out here: every frame of a packet the buffer played, an
    // erasure for each frame of one it did not (late, or discarded).
    std::vector<block> timeline_decoded(const std::vector<std::vector<uint8_t>>& frames, const std::vector<std::string>& buffer,
                                        const std::string& capture) {
        std::vector<std::string> options = buffer;
        options.push_back("--packets");
        const nlohmann::json s = info_stream(options, capture);
        std::vector<std::vector<uint8_t>> received = frames;
        for (const nlohmann::json& r : s["packet_table"])
            if (r["late"].get<bool>() || r["discarded"].get<bool>()) {
                const std::size_t first = 2 * std::size_t(r["sequence"].get<int>() - 1);
                received[first].clear();
                received[first + 1].clear();
            }
        return blocks_of(testing::decode_in_process(received));
    }

    struct decoded {
        std::vector<block> blocks;
        std::string line;
    };
    decoded decode(const std::vector<std::string>& buffer, const std::string& capture) {
        std::vector<std::string> args = {"decode"};
        args.insert(args.end(), buffer.begin(), buffer.end());
        args.push_back(path(capture));
        args.push_back(path("out.raw"));
        const run_result r = run(args);
        EXPECT_EQ(r.status, 0) << r.err;
        return {blocks_of(testing::raw_samples(testing::read_file(path("out.raw")))), r.err};
    }
};

TEST_F(HeardAudioTest, WithoutAnAdaptiveBufferTheOutputIsTheSendersTimeline) {
    // The transit steps down by 60 ms at 3 s and back up at 9 s: a fixed
    // buffer timed from the first packet discards the early ones, none
    // moves the audio.
    const std::vector<std::vector<uint8_t>> frames = patterned_frames(1200);
    write("steps.pcap", spurt_packets(frames, [](std::size_t i) { return i < 150 || i >= 450 ? 90.0 : 30.0; }));
    const std::vector<std::vector<std::string>> buffers = {{}, {"--jitter-buffer", "20"}, {"--jitter-buffer", "60"}};
    for (const std::vector<std::string>& buffer : buffers) {
        SCOPED_TRACE(buffer.empty() ? "no buffer" : buffer[1]);
        const decoded out = decode(buffer, "steps.pcap");
        EXPECT_EQ(out.blocks, timeline_decoded(frames, buffer, "steps.pcap"));
        EXPECT_FALSE(contains(out.line, "dropped and")) << out.line;
    }
}

TEST_F(HeardAudioTest, AnAdaptiveBufferDropsAndRepeatsTheQuietestFramesNearItsChanges) {
    // One continuous spurt, loud but for two quiet frames in ten; the
    // transit falls from 90 to 30 ms over six packets at 3 s (the buffer
    // then gives back a frame a second, dropping it), and steps back up
    // to 90 ms at 9 s (it waits: frames repeated).
    const std::vector<std::vector<uint8_t>> frames = patterned_frames(1200);
    write("steps.pcap", spurt_packets(frames, [](std::size_t i) {
              if (i < 150) return 90.0;
              if (i < 156) return 90.0 - 10.0 * double(i - 149);
              return i < 450 ? 30.0 : 90.0;
          }));
    const std::vector<std::string> adaptive = {"--jitter-buffer", "adaptive"};
    const decoded out = decode(adaptive, "steps.pcap");
    const std::vector<block> timeline = timeline_decoded(frames, adaptive, "steps.pcap");
    const std::size_t dropped = figure_before(out.line, "dropped and"), repeated = figure_before(out.line, "repeated as");
    std::printf("%s\n", out.line.c_str());
    EXPECT_GE(dropped, 3u);
    EXPECT_GE(repeated, 1u);
    ASSERT_EQ(out.blocks.size(), timeline.size() + repeated - dropped);
    EXPECT_TRUE(contains(out.line, std::to_string(out.blocks.size()) + " played")) << out.line;

    // --mix puts the same audio on its left channel, as long as it.
    const run_result m = run({"decode", "--jitter-buffer", "adaptive", "--mix", path("mix.wav"), path("steps.pcap")});
    ASSERT_EQ(m.status, 0) << m.err;
    const testing::audio_file mix = testing::read_audio(path("mix.wav"));
    ASSERT_EQ(mix.info.channels, 2);
    ASSERT_EQ(std::size_t(mix.info.frames), out.blocks.size() * kFrame);
    for (std::size_t n = 0; n < std::size_t(mix.info.frames); ++n)
        ASSERT_EQ(mix.samples[2 * n], out.blocks[n / kFrame][n % kFrame]) << "sample " << n;
    EXPECT_TRUE(contains(m.err, std::to_string(out.blocks.size()) + " frames")) << m.err;

    // Heard against the timeline: equal frame for frame, but for frames
    // left out and frames played again. The decoder's delay moves the
    // quiet place of the pattern: the quietest phase as decoded, and the
    // loud frames' mean, from the frames before the step up.
    std::vector<double> phase_energy(kPeriod, 0.0);
    for (std::size_t j = 0; j < 900; ++j) phase_energy[j % kPeriod] += energy(timeline[j]);
    const std::size_t quietest = std::size_t(std::min_element(phase_energy.begin(), phase_energy.end()) - phase_energy.begin());
    double loud = 0;
    std::size_t louds = 0;
    for (std::size_t j = 0; j < 900; ++j)
        if (!quiet_slot(j) && !quiet_slot(j + kPeriod - 1)) {
            loud += energy(timeline[j]);
            ++louds;
        }
    loud /= double(louds);
    std::vector<std::size_t> drops, repeats;
    std::size_t j = 0, k = 0;
    while (k < out.blocks.size()) {
        if (j < timeline.size() && out.blocks[k] == timeline[j]) {
            ++j;
            ++k;
        } else if (k > 0 && j > 0 && out.blocks[k] == timeline[j - 1]) {
            repeats.push_back(j - 1);
            ++k;
        } else if (j + 1 < timeline.size() && out.blocks[k] == timeline[j + 1]) {
            drops.push_back(j);
            ++j;
        } else {
            FAIL() << "heard frame " << k << " is no frame of the timeline near " << j;
        }
    }
    while (j < timeline.size()) drops.push_back(j++);
    EXPECT_EQ(drops.size(), dropped);
    EXPECT_EQ(repeats.size(), repeated);
    for (const std::size_t d : drops) {
        EXPECT_EQ(d % kPeriod, quietest) << "dropped frame " << d;
        EXPECT_LT(energy(timeline[d]), loud / 10) << "dropped frame " << d;
        // Each while the buffer gave delay back, between the steps.
        EXPECT_GT(d, 290u);
        EXPECT_LT(d, 900u);
    }
    for (const std::size_t r : repeats) {
        EXPECT_EQ(r % kPeriod, quietest) << "repeated frame " << r;
        EXPECT_LT(energy(timeline[r]), loud / 10) << "repeated frame " << r;
        EXPECT_NEAR(double(r), 900.0, 6.0) << "repeated where the delay stepped up";
    }
}

TEST(AdaptiveBufferChanges, AreListedWithinBoundsAndTheRestCounted) {
    // Every packet 4 ms later than the one before, one spurt without a
    // silence: the buffer grows a frame every two or three packets, as its
    // floor (and so its ceiling) follows the rising transit.
    std::vector<playout_packet> packets;
    for (std::size_t i = 0; i < 3 * kMaxDelayPoints; ++i)
        packets.push_back({int64_t(i) * 24 * kMs, uint32_t(160 * i), i == 0, 2, uint16_t(i)});
    const playout_result r = play_out(packets, {true, kAdaptiveMinDelayMs}, 8000 * 3600);
    EXPECT_EQ(r.resyncs.size(), kMaxDelayPoints);
    EXPECT_EQ(r.resyncs.size() + r.resyncs_not_listed, r.delay_changes);
    for (const resync_point& c : r.resyncs) {
        EXPECT_LT(c.packet, packets.size());
        EXPECT_GT(c.frames, 0);
    }
}

TEST_F(HeardAudioTest, ACaptureThatChangesTheBufferAtEveryPacketStaysBounded) {
    std::vector<std::vector<uint8_t>> frames = patterned_frames(200);
    while (frames.size() < 2 * 3 * kMaxDelayPoints) frames.insert(frames.end(), frames.begin(), frames.begin() + 200);
    write("creep.pcap", spurt_packets(frames, [](std::size_t i) { return 4.0 * double(i); }));
    const std::vector<std::string> adaptive = {"--jitter-buffer", "adaptive"};
    const nlohmann::json s = info_stream(adaptive, "creep.pcap");
    const decoded out = decode(adaptive, "creep.pcap");
    std::printf("%s\n", out.line.c_str());
    const std::size_t dropped = figure_before(out.line, "dropped and"), repeated = figure_before(out.line, "repeated as");
    // Thousands of changes, each played, and the length exact.
    EXPECT_GT(repeated, 5000u);
    EXPECT_EQ(out.blocks.size(), s["timeline_frames"].get<std::size_t>() + repeated - dropped);
    EXPECT_TRUE(contains(out.line, std::to_string(out.blocks.size()) + " played")) << out.line;
}

} // namespace
} // namespace g729::tool
