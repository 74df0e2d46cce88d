// A picture of a call: every stream on one time axis (the capture's clock
// for captures), its decoded level per 20 ms, what became of each 10 ms
// frame (lost, late, concealed, SID, not transmitted) marked in a band
// beneath, silences the sender did not transmit shaded, and for captured
// streams the arrival delta and jitter over time, the transit with the
// playout delay of the jitter buffer modelled, and marks for reordered,
// duplicated and marker-bit packets; the key figures in a legend. Drawn
// with cairo as PNG, SVG or PDF, chosen by the output's extension; an SVG
// keeps its words as text, so that they can be found and read out.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace g729::tool {

// What became of one 10 ms frame, as the picture marks it.
enum class frame_mark : uint8_t {
    speech,        // decoded as received
    sid,           // a silence-description frame: comfort noise
    untransmitted, // the sender sent nothing (silence suppression)
    lost,          // a packet that never arrived: concealed
    late,          // arrived after its playout time: dropped and concealed
    concealed,     // arrived but unusable (a bad frame): concealed
};

struct plot_series_point {
    double seconds = 0.0; // from the start of the track
    double value = 0.0;
};

// A packet marked over the transit.
enum class packet_mark : uint8_t { reordered, duplicate, marker };
struct plot_packet_mark {
    double seconds = 0.0; // from the start of the track
    packet_mark kind = packet_mark::marker;
};

struct plot_track {
    std::string title;
    int64_t start_frame = 0;          // where the track starts on the common axis, in 10 ms frames
    std::vector<frame_mark> frames;   // one per 10 ms
    std::vector<double> level_dbfs;   // one per 20 ms
    bool network = false;             // draw the arrival panel
    std::vector<plot_series_point> arrival_delta_ms;
    std::vector<plot_series_point> jitter_ms;
    // Transit above the fastest packet, and on the same scale the playout
    // delay of the buffer modelled: a step from each point to the next,
    // the last held until playout_end_seconds.
    std::vector<plot_series_point> transit_ms;
    std::vector<plot_series_point> playout_ms;
    double playout_end_seconds = 0.0;
    std::string buffer_name; // "adaptive buffer", "fixed 40 ms buffer"; empty: none modelled
    std::vector<plot_packet_mark> packet_marks;
    std::vector<std::string> legend;
};

// The time axis: the capture's clock, when the picture has one, and the
// window drawn, in 10 ms frames of the common axis (frame 0: the start of
// the earliest track).
struct plot_axis {
    bool clock = false;
    int64_t start_ns = 0; // capture time of frame 0
    bool windowed = false;
    int64_t from_frame = 0, to_frame = 0;
};

struct plot_box {
    double left = 0, top = 0, width = 0, height = 0;
};

struct track_layout {
    plot_box level;    // the level panel
    plot_box marks;    // the band of frame marks beneath it
    plot_box arrivals; // arrival delta and jitter (height 0 without a network)
    plot_box transit;  // transit and playout delay (height 0 without a network)
};

// Where everything stands, so the drawing and its checks agree.
struct plot_layout {
    int width = 0;
    int height = 0;
    int64_t first_frame = 0;
    int64_t frames = 1; // on the axis
    std::vector<track_layout> tracks;
    // The horizontal pixel range of a frame on the common axis.
    double frame_x(int64_t frame) const;
};

constexpr int kPlotWidth = 1200;

// Frames of the axis in ns, held at the ends of the range: a crafted
// capture's axis may span centuries.
int64_t frames_ns(int64_t frames);

// The axis spans the tracks, or the axis' window when it has one.
plot_layout layout_plot(const std::vector<plot_track>& tracks, const plot_axis& axis = {}, int width = kPlotWidth);

// RGB of a mark's colour, 0-255, as drawn.
struct mark_colour {
    uint8_t r, g, b;
};
mark_colour colour_of(frame_mark mark);

// Writes the picture to `path` (.png, .svg or .pdf); throws tool_error
// naming the file when cairo cannot write it.
void draw_plot(const std::vector<plot_track>& tracks, const plot_axis& axis, const std::string& path, const std::string& title);

} // namespace g729::tool
