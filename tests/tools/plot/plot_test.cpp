// g729a plot: the picture marks what became of each frame where it
// happened, puts streams years apart on one axis, and keeps to the limit on
// audio; it shows the capture's clock, names the jitter buffer modelled and
// draws its playout delay over the transit, breaks the arrival delta where
// nothing arrived, marks reordered, duplicated and marker-bit packets, and
// draws only the window asked for. Layout and colours are read back from
// the tool's own layout, and an SVG's words and lines from its text.
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
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "g729a.h"
#include "tests/tools/capture/capture_writer.h"
#include "tools/common/text.h"
#include "tools/plot/plot.h"
#include "tools/plot/tracks.h"

namespace g729::tool {
namespace {

using namespace testing;
using namespace capture_writer;

// --- reading an SVG as cairo writes it

// The words of the SVG's text elements, a line each.
std::string svg_words(const std::string& svg) {
    std::string words;
    for (std::size_t at = svg.find("<text"); at != std::string::npos; at = svg.find("<text", at + 1)) {
        const std::size_t begin = svg.find('>', at) + 1, end = svg.find("</text>", begin);
        words += svg.substr(begin, end - begin) + "\n";
    }
    return words;
}

// A colour as cairo's SVG writes it: "rgb(47.058824%,0%,20%)".
std::string svg_colour(mark_colour c) {
    std::string out = "rgb(";
    const int parts[] = {c.r, c.g, c.b};
    for (int i = 0; i < 3; ++i) {
        std::string n = format_text("%f", parts[i] * 100.0 / 255.0);
        while (n.back() == '0') n.pop_back();
        if (n.back() == '.') n.pop_back();
        out += n + (i == 2 ? "%)" : "%,");
    }
    return out;
}

using polyline = std::vector<std::pair<double, double>>;

// The lines (subpaths) of every path the SVG strokes (or fills) in `colour`.
std::vector<polyline> svg_lines(const std::string& svg, mark_colour colour, bool filled = false) {
    const std::string style = std::string(filled ? "fill:" : "stroke:") + svg_colour(colour) + ";";
    std::vector<polyline> lines;
    for (std::size_t at = svg.find("<path"); at != std::string::npos; at = svg.find("<path", at + 1)) {
        const std::size_t end = svg.find("/>", at);
        const std::string element = svg.substr(at, end - at);
        if (!contains(element, style)) continue;
        const std::size_t d = element.find(" d=\"");
        std::istringstream in(element.substr(d + 4, element.find('"', d + 4) - d - 4));
        std::string command;
        while (in >> command) {
            if (command == "Z") continue;
            double x = 0, y = 0;
            in >> x >> y;
            if (command == "M") lines.emplace_back();
            lines.back().emplace_back(x, y);
        }
    }
    // cairo ends a closed shape with a move back to its start: no line.
    lines.erase(std::remove_if(lines.begin(), lines.end(), [](const polyline& l) { return l.size() < 2; }), lines.end());
    return lines;
}

// The colours the picture draws its series and marks in.
constexpr mark_colour kDelta{120, 120, 120}, kPlayout{210, 70, 0};
constexpr mark_colour kMarker{0, 120, 200}, kReordered{255, 150, 0}, kDuplicate{180, 40, 180};

// The layout of a picture of one captured stream of `frames`.
plot_layout capture_layout(int64_t frames, const plot_axis& axis = {}) {
    plot_track track;
    track.frames.resize(std::size_t(frames));
    track.network = true;
    track.legend.resize(2);
    return layout_plot({track}, axis);
}

// One direction of 20 ms packets from kStart, frames 0..frames-1 of the
// sample speech, each packet arriving `transit(i)` after it was sent.
std::vector<sent_packet> delayed(std::size_t frames, const std::function<int64_t(std::size_t)>& transit) {
    std::vector<sent_packet> packets = send(coded_frames("speech_male_librivox.g729", frames), 2, kA, kB, 0x1a2b3c4d, kStart, 1);
    for (std::size_t i = 0; i < packets.size(); ++i) packets[i].time_ns += transit(i);
    return packets;
}

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
    track.legend.resize(2); // the figures, and the buffer
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

    // The second stream at the end of what the capture clock holds (2262,
    // 64-bit nanoseconds): an axis of three centuries, its labels and a
    // window of it are drawn without overflowing.
    std::vector<frame_record> far = on_link(link::ethernet, packets);
    for (std::size_t i = far.size() / 2; i < far.size(); ++i) far[i].pcapng_micros = 9223372035000000u + i * 20000;
    write_pcapng(path("far.pcapng"), DLT_EN10MB, far);
    for (const std::vector<std::string>& window : std::vector<std::vector<std::string>>{{}, {"--from", "0.5", "--to", "1"}}) {
        std::string command = "timeout 120 '" G729A_TOOL_PATH "' plot";
        for (const std::string& w : window) command += " '" + w + "'";
        const run_result f = run_shell(command + " '" + path("far.pcapng") + "' '" + path("far.svg") + "' 2>'" + path(".stderr") + "'");
        EXPECT_EQ(f.status, 0) << f.err;
        EXPECT_TRUE(contains(f.err, "2 streams drawn")) << f.err;
    }
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

// A lasting delay step, 30 to 90 ms at 2 s in one talk spurt: without a
// buffer the picture says none was modelled and draws no playout line; a
// fixed buffer's line is flat at its delay; the adaptive buffer's rises
// after the step. The buffer is named in the legend, and the three
// pictures differ.
TEST_F(CaptureTest, ThePictureNamesTheBufferAndDrawsItsPlayoutDelayOverTheTransit) {
    write_pcap(path("step.pcap"), DLT_EN10MB,
               on_link(link::ethernet, delayed(400, [](std::size_t i) { return (i < 100 ? 30 : 90) * kMs; })));
    struct picture {
        std::vector<std::string> buffer;
        std::string named;
        std::size_t least_levels, most_levels; // of the playout line: distinct heights
    };
    const picture pictures[] = {
        {{}, "no jitter buffer modelled", 0, 0},
        {{"--jitter-buffer", "40"}, "playout delay of the fixed 40 ms buffer", 1, 1},
        {{"--jitter-buffer", "adaptive"}, "playout delay of the adaptive buffer", 2, 1000},
        // A window after the fixed buffer's one point: its delay holds into it.
        {{"--jitter-buffer", "40", "--from", "3", "--to", "3.5"}, "playout delay of the fixed 40 ms buffer", 1, 1},
    };
    std::vector<std::string> drawn;
    for (const picture& p : pictures) {
        std::vector<std::string> args = {"plot"};
        args.insert(args.end(), p.buffer.begin(), p.buffer.end());
        args.insert(args.end(), {path("step.pcap"), path("step.svg")});
        const run_result r = run(args);
        ASSERT_EQ(r.status, 0) << p.named << r.err;
        const std::vector<uint8_t> bytes = read_file(path("step.svg"));
        const std::string svg(bytes.begin(), bytes.end());
        const std::string words = svg_words(svg);
        EXPECT_TRUE(contains(words, p.named)) << words;
        // Titles and units on every panel, the level in dBFS.
        for (const char* title : {"level, dBFS per 20 ms", "-20 dBFS", "arrival delta, ms (left scale)",
                                  "jitter (RFC 3550), ms (right scale)", "transit above the fastest packet, ms", "frames"})
            EXPECT_TRUE(contains(words, title)) << title;
        std::set<double> heights;
        for (const polyline& line : svg_lines(svg, kPlayout))
            for (const auto& [x, y] : line) heights.insert(std::round(y));
        EXPECT_GE(heights.size(), p.least_levels) << p.named;
        EXPECT_LE(heights.size(), p.most_levels) << p.named;
        drawn.push_back(svg);
    }
    EXPECT_NE(drawn[0], drawn[1]);
    EXPECT_NE(drawn[1], drawn[2]);
    EXPECT_NE(drawn[0], drawn[2]);
}

// The axis is the capture's clock: times of day at whole steps, the start
// stamped; --from and --to, as seconds or as the axis' times, draw that
// window alone: its ticks, and the lost frames within it and no others.
TEST_F(CaptureTest, TheAxisShowsTheCapturesClockAndAWindowDrawsThatSpanAlone) {
    std::vector<sent_packet> packets = delayed(300, [](std::size_t) { return 20 * kMs; });
    packets.erase(packets.begin() + 75);              // frames 150, 151: at 1.5 s
    packets.erase(packets.begin() + 25);              // frames 50, 51: at 0.5 s
    write_pcap(path("call.pcap"), DLT_EN10MB, on_link(link::ethernet, packets));
    const mark_colour red = colour_of(frame_mark::lost);
    // The lost frames marked beneath the level (the key's square stands in the header).
    auto lost_marks = [&](const std::string& svg) {
        std::vector<double> xs;
        for (const polyline& line : svg_lines(svg, red, true))
            if (line.front().second > 40) xs.push_back(line.front().first);
        return xs;
    };
    struct window {
        std::vector<std::string> args;
        std::vector<std::string> ticks, not_ticks;
        std::size_t lost_frames;
    };
    const window windows[] = {
        {{}, {"22:13:20", "22:13:21", "22:13:22", "the streams start 2023-11-14 22:13:20.020000 UTC"}, {"drawn from"}, 4},
        {{"--from", "1", "--to", "2"}, {"22:13:21.1", "22:13:21.5", "22:13:22.0", "drawn from 1.00 s to 2.00 s"}, {"22:13:22.5", "22:13:20.5"}, 2},
        {{"--from", "22:13:21.02", "--to", "2023-11-14T22:13:22.02"}, {"22:13:21.5", "drawn from 1.00 s to 2.00 s"}, {"22:13:20.5"}, 2},
        {{"--to", "1"}, {"22:13:20.5", "drawn from 0.00 s to 1.00 s"}, {"22:13:21.5"}, 2},
    };
    for (const window& w : windows) {
        std::vector<std::string> args = {"plot"};
        args.insert(args.end(), w.args.begin(), w.args.end());
        args.insert(args.end(), {path("call.pcap"), path("call.svg")});
        const run_result r = run(args);
        ASSERT_EQ(r.status, 0) << r.err;
        const std::vector<uint8_t> bytes = read_file(path("call.svg"));
        const std::string svg(bytes.begin(), bytes.end());
        const std::string words = svg_words(svg);
        for (const std::string& tick : w.ticks) EXPECT_TRUE(contains(words, tick)) << tick << " in " << words;
        for (const std::string& tick : w.not_ticks) EXPECT_FALSE(contains(words, tick)) << tick << " in " << words;
        const std::vector<double> marks = lost_marks(svg);
        EXPECT_EQ(marks.size(), w.lost_frames) << args[1];
        const plot_layout layout = capture_layout(300);
        for (double x : marks) {
            EXPECT_GE(x, layout.frame_x(0) - 1);
            EXPECT_LE(x, layout.frame_x(300) + 1);
        }
    }
}

// A silence of a second without a packet: the arrival delta's line stops
// before it and starts again after it, and is no ramp across it.
TEST_F(CaptureTest, TheArrivalDeltaIsBrokenWhereNothingArrived) {
    std::vector<std::vector<uint8_t>> frames = coded_frames("speech_male_librivox.g729", 300);
    for (std::size_t i = 100; i < 200; ++i) frames[i].clear(); // 1 s not transmitted
    write_pcap(path("call.pcap"), DLT_EN10MB, on_link(link::ethernet, send(frames, 2, kA, kB, 0x1a2b3c4d, kStart, 1)));
    ASSERT_EQ(run({"plot", path("call.pcap"), path("call.svg")}).status, 0);
    const std::vector<uint8_t> bytes = read_file(path("call.svg"));
    const std::string svg(bytes.begin(), bytes.end());
    const plot_layout layout = capture_layout(300);
    const double gap_left = layout.frame_x(105), gap_right = layout.frame_x(195);
    const std::vector<polyline> lines = svg_lines(svg, kDelta);
    ASSERT_FALSE(lines.empty());
    bool before = false, after = false;
    for (const polyline& line : lines)
        for (std::size_t i = 0; i < line.size(); ++i) {
            before = before || line[i].first < gap_left;
            after = after || line[i].first > gap_right;
            if (i > 0) {
                EXPECT_FALSE(line[i - 1].first < gap_left && line[i].first > gap_right) << "a line across the silence";
            }
            EXPECT_FALSE(line[i].first > gap_left && line[i].first < gap_right) << "a point in the silence";
        }
    EXPECT_TRUE(before && after);
}

// A marker bit, a packet overtaken by the next and a copy of one: each
// marked where it arrived, and counted in the key.
TEST_F(CaptureTest, ReorderedDuplicatedAndMarkerBitPacketsAreMarked) {
    std::vector<sent_packet> packets = delayed(300, [](std::size_t) { return 20 * kMs; });
    packets[40].marker = true;                  // arrives at frame 82
    packets[60].time_ns += 25 * kMs;            // after packet 61: arrives at frame 124.5
    sent_packet copy = packets[100];            // a copy at frame 203
    copy.time_ns += 10 * kMs;
    packets.insert(packets.begin() + 101, copy);
    write_pcap(path("call.pcap"), DLT_EN10MB, by_time(on_link(link::ethernet, packets)));
    ASSERT_EQ(run({"plot", path("call.pcap"), path("call.svg")}).status, 0);
    const std::vector<uint8_t> bytes = read_file(path("call.svg"));
    const std::string svg(bytes.begin(), bytes.end());
    const std::string words = svg_words(svg);
    // The axis starts at the timeline's start, the first packet's arrival.
    const plot_layout layout = capture_layout(300);
    const track_layout& panel = layout.tracks[0];
    struct mark {
        mark_colour colour;
        bool filled;
        double frame;
        const char* key;
    };
    for (const mark& m : {mark{kMarker, false, 80, "marker bit (1)"}, mark{kReordered, true, 122.5, "reordered (1)"},
                          mark{kDuplicate, false, 201, "duplicated (1)"}}) {
        EXPECT_TRUE(contains(words, m.key)) << m.key << " in " << words;
        std::size_t in_panel = 0;
        for (const polyline& line : svg_lines(svg, m.colour, m.filled)) {
            if (line.front().second < panel.transit.top || line.front().second > panel.transit.top + panel.transit.height)
                continue; // the key
            const double x = (layout.frame_x(int64_t(m.frame)) + layout.frame_x(int64_t(m.frame) + 1)) / 2;
            if (std::fabs(line.front().first - x) < 6) ++in_panel;
        }
        EXPECT_GE(in_panel, 1u) << m.key;
    }
}

// An SVG's words are text: a file name with XML's own characters, or bytes
// that are no UTF-8, leaves it well formed; a UTF-8 name stays as it is.
TEST_F(CaptureTest, AnSvgTitleIsEscapedWhateverTheFileIsCalled) {
    const std::vector<sent_packet> packets = delayed(100, [](std::size_t) { return 0; });
    const std::pair<std::string, std::string> names[] = {
        {"a<b>&c\".pcap", ">a&lt;b&gt;&amp;c\".pcap</text>"},
        {"caf\xe9.pcap", ">caf\xef\xbf\xbd.pcap</text>"},
        {"Anruf-M\xc3\xbcller.pcap", ">Anruf-M\xc3\xbcller.pcap</text>"},
    };
    for (const auto& [name, title] : names) {
        write_pcap(path(name), DLT_EN10MB, on_link(link::ethernet, packets));
        ASSERT_EQ(run({"plot", path(name), path("call.svg")}).status, 0) << name;
        const std::vector<uint8_t> bytes = read_file(path("call.svg"));
        const std::string svg(bytes.begin(), bytes.end());
        EXPECT_TRUE(contains(svg, title)) << name;
        EXPECT_FALSE(contains(svg, "a<b")) << name;
    }
}

// Windows that cannot be drawn are refused, naming the option or the file,
// and leave nothing behind.
TEST_F(CaptureTest, AWindowOutsideTheStreamsOrBeyondReasonIsRefused) {
    write_pcap(path("call.pcap"), DLT_EN10MB, on_link(link::ethernet, delayed(300, [](std::size_t) { return 0; })));
    write_file(path("in.g729"), read_file(G729A_TEST_DATA "/vectors/speech_male_espeak.g729"));
    const std::string call = path("call.pcap"), out = path("call.png");
    const std::string asked = "--from takes seconds from the start (0 to 31622400), a time of day";
    const std::string span = "the window lies outside the streams, which run from 0 to 3.00 s (2023-11-14 22:13:20.000000 UTC to "
                             "2023-11-14 22:13:23.000000 UTC)";
    expect_refused({
        {{"plot", "--from", "1e300", call, out}, 2, asked},
        {{"plot", "--from", "-5", call, out}, 2, asked},
        {{"plot", "--from", "nan", call, out}, 2, asked},
        {{"plot", "--from", "inf", call, out}, 2, asked},
        {{"plot", "--from", "0x10", call, out}, 2, asked},
        {{"plot", "--from", "25:00", call, out}, 2, asked},
        {{"plot", "--from", "2023-02-30 10:00", call, out}, 2, asked},
        {{"plot", "--from", "99999-01-01 10:00", call, out}, 2, asked},
        {{"plot", "--from", std::string(100000, '1'), call, out}, 2, asked},
        {{"plot", "--to", "wav", call, out}, 2, "--to takes seconds from the start"},
        {{"info", "--from", "1", call}, 2, "--from is for plot"},
        {{"plot", "--from", "100", call, out}, 1, call + ": --from 100: " + span},
        {{"plot", "--to", "22:13:19", call, out}, 1, call + ": --to 22:13:19: " + span},
        {{"plot", "--from", "1999-01-01 00:00", "--to", "1999-01-02 00:00", call, out}, 1, span},
        {{"plot", "--from", "2", "--to", "1", call, out}, 1, call + ": --from 2 --to 1: the window ends before it begins"},
        {{"plot", "--from", "1.5", "--to", "1.5", call, out}, 1, "the window ends before it begins"},
        {{"plot", "--from", "10:00", path("in.g729"), out}, 1,
         path("in.g729") + ": --from 10:00 is a time of the capture's clock, and a coded file has none"},
        {{"plot", "--from", "1000", path("in.g729"), out}, 1, "the window lies outside the streams"},
    });
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
        int64_t start_ns = 0;
        const std::vector<plot_track> tracks = capture_plot_tracks(G729A_SAMPLE_CALL, options, start_ns);
        ASSERT_EQ(tracks.size(), 2u);
        for (const plot_track& t : tracks) {
            // The stream's figures come first, the buffer's line after them.
            ASSERT_FALSE(t.legend.empty());
            EXPECT_TRUE(contains(t.legend.front(), c.text)) << t.legend.front();
            EXPECT_EQ(contains(t.legend.front(), "given"), c.given_ms.has_value()) << t.legend.front();
        }
    }
}

} // namespace
} // namespace g729::tool
