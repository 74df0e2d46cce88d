// g729a dump of a capture: each stream's frames, and why the missing ones
// are missing.
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
using namespace capture_writer;

TEST_F(CaptureTest, DumpShowsEachStreamsFramesAndWhyTheMissingOnesAreMissing) {
    const std::vector<std::vector<uint8_t>> frames = coded_frames("speech_male_librivox.g729", 100);
    std::vector<sent_packet> packets = send(frames, 2, kA, kB, 0x1a2b3c4d, kStart, 1);
    packets[30].time_ns += 60 * kMs;       // frames 60 and 61 arrive late
    packets.erase(packets.begin() + 10);   // frames 20 and 21 lost
    write_pcap(path("call.pcap"), DLT_EN10MB, by_time(on_link(link::ethernet, packets)));
    std::vector<uint8_t> g729;
    for (const auto& f : frames) g729.insert(g729.end(), f.begin(), f.end());
    write_file(path("call.g729"), g729);

    const run_result coded = run({"dump", path("call.g729")});
    const run_result r = run({"dump", "--jitter-buffer", "40", path("call.pcap")});
    ASSERT_EQ(coded.status, 0) << coded.err;
    ASSERT_EQ(r.status, 0) << r.err;
    auto frame_lines = [](const std::string& text) {
        std::vector<std::string> lines;
        for (std::size_t at = 0; at < text.size();) {
            const std::size_t end = text.find('\n', at);
            const std::string line = text.substr(at, end - at);
            if (!line.empty() && line[0] != '#') lines.push_back(line.substr(0, line.find(" energy=")));
            at = end + 1;
        }
        return lines;
    };
    const std::vector<std::string> want = frame_lines(coded.out);
    const std::vector<std::string> got = frame_lines(r.out);
    ASSERT_EQ(got.size(), 100u) << r.out;
    for (std::size_t i = 0; i < got.size(); ++i) {
        if (i == 20 || i == 21)
            EXPECT_TRUE(contains(got[i], " lost concealed")) << got[i];
        else if (i == 60 || i == 61)
            EXPECT_TRUE(contains(got[i], " late concealed")) << got[i];
        else
            EXPECT_EQ(got[i], want[i]) << "the received frames read as dump reads the coded file";
    }
    EXPECT_TRUE(contains(r.out, "stream 0x1a2b3c4d 10.0.0.1:4000 -> 10.0.0.2:5000")) << r.out;
    expect_refused({{{"dump", "--stream", "99", path("call.pcap")}, 1, ": no G.729 stream has SSRC 0x00000099; the capture holds 0x"}});
}

} // namespace
} // namespace g729::tool
