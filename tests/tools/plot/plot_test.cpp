// g729a plot: the picture marks what became of each frame where it
// happened, puts streams years apart on one axis, and keeps to the limit on
// audio. Layout and colours are read back from the tool's own layout.
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
#include <optional>
#include <string>
#include <vector>

#include "g729a.h"
#include "tests/tools/capture/capture_writer.h"
#include "tools/plot/plot.h"
#include "tools/plot/tracks.h"

namespace g729::tool {
namespace {

using namespace testing;
using namespace capture_writer;

TEST_F(CaptureTest, ThePictureMarksTheLossesWhereTheyHappened) {
    const std::vector<std::vector<uint8_t>> frames = coded_frames("speech_male_librivox.g729", 300);
    std::vector<sent_packet> packets = send(frames, 2, kA, kB, 0x1a2b3c4d, kStart, 1);
    // Packets 50 and 51 (frames 100-103) and packet 120 (frames 240, 241) lost.
    packets.erase(packets.begin() + 120);
    packets.erase(packets.begin() + 50, packets.begin() + 52);
    write_pcap(path("call.pcap"), DLT_EN10MB, on_link(link::ethernet, packets));

    const run_result r = run({"plot", path("call.pcap"), path("call.png")});
    ASSERT_EQ(r.status, 0) << r.err;
    cairo_surface_t* image = cairo_image_surface_create_from_png(path("call.png").c_str());
    ASSERT_EQ(cairo_surface_status(image), CAIRO_STATUS_SUCCESS);

    plot_track track; // the layout depends only on the frames and the legend
    track.frames.resize(300);
    track.network = true;
    track.legend.resize(1);
    const plot_layout layout = layout_plot({track});
    EXPECT_EQ(cairo_image_surface_get_width(image), layout.width);
    EXPECT_EQ(cairo_image_surface_get_height(image), layout.height);

    const unsigned char* pixels = cairo_image_surface_get_data(image);
    const int stride = cairo_image_surface_get_stride(image);
    auto colour_at_frame = [&](int frame) {
        const int x = int((layout.frame_x(frame) + layout.frame_x(frame + 1)) / 2);
        const int y = int(layout.tracks[0].marks.top + layout.tracks[0].marks.height / 2);
        const uint32_t p = *reinterpret_cast<const uint32_t*>(pixels + y * stride + x * 4);
        return mark_colour{uint8_t(p >> 16), uint8_t(p >> 8), uint8_t(p)};
    };
    const mark_colour red = colour_of(frame_mark::lost);
    for (int f : {100, 101, 102, 103, 240, 241}) {
        const mark_colour c = colour_at_frame(f);
        EXPECT_TRUE(c.r == red.r && c.g == red.g && c.b == red.b) << "frame " << f << " is not marked lost";
    }
    for (int f : {10, 98, 106, 150, 238, 244, 290}) {
        const mark_colour c = colour_at_frame(f);
        EXPECT_TRUE(c.r == 255 && c.g == 255 && c.b == 255) << "frame " << f << " is marked";
    }
    cairo_surface_destroy(image);

    for (const char* picture : {"call.svg", "call.pdf"}) {
        EXPECT_EQ(run({"plot", path("call.pcap"), path(picture)}).status, 0) << picture;
        EXPECT_GT(read_file(path(picture)).size(), 1000u) << picture;
    }
    // Coded files too; a failed plot leaves nothing behind.
    write_file(path("in.g729"), read_file(G729A_TEST_DATA "/vectors/speech_male_espeak.g729"));
    EXPECT_EQ(run({"plot", path("in.g729"), path("file.png")}).status, 0);
    EXPECT_EQ(run({"plot", path("in.g729"), path("nowhere/file.png")}).status, 1);
    expect_usage_errors({{"plot", path("in.g729"), path("file.jpg")}, {"plot", path("in.g729")}});
}

// Two streams years apart on one time axis: the axis takes steps of whole
// hours, a dozen at most, instead of a label a second (which kept a
// crafted capture drawing for hours). A hang shows as the timeout's 124.
TEST_F(CaptureTest, StreamsYearsApartArePlottedOnADozenSteps) {
    const std::vector<std::vector<uint8_t>> frames = coded_frames("speech_male_librivox.g729", 100);
    std::vector<sent_packet> packets = send(frames, 2, kA, kB, 0x1a2b3c4d, kStart, 1);
    const int64_t three_years = int64_t(3) * 365 * 86400 * kSecond;
    const std::vector<sent_packet> later = send(frames, 2, kB, kA, 0x5e6f7a8b, kStart + three_years, 1);
    packets.insert(packets.end(), later.begin(), later.end());
    write_pcap(path("call.pcap"), DLT_EN10MB, on_link(link::ethernet, packets));
    const run_result r = run_shell("timeout 120 '" G729A_TOOL_PATH "' plot '" + path("call.pcap") + "' '" + path("call.png") + "'");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_GT(read_file(path("call.png")).size(), 1000u);
}

// A few packets spread over a quarter of an hour: drawing would decode all
// of it for the level, so the picture takes the decode's limit on audio,
// and --max-audio raises it.
TEST_F(CaptureTest, APictureOfAFewPacketsSpreadOverLongSilencesTakesTheAudioLimit) {
    std::vector<sent_packet> packets = send(coded_frames("speech_male_librivox.g729", 20), 2, kA, kB, 0x1a2b3c4d, kStart, 1);
    send_after_silence(packets, 1000);
    write_pcap(path("call.pcap"), DLT_EN10MB, on_link(link::ethernet, packets));

    expect_refused({{{"plot", path("call.pcap"), path("call.png")},
                     1,
                     path("call.pcap") + ": would decode 1000.2 s (0.28 h) of audio to draw, more than the limit of 604.4 s (0.17 h)"},
                    {{"plot", "--max-audio", "700", path("call.pcap"), path("call.png")}, 1, "--max-audio SECONDS raises it"}});

    const run_result drawn = run({"plot", "--max-audio", "1100", path("call.pcap"), path("call.png")});
    EXPECT_EQ(drawn.status, 0) << drawn.err;
    EXPECT_GT(read_file(path("call.png")).size(), 1000u);
}


// Each stream's figures under it name the delay the quality estimate
// assumed, and whether it was given.
TEST(PlotLegend, TheQualityFiguresNameTheOneWayDelay) {
    struct Case {
        std::optional<double> given_ms;
        const char* text;
    };
    // Without it, each stream's own: its packets, the codec's 15 ms.
    const Case cases[] = {
        {std::nullopt, "(E-model estimate, one-way delay "},
        {250.0, "(E-model estimate, one-way delay 250 ms given)"},
    };
    for (const Case& c : cases) {
        command_options options;
        options.quiet = true;
        options.one_way_delay_ms = c.given_ms;
        const std::vector<plot_track> tracks = capture_plot_tracks(G729A_SAMPLE_CALL, options);
        ASSERT_EQ(tracks.size(), 2u);
        for (const plot_track& t : tracks) {
            ASSERT_FALSE(t.legend.empty());
            EXPECT_TRUE(contains(t.legend.back(), c.text)) << t.legend.back();
            EXPECT_EQ(contains(t.legend.back(), "given"), c.given_ms.has_value()) << t.legend.back();
        }
    }
}

} // namespace
} // namespace g729::tool
