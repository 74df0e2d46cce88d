#include "tools/plot/plot.h"

#include <cairo-pdf.h>
#include <cairo-svg.h>
#include <cairo.h>
#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <limits>

#include "tools/capture/call.h"
#include "tools/common/output_file.h"
#include "tools/common/shared_library.h"
#include "tools/common/text.h"
#include "tools/common/tool_error.h"

namespace g729::tool {

namespace {

// cairo and fontconfig, loaded when a picture is first drawn.
#define G729A_CAIRO_FUNCTIONS(F)                                                                              \
    F(cairo_create) F(cairo_destroy) F(cairo_paint) F(cairo_fill) F(cairo_stroke) F(cairo_rectangle)          \
    F(cairo_move_to) F(cairo_line_to) F(cairo_set_source_rgb) F(cairo_set_source_rgba) F(cairo_set_line_width) \
    F(cairo_select_font_face) F(cairo_set_font_size) F(cairo_show_text) F(cairo_image_surface_create)          \
    F(cairo_svg_surface_create_for_stream) F(cairo_pdf_surface_create_for_stream) F(cairo_surface_flush)       \
    F(cairo_surface_finish) F(cairo_surface_status) F(cairo_surface_write_to_png_stream)                       \
    F(cairo_surface_destroy) F(cairo_status_to_string) F(cairo_debug_reset_static_data) F(cairo_save) F(cairo_restore)    \
    F(cairo_clip) F(cairo_get_source) F(cairo_pattern_get_rgba)
G729A_FUNCTION_TABLE(cairo_functions, G729A_CAIRO_FUNCTIONS);
#define G729A_FONTCONFIG_FUNCTIONS(F) F(FcFini)
G729A_FUNCTION_TABLE(fontconfig_functions, G729A_FONTCONFIG_FUNCTIONS);

const cairo_functions& cairo() {
    static const cairo_functions functions(shared_library(G729A_LIBCAIRO_SONAME, "G729A_LIBCAIRO", "drawing pictures"));
    return functions;
}

const fontconfig_functions& fontconfig() {
    static const fontconfig_functions functions(
        shared_library(G729A_LIBFONTCONFIG_SONAME, "G729A_LIBFONTCONFIG", "drawing pictures"));
    return functions;
}

constexpr double kMargin = 60;        // left, for the axis labels
constexpr double kRightMargin = 50;   // right, for the jitter's scale
constexpr double kHeader = 40;        // the picture's title
constexpr double kTrackTitle = 22;
constexpr double kLevelHeight = 150;
constexpr double kMarksHeight = 14;
constexpr double kArrivalHeight = 90;
constexpr double kTransitHeight = 140;
constexpr double kTransitHeader = 32;   // the transit panel's key and its row of packet marks
constexpr double kGap = 8;
constexpr double kLegendLine = 14;
constexpr double kAxis = 46;          // the time axis at the bottom, and its caption
constexpr double kFloorDb = -80.0;    // bottom of the level panel

// The series' colours.
constexpr mark_colour kDeltaColour{120, 120, 120};
constexpr mark_colour kJitterColour{0, 150, 60};
constexpr mark_colour kTransitColour{60, 60, 200};
constexpr mark_colour kPlayoutColour{210, 70, 0};

double network_height(const plot_track& t) { return t.network ? kGap + kArrivalHeight + kGap + kTransitHeight : 0; }

double track_height(const plot_track& t) {
    return kTrackTitle + kLevelHeight + kGap / 2 + kMarksHeight + network_height(t) + kGap + kLegendLine * double(t.legend.size()) +
           kGap;
}

// A word of the picture. An SVG takes it as text of its own, so that the
// picture can be searched and read out; the other formats draw its glyphs.
struct svg_text {
    double x, y, size;
    double r, g, b;
    std::string s;
};

struct painter {
    cairo_t* cr = nullptr;
    std::vector<svg_text>* svg = nullptr; // set when drawing an SVG
};

void set_colour(cairo_t* cr, mark_colour c, double alpha = 1.0) {
    const cairo_functions& g = cairo();
    g.cairo_set_source_rgba(cr, c.r / 255.0, c.g / 255.0, c.b / 255.0, alpha);
}

void text(const painter& p, double x, double y, const std::string& s, double size = 11) {
    const cairo_functions& g = cairo();
    if (p.svg) {
        double r = 0, gr = 0, b = 0, a = 0;
        g.cairo_pattern_get_rgba(g.cairo_get_source(p.cr), &r, &gr, &b, &a);
        p.svg->push_back({x, y, size, r, gr, b, s});
        return;
    }
    g.cairo_set_font_size(p.cr, size);
    g.cairo_move_to(p.cr, x, y);
    g.cairo_show_text(p.cr, s.c_str());
}

void frame_box(cairo_t* cr, const plot_box& b) {
    const cairo_functions& g = cairo();
    g.cairo_set_source_rgb(cr, 0.6, 0.6, 0.6);
    g.cairo_set_line_width(cr, 1);
    g.cairo_rectangle(cr, b.left + 0.5, b.top + 0.5, b.width - 1, b.height - 1);
    g.cairo_stroke(cr);
}

// Drawing within a panel only: what lies outside the window is cut off.
void clip_to(cairo_t* cr, const plot_box& b) {
    const cairo_functions& g = cairo();
    g.cairo_save(cr);
    g.cairo_rectangle(cr, b.left, b.top, b.width, b.height);
    g.cairo_clip(cr);
}

double series_x(const plot_layout& layout, const plot_track& t, double seconds) {
    return layout.frame_x(t.start_frame) + seconds * 100.0 * ((layout.frame_x(1) - layout.frame_x(0)));
}

double series_y(const plot_box& box, double value, double top_value) {
    const double v = std::clamp(value / top_value, 0.0, 1.0);
    return box.top + box.height - v * (box.height - 2) - 1;
}

// Whether a point is near enough the window to be drawn.
bool near_window(const plot_layout& layout, double x) {
    const double span = layout.frame_x(layout.first_frame + layout.frames) - layout.frame_x(layout.first_frame);
    return x >= layout.frame_x(layout.first_frame) - span && x <= layout.frame_x(layout.first_frame + layout.frames) + span;
}

// How the line joins the points of a series.
enum class joined {
    broken, // point to point, but not across a stretch without points: there nothing arrived
    held,   // each value held until the next point (a running estimate, or a delay, that nothing changes in between)
};

// The spacing of a series' points that counts as a stretch without any:
// two and a half times the usual (the median) spacing, and at least 50 ms;
// one lost packet, or an arrival a jitter late, still joins the line.
double break_spacing(const std::vector<plot_series_point>& points) {
    std::vector<double> spacing;
    for (std::size_t i = 1; i < points.size(); ++i) spacing.push_back(points[i].seconds - points[i - 1].seconds);
    if (spacing.empty()) return HUGE_VAL;
    std::nth_element(spacing.begin(), spacing.begin() + spacing.size() / 2, spacing.end());
    return std::max(0.05, 2.5 * spacing[spacing.size() / 2]);
}

void draw_series(cairo_t* cr, const plot_layout& layout, const plot_track& t, const plot_box& box,
                 const std::vector<plot_series_point>& points, double top_value, mark_colour colour, joined join,
                 double line_width = 1.0, double end_seconds = -1.0) {
    if (points.empty()) return;
    const cairo_functions& g = cairo();
    clip_to(cr, box);
    set_colour(cr, colour);
    g.cairo_set_line_width(cr, line_width);
    const double gap = join == joined::broken ? break_spacing(points) : HUGE_VAL;
    bool first = true;
    double last_y = 0.0;
    for (std::size_t i = 0; i < points.size(); ++i) {
        const plot_series_point& p = points[i];
        double x = series_x(layout, t, p.seconds);
        if (join == joined::held) {
            // A value set before the window holds into it.
            x = std::clamp(x, 2 * layout.frame_x(layout.first_frame) - layout.frame_x(layout.first_frame + layout.frames),
                           2 * layout.frame_x(layout.first_frame + layout.frames) - layout.frame_x(layout.first_frame));
        } else if (!near_window(layout, x)) {
            first = true;
            continue;
        }
        const double y = series_y(box, p.value, top_value);
        const bool after_gap = i > 0 && p.seconds - points[i - 1].seconds > gap;
        if (after_gap) {
            // A lone point after a stretch without arrivals is shown as a dot.
            g.cairo_stroke(cr);
            g.cairo_rectangle(cr, x - 1.5, y - 1.5, 3, 3);
            g.cairo_fill(cr);
        }
        if (first || after_gap) g.cairo_move_to(cr, x, y);
        else {
            if (join == joined::held) g.cairo_line_to(cr, x, last_y);
            g.cairo_line_to(cr, x, y);
        }
        first = false;
        last_y = y;
    }
    if (join == joined::held && !first && end_seconds >= 0)
        g.cairo_line_to(cr, std::min(series_x(layout, t, end_seconds), 2 * layout.frame_x(layout.first_frame + layout.frames)), last_y);
    g.cairo_stroke(cr);
    g.cairo_restore(cr);
}

std::string number(double v, const char* format) {
    char s[64];
    std::snprintf(s, sizeof s, format, v);
    return s;
}

// The largest value drawn within the window (for a held series, the one
// held into it too), rounded up to 10, and at least `least`.
double scale_top(const plot_layout& layout, const plot_track& t, const std::vector<plot_series_point>& points, joined join,
                 double least = 20.0) {
    double top = least;
    const double left = layout.frame_x(layout.first_frame), right = layout.frame_x(layout.first_frame + layout.frames);
    for (std::size_t i = 0; i < points.size(); ++i) {
        const double x = series_x(layout, t, points[i].seconds);
        const bool held_in = join == joined::held && x < left && (i + 1 == points.size() || series_x(layout, t, points[i + 1].seconds) > left);
        if (((x >= left && x <= right) || held_in) && std::isfinite(points[i].value)) top = std::max(top, points[i].value);
    }
    // Past an hour the panel shows that much, not more: a crafted capture's
    // transit of years would leave no scale to read.
    return std::ceil(std::min(top, 3.6e6) / 10.0) * 10.0;
}

// The marks over the transit: a marker bit a tick down from the top, a
// reordered packet a triangle, a copy a cross.
mark_colour colour_of(packet_mark mark) {
    switch (mark) {
    case packet_mark::reordered: return {255, 150, 0};
    case packet_mark::duplicate: return {180, 40, 180};
    case packet_mark::marker: return {0, 120, 200};
    }
    return {0, 0, 0};
}

// A mark in a row 14 px high from `top`.
void draw_packet_mark(cairo_t* cr, packet_mark kind, double x, double top) {
    const cairo_functions& g = cairo();
    set_colour(cr, colour_of(kind));
    g.cairo_set_line_width(cr, 1.5);
    switch (kind) {
    case packet_mark::marker:
        g.cairo_move_to(cr, x, top);
        g.cairo_line_to(cr, x, top + 14);
        g.cairo_stroke(cr);
        break;
    case packet_mark::reordered:
        g.cairo_move_to(cr, x - 4, top + 11);
        g.cairo_line_to(cr, x + 4, top + 11);
        g.cairo_line_to(cr, x, top + 3);
        g.cairo_fill(cr);
        break;
    case packet_mark::duplicate:
        g.cairo_move_to(cr, x - 3, top + 4);
        g.cairo_line_to(cr, x + 3, top + 10);
        g.cairo_move_to(cr, x + 3, top + 4);
        g.cairo_line_to(cr, x - 3, top + 10);
        g.cairo_stroke(cr);
        break;
    }
}

void draw_network(const painter& p, const plot_layout& layout, const plot_track& t, const track_layout& l) {
    const cairo_functions& g = cairo();
    cairo_t* cr = p.cr;
    // Arrival delta on the left scale, jitter on its own on the right.
    const double delta_top = scale_top(layout, t, t.arrival_delta_ms, joined::broken);
    const double jitter_top = scale_top(layout, t, t.jitter_ms, joined::held, 10.0);
    draw_series(cr, layout, t, l.arrivals, t.arrival_delta_ms, delta_top, kDeltaColour, joined::broken);
    draw_series(cr, layout, t, l.arrivals, t.jitter_ms, jitter_top, kJitterColour, joined::held);
    frame_box(cr, l.arrivals);
    const double right = l.arrivals.left + l.arrivals.width + 4;
    set_colour(cr, kDeltaColour);
    text(p, 8, l.arrivals.top + 10, number(delta_top, "%.0f ms"), 10);
    text(p, 8, l.arrivals.top + l.arrivals.height, "0 ms", 10);
    text(p, l.arrivals.left + 6, l.arrivals.top + 12, "arrival delta, ms (left scale)", 10);
    set_colour(cr, kJitterColour);
    text(p, right, l.arrivals.top + 10, number(jitter_top, "%.0f ms"), 10);
    text(p, right, l.arrivals.top + l.arrivals.height, "0 ms", 10);
    text(p, l.arrivals.left + 190, l.arrivals.top + 12, "jitter (RFC 3550), ms (right scale)", 10);

    // Transit, and the playout delay of the buffer over it: a packet above
    // the line came too late for the buffer. Beneath the panel's key, a row
    // of marks for the packets out of the ordinary.
    const plot_box values{l.transit.left, l.transit.top + kTransitHeader, l.transit.width, l.transit.height - kTransitHeader};
    const double top = std::max(scale_top(layout, t, t.transit_ms, joined::broken), scale_top(layout, t, t.playout_ms, joined::held));
    // The packets over the line, so that one on it stays in sight.
    draw_series(cr, layout, t, values, t.playout_ms, top, kPlayoutColour, joined::held, 1.5, t.playout_end_seconds);
    draw_series(cr, layout, t, values, t.transit_ms, top, kTransitColour, joined::broken);
    // Counted as drawn: those in the window.
    std::size_t counts[3] = {0, 0, 0};
    clip_to(cr, l.transit);
    for (const plot_packet_mark& m : t.packet_marks) {
        const double x = series_x(layout, t, m.seconds);
        if (x < l.transit.left || x > l.transit.left + l.transit.width) continue;
        draw_packet_mark(cr, m.kind, x, l.transit.top + 14);
        ++counts[std::size_t(m.kind)];
    }
    g.cairo_restore(cr);
    frame_box(cr, l.transit);
    g.cairo_set_source_rgb(cr, 0.3, 0.3, 0.3);
    text(p, 8, values.top + 10, number(top, "%.0f ms"), 10);
    text(p, 8, values.top + values.height, "0 ms", 10);
    double x = l.transit.left + 6;
    const double y = l.transit.top + 12;
    // The key, each entry as wide as its words.
    auto key = [&](mark_colour colour, const std::string& words) {
        set_colour(cr, colour);
        text(p, x, y, words, 10);
        x += 6.0 * double(words.size()) + 14.0;
    };
    key(kTransitColour, "transit above the fastest packet, ms");
    key(kPlayoutColour, t.buffer_name.empty() ? "no jitter buffer modelled" : "playout delay of the " + t.buffer_name);
    const std::pair<packet_mark, const char*> marks[] = {
        {packet_mark::marker, "marker bit"}, {packet_mark::reordered, "reordered"}, {packet_mark::duplicate, "duplicated"}};
    for (const auto& [kind, name] : marks) {
        draw_packet_mark(cr, kind, x + 4, l.transit.top + 2);
        x += 12;
        key(colour_of(kind), std::string(name) + " (" + std::to_string(counts[std::size_t(kind)]) + ")");
    }
}

// Time of day on the capture clock, "03:04:05" (with tenths, "03:04:05.2").
std::string time_of_day(int64_t ns, bool tenths) {
    int64_t whole = ns / 1000000000, rest = ns % 1000000000;
    if (rest < 0) {
        --whole;
        rest += 1000000000;
    }
    const std::time_t seconds = std::time_t(whole);
    std::tm tm{};
    gmtime_r(&seconds, &tm);
    char s[32];
    std::snprintf(s, sizeof s, "%02d:%02d:%02d", tm.tm_hour, tm.tm_min, tm.tm_sec);
    return tenths ? s + number(double(rest / 100000000), ".%.0f") : std::string(s);
}

constexpr int64_t kNsPerFrame = 10 * 1000 * 1000;
constexpr int64_t kDayNs = int64_t(86400) * 1000000000;

// The time axis: at most twelve steps whatever the span; beyond an hour a
// step, whole hours (a capture's clock can claim a span of years). Up to a
// day on the capture's clock, the ticks are its times of day at whole
// steps; otherwise seconds (or hours) from the start of the axis, with the
// start stamped beneath.
void draw_time_axis(const painter& p, const plot_layout& layout, const plot_axis& axis) {
    const cairo_functions& g = cairo();
    cairo_t* cr = p.cr;
    const double axis_y = layout.height - kAxis + 4;
    const double seconds = double(layout.frames) / 100.0;
    double step = 0.0;
    for (double s : {0.1, 0.2, 0.5, 1.0, 2.0, 5.0, 10.0, 30.0, 60.0, 120.0, 300.0, 600.0, 1800.0, 3600.0})
        if (seconds / s <= 12.0) {
            step = s;
            break;
        }
    if (step == 0.0) step = std::ceil(seconds / 12.0 / 3600.0) * 3600.0;
    const int64_t step_ns = int64_t(std::llround(step * 1e9));
    const bool clock_ticks = axis.clock && frames_ns(layout.frames) <= kDayNs;
    // Ticks at whole steps of the clock (or of the offset from frame 0).
    const int64_t origin_ns = clock_ticks ? axis.start_ns : 0;
    const int64_t from_ns = saturating_add(origin_ns, frames_ns(layout.first_frame));
    const int64_t to_ns = saturating_add(from_ns, frames_ns(layout.frames));
    int64_t tick = from_ns / step_ns * step_ns;
    if (tick < from_ns) tick = saturating_add(tick, step_ns);
    g.cairo_set_source_rgb(cr, 0.2, 0.2, 0.2);
    g.cairo_set_line_width(cr, 1);
    for (int n = 0; n <= 13 && tick <= to_ns; ++n, tick = saturating_add(tick, step_ns)) {
        const double frame = double(saturating_sub(tick, origin_ns)) / double(kNsPerFrame);
        const double x = kMargin + (frame - double(layout.first_frame)) * (layout.frame_x(1) - layout.frame_x(0));
        g.cairo_move_to(cr, x, axis_y);
        g.cairo_line_to(cr, x, axis_y + 5);
        g.cairo_stroke(cr);
        const std::string label = clock_ticks     ? time_of_day(tick, step < 1.0)
                                  : step >= 3600.0 ? number(double(tick) / 3.6e12, "%.0f h")
                                  : step < 1.0     ? number(double(tick) / 1e9, "%.1f s")
                                                   : number(double(tick) / 1e9, "%.0f s");
        text(p, x - (clock_ticks ? 20 : 8), axis_y + 17, label, 10);
    }
    std::string caption = !axis.clock   ? "time from the start of the file"
                          : clock_ticks ? "time of day, UTC, on the capture's clock; the streams start " + capture_time(axis.start_ns)
                                        : "time from the streams' start, " + capture_time(axis.start_ns) + " on the capture's clock";
    if (axis.windowed)
        caption += number(double(layout.first_frame) / 100.0, "; drawn from %.2f s") +
                   number(double(layout.first_frame + layout.frames) / 100.0, " to %.2f s");
    text(p, kMargin, axis_y + 34, caption, 10);
}

void draw(const painter& p, const std::vector<plot_track>& tracks, const plot_layout& layout, const plot_axis& axis,
          const std::string& title) {
    const cairo_functions& g = cairo();
    cairo_t* cr = p.cr;
    g.cairo_set_source_rgb(cr, 1, 1, 1);
    g.cairo_paint(cr);
    g.cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    g.cairo_set_source_rgb(cr, 0, 0, 0);
    text(p, kMargin, 26, title, 15);

    // Frames within the window.
    const int64_t window_end = layout.first_frame + layout.frames;
    auto frames_in_window = [&](const plot_track& t) {
        const int64_t size = int64_t(t.frames.size());
        return std::pair<int64_t, int64_t>{std::clamp<int64_t>(layout.first_frame - t.start_frame, 0, size),
                                           std::clamp<int64_t>(window_end - t.start_frame, 0, size)};
    };
    for (std::size_t k = 0; k < tracks.size(); ++k) {
        const plot_track& t = tracks[k];
        const track_layout& l = layout.tracks[k];
        const auto [first_frame, end_frame] = frames_in_window(t);
        g.cairo_set_source_rgb(cr, 0, 0, 0);
        text(p, kMargin, l.level.top - 6, t.title, 12);

        // Silences the sender did not transmit, shaded across the level panel.
        for (int64_t f = first_frame; f < end_frame; ++f) {
            if (t.frames[f] != frame_mark::untransmitted && t.frames[f] != frame_mark::sid) continue;
            const double x0 = layout.frame_x(t.start_frame + f);
            const double x1 = layout.frame_x(t.start_frame + f + 1);
            g.cairo_set_source_rgb(cr, 0.92, 0.92, 0.92);
            g.cairo_rectangle(cr, x0, l.level.top, std::max(1.0, x1 - x0), l.level.height);
            g.cairo_fill(cr);
        }
        // Level grid at -20, -40, -60 dBFS.
        g.cairo_set_line_width(cr, 1);
        for (int db = -20; db > kFloorDb; db -= 20) {
            const double y = std::floor(l.level.top + l.level.height * (double(db) / kFloorDb)) + 0.5;
            g.cairo_set_source_rgb(cr, 0.85, 0.85, 0.85);
            g.cairo_move_to(cr, l.level.left, y);
            g.cairo_line_to(cr, l.level.left + l.level.width, y);
            g.cairo_stroke(cr);
            g.cairo_set_source_rgb(cr, 0.3, 0.3, 0.3);
            text(p, 4, y + 4, std::to_string(db) + " dBFS", 10);
        }
        // The level, a step per 20 ms.
        clip_to(cr, l.level);
        g.cairo_set_source_rgb(cr, 0.1, 0.3, 0.7);
        g.cairo_set_line_width(cr, 1.2);
        const std::size_t first_level = std::size_t(first_frame / 2);
        const std::size_t end_level = std::min(t.level_dbfs.size(), std::size_t((end_frame + 1) / 2));
        for (std::size_t i = first_level; i < end_level; ++i) {
            const double v = std::clamp(t.level_dbfs[i], kFloorDb, 0.0);
            const double y = l.level.top + l.level.height * (v / kFloorDb);
            const double x0 = layout.frame_x(t.start_frame + int64_t(2 * i));
            const double x1 = layout.frame_x(t.start_frame + int64_t(2 * i) + 2);
            if (i == first_level) g.cairo_move_to(cr, x0, y);
            else g.cairo_line_to(cr, x0, y);
            g.cairo_line_to(cr, x1, y);
        }
        g.cairo_stroke(cr);
        g.cairo_restore(cr);
        frame_box(cr, l.level);
        g.cairo_set_source_rgb(cr, 0.3, 0.3, 0.3);
        text(p, l.level.left + 6, l.level.top + 14, "level, dBFS per 20 ms (grey: silence the sender did not transmit)", 10);

        // What became of each frame.
        for (int64_t f = first_frame; f < end_frame; ++f) {
            if (t.frames[f] == frame_mark::speech) continue;
            const double x0 = std::floor(layout.frame_x(t.start_frame + f));
            const double x1 = std::floor(layout.frame_x(t.start_frame + f + 1));
            set_colour(cr, colour_of(t.frames[f]));
            g.cairo_rectangle(cr, x0, l.marks.top, std::max(1.0, x1 - x0), l.marks.height);
            g.cairo_fill(cr);
        }
        frame_box(cr, l.marks);
        g.cairo_set_source_rgb(cr, 0.3, 0.3, 0.3);
        text(p, 4, l.marks.top + 11, "frames", 10);

        if (t.network) draw_network(p, layout, t, l);
        double y = (t.network ? l.transit.top + l.transit.height : l.marks.top + l.marks.height) + kGap + 10;
        g.cairo_set_source_rgb(cr, 0.15, 0.15, 0.15);
        for (const std::string& line : t.legend) {
            text(p, kMargin, y, line, 10);
            y += kLegendLine;
        }
    }

    draw_time_axis(p, layout, axis);
    // The key to the frame marks, each entry as wide as its words.
    double x = layout.width - 560.0;
    const std::pair<frame_mark, const char*> key[] = {{frame_mark::lost, "lost"},
                                                      {frame_mark::late, "late"},
                                                      {frame_mark::concealed, "bad, concealed"},
                                                      {frame_mark::sid, "SID"},
                                                      {frame_mark::untransmitted, "not transmitted"}};
    for (const auto& [mark, name] : key) {
        set_colour(cr, colour_of(mark));
        g.cairo_rectangle(cr, x, 14, 10, 10);
        g.cairo_fill(cr);
        g.cairo_set_source_rgb(cr, 0.2, 0.2, 0.2);
        text(p, x + 14, 23, name, 10);
        x += 6.0 * double(std::strlen(name)) + 30.0;
    }
}

// The characters XML needs escaped, and bytes that are no UTF-8 (a file
// name may hold any) as U+FFFD, so that the SVG stays well formed.
std::string xml_text(const std::string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        std::size_t length = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        bool valid = length > 0 && i + length <= s.size() && !(length == 2 && c < 0xc2);
        for (std::size_t k = 1; valid && k < length; ++k) valid = (static_cast<unsigned char>(s[i + k]) >> 6) == 2;
        if (!valid) {
            out += "\xef\xbf\xbd";
            ++i;
            continue;
        }
        if (c == '&') out += "&amp;";
        else if (c == '<') out += "&lt;";
        else if (c == '>') out += "&gt;";
        else if (c < 0x20) out += ' ';
        else out.append(s, i, length);
        i += length;
    }
    return out;
}

// The SVG's words, as text elements before its end.
std::string with_text(std::string svg, const std::vector<svg_text>& texts) {
    std::string elements = "<g font-family=\"sans-serif\">\n";
    for (const svg_text& t : texts)
        elements += format_text("<text x=\"%.1f\" y=\"%.1f\" font-size=\"%.0f\" fill=\"rgb(%d,%d,%d)\">", t.x, t.y, t.size,
                                int(std::lround(t.r * 255)), int(std::lround(t.g * 255)), int(std::lround(t.b * 255))) +
                    xml_text(t.s) + "</text>\n";
    elements += "</g>\n";
    const std::size_t end = svg.rfind("</svg>");
    svg.insert(end == std::string::npos ? svg.size() : end, elements);
    return svg;
}

} // namespace

int64_t frames_ns(int64_t frames) {
    constexpr int64_t kMost = std::numeric_limits<int64_t>::max() / kNsPerFrame;
    return frames > kMost ? std::numeric_limits<int64_t>::max() : frames < -kMost ? std::numeric_limits<int64_t>::min() : frames * kNsPerFrame;
}

double plot_layout::frame_x(int64_t frame) const {
    return kMargin + double(frame - first_frame) * (double(width) - kMargin - kRightMargin) / double(frames);
}

plot_layout layout_plot(const std::vector<plot_track>& tracks, const plot_axis& axis, int width) {
    plot_layout layout;
    layout.width = width;
    int64_t first = 0, last = 1;
    bool any = false;
    for (const plot_track& t : tracks) {
        const int64_t end = t.start_frame + int64_t(t.frames.size());
        first = any ? std::min(first, t.start_frame) : t.start_frame;
        last = any ? std::max(last, end) : end;
        any = true;
    }
    if (axis.windowed) {
        first = axis.from_frame;
        last = axis.to_frame;
    }
    layout.first_frame = first;
    layout.frames = std::max<int64_t>(1, last - first);
    double y = kHeader;
    const double inner = double(width) - kMargin - kRightMargin;
    for (const plot_track& t : tracks) {
        track_layout l;
        l.level = {kMargin, y + kTrackTitle, inner, kLevelHeight};
        l.marks = {kMargin, l.level.top + kLevelHeight + kGap / 2, inner, kMarksHeight};
        l.arrivals = {kMargin, l.marks.top + kMarksHeight + kGap, inner, t.network ? kArrivalHeight : 0};
        l.transit = {kMargin, l.arrivals.top + l.arrivals.height + (t.network ? kGap : 0), inner, t.network ? kTransitHeight : 0};
        layout.tracks.push_back(l);
        y += track_height(t);
    }
    layout.height = int(std::ceil(y + kAxis));
    return layout;
}

mark_colour colour_of(frame_mark mark) {
    switch (mark) {
    case frame_mark::speech: return {255, 255, 255};
    case frame_mark::sid: return {70, 130, 220};
    case frame_mark::untransmitted: return {170, 170, 170};
    case frame_mark::lost: return {220, 30, 30};
    case frame_mark::late: return {255, 150, 0};
    case frame_mark::concealed: return {180, 40, 180};
    }
    return {0, 0, 0};
}

// cairo hands the encoded picture over piece by piece; a failed write is
// reported back to it rather than thrown through its C frames.
cairo_status_t write_to(void* closure, const unsigned char* data, unsigned int length) {
    try {
        static_cast<output_file*>(closure)->write(data, length);
        return CAIRO_STATUS_SUCCESS;
    } catch (...) {
        return CAIRO_STATUS_WRITE_ERROR;
    }
}

// An SVG is held until its words are added.
cairo_status_t keep(void* closure, const unsigned char* data, unsigned int length) {
    try {
        static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
        return CAIRO_STATUS_SUCCESS;
    } catch (...) {
        return CAIRO_STATUS_NO_MEMORY;
    }
}

void draw_plot(const std::vector<plot_track>& tracks, const plot_axis& axis, const std::string& path, const std::string& title) {
    const plot_layout layout = layout_plot(tracks, axis);
    const std::string ext = extension_of(path);
    if (ext != "png" && ext != "svg" && ext != "pdf")
        throw usage_error(path + ": a picture is written as .png, .svg or .pdf");
    // The picture appears under its name only once it is whole.
    // Loaded before anything is opened or drawn.
    // cairo draws an image of at most 32767 pixels a side; past that it
    // names no file and says only "invalid value".
    constexpr int kMaxImageSide = 32767;
    if (ext == "png" && layout.height > kMaxImageSide)
        throw tool_error(path, "a PNG is at most " + std::to_string(kMaxImageSide) + " pixels high, and " +
                                   std::to_string(tracks.size()) + " streams need " + std::to_string(layout.height) +
                                   ": write .svg or .pdf instead");
    const cairo_functions& g = cairo();
    const fontconfig_functions& fc = fontconfig();
    output_file out(operand{path});
    std::string svg;
    std::vector<svg_text> svg_words;
    cairo_surface_t* surface =
        ext == "png"   ? g.cairo_image_surface_create(CAIRO_FORMAT_RGB24, layout.width, layout.height)
        : ext == "svg" ? g.cairo_svg_surface_create_for_stream(keep, &svg, layout.width, layout.height)
                       : g.cairo_pdf_surface_create_for_stream(write_to, &out, layout.width, layout.height);
    cairo_t* cr = g.cairo_create(surface);
    draw(painter{cr, ext == "svg" ? &svg_words : nullptr}, tracks, layout, axis, title);
    g.cairo_destroy(cr);
    g.cairo_surface_flush(surface);
    cairo_status_t status = g.cairo_surface_status(surface);
    if (status == CAIRO_STATUS_SUCCESS && ext == "png") status = g.cairo_surface_write_to_png_stream(surface, write_to, &out);
    // SVG and PDF are written out as the surface finishes.
    g.cairo_surface_finish(surface);
    if (status == CAIRO_STATUS_SUCCESS) status = g.cairo_surface_status(surface);
    g.cairo_surface_destroy(surface);
    // cairo and fontconfig keep their font caches for the life of the
    // process; a picture is drawn once, so they go with it, and the leak
    // checkers of the sanitizer and fuzzing builds see nothing left behind.
    g.cairo_debug_reset_static_data();
    fc.FcFini();
    if (status != CAIRO_STATUS_SUCCESS) throw tool_error(out.name(), std::string("cannot write the picture: ") + g.cairo_status_to_string(status));
    if (ext == "svg") {
        const std::string whole = with_text(std::move(svg), svg_words);
        out.write(whole.data(), whole.size());
    }
    out.commit();
}

} // namespace g729::tool
