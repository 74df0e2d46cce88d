// Many channels at once: encoder and decoder steps in parallel threads
// through the host and the real module must give, byte for byte, what each
// gives alone (and what the reference vectors hold). Run under
// ThreadSanitizer by `make tsan`, this also proves the module shares no
// mutable state between instances.
#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/module/host_fixture.h"

namespace g729_test {
namespace {

using corvane::translation_step;
using MultiChannel = LoadedModule;

std::vector<uint8_t> vector_bytes(const std::string& name) {
    std::ifstream in(std::string(G729A_TEST_DATA) + "/vectors/" + name, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

const char* const kSignals[] = {"speech_male_librivox", "speech_male_espeak", "speech_female_espeak",
                                "tone_1kHz",            "square_fullscale",   "silence"};

// One direction of one call: the input the channel receives in host frames
// of the given sizes (in samples for slin, in codec frames for g729), and
// what it must produce.
struct channel {
    bool encode = true;
    std::vector<uint8_t> input;
    std::vector<int> frame_sizes;
    std::vector<uint8_t> expected;
    std::vector<uint8_t> output;
};

// Feeds a channel's input one host frame at a time through its own step.
class channel_runner {
public:
    channel_runner(channel& c, cvn_translator* t) : c_(c), step_(t) { c_.output.clear(); }

    // One host frame in, whatever is ready out; false once the input is done.
    bool next() {
        if (offset_ >= c_.input.size() || failed_) return false;
        const int unit = c_.encode ? 2 : 10;
        const size_t bytes =
            std::min(c_.input.size() - offset_, size_t(c_.frame_sizes[count_++ % c_.frame_sizes.size()] * unit));
        cvn_frame f{};
        f.frametype = CVN_FRAME_VOICE;
        f.format = c_.encode ? cvn_format_slin : cvn_format_g729;
        f.samples = c_.encode ? int(bytes / 2) : int(bytes / 10 * 80);
        f.datalen = int(bytes);
        f.src = "multichannel";
        f.data = c_.input.data() + offset_;
        offset_ += bytes;
        if (step_.framein(&f) != 0) {
            failed_ = true; // the comparison shows it
            return false;
        }
        if (cvn_frame* out = step_.frameout()) {
            const uint8_t* p = static_cast<const uint8_t*>(out->data);
            c_.output.insert(c_.output.end(), p, p + out->datalen);
        }
        return true;
    }

private:
    channel& c_;
    translation_step step_;
    size_t offset_ = 0;
    size_t count_ = 0;
    bool failed_ = false;
};

void run_alone(channel& c, cvn_translator* t) {
    channel_runner r(c, t);
    while (r.next()) {
    }
}

// Channel k: its signal, its framing and its direction.
std::vector<channel> make_channels(int count) {
    // Host frames in samples (slin) and in codec frames per payload (g729).
    const std::vector<std::vector<int>> slin_framings = {{160}, {80}, {240, 37, 1, 500}, {20, 200}, {1, 2, 3}};
    const std::vector<std::vector<int>> g729_framings = {{2}, {1}, {3, 1, 6}, {20}, {1, 2, 7}};
    std::vector<channel> channels;
    for (int k = 0; k < count; ++k) {
        channel c;
        c.encode = k % 2 == 0;
        const std::string name = kSignals[(k / 2) % 6];
        c.input = vector_bytes(name + (c.encode ? ".raw" : ".g729"));
        c.expected = vector_bytes(name + (c.encode ? ".g729" : ".g729.raw"));
        c.frame_sizes = (c.encode ? slin_framings : g729_framings)[size_t(k / 2) % 5];
        channels.push_back(std::move(c));
    }
    return channels;
}

TEST_F(MultiChannel, ParallelChannelsMatchOneChannelAtATime) {
    constexpr int kThreads = 8;
    constexpr int kChannelsPerThread = 2; // channel 2t encodes, 2t + 1 decodes
    cvn_translator* encoder = encoder_translator();
    cvn_translator* decoder = decoder_translator();
    ASSERT_NE(encoder, nullptr);
    ASSERT_NE(decoder, nullptr);

    // One at a time first: this is the output every parallel run must give.
    std::vector<channel> alone = make_channels(kThreads * kChannelsPerThread);
    for (channel& c : alone) {
        ASSERT_FALSE(c.input.empty());
        run_alone(c, c.encode ? encoder : decoder);
        ASSERT_EQ(c.output, c.expected) << (c.encode ? "encoder" : "decoder") << " channel, alone";
    }

    std::vector<channel> together = make_channels(kThreads * kChannelsPerThread);
    std::mutex lock;
    std::condition_variable start;
    bool go = false;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            {
                std::unique_lock<std::mutex> guard(lock);
                start.wait(guard, [&] { return go; });
            }
            // Both directions of the thread's call at once, frame by
            // frame, as a call leg runs them.
            channel_runner a(together[size_t(t * kChannelsPerThread)], encoder);
            channel_runner b(together[size_t(t * kChannelsPerThread + 1)], decoder);
            bool more_a = true, more_b = true;
            while (more_a || more_b) {
                if (more_a) more_a = a.next();
                if (more_b) more_b = b.next();
            }
        });
    }
    {
        std::lock_guard<std::mutex> guard(lock);
        go = true;
    }
    start.notify_all();
    for (std::thread& th : threads) th.join();

    for (size_t k = 0; k < together.size(); ++k) {
        EXPECT_TRUE(together[k].output == alone[k].output)
            << "channel " << k << (together[k].encode ? " (encoder)" : " (decoder)") << " differs when run in parallel";
    }
}

} // namespace
} // namespace g729_test
