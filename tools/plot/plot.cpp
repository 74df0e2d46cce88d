#include "tools/plot/plot.h"

#include <cairo-pdf.h>
#include <cairo-svg.h>
#include <cairo.h>
#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

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
    F(cairo_surface_destroy) F(cairo_status_to_string) F(cairo_debug_reset_static_data)
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
constexpr double kRightMargin = 20;
constexpr double kHeader = 40;        // the picture's title
constexpr double kTrackTitle = 22;
constexpr double kLevelHeight = 150;
constexpr double kMarksHeight = 14;
constexpr double kArrivalHeight = 90;
constexpr double kGap = 8;
constexpr double kLegendLine = 14;
constexpr double kAxis = 30;          // the time axis at the bottom
constexpr double kFloorDb = -80.0;    // bottom of the level panel

double track_height(const plot_track& t) {
    return kTrackTitle + kLevelHeight + kGap / 2 + kMarksHeight + (t.network ? kGap + kArrivalHeight : 0) + kGap +
           kLegendLine * double(t.legend.size()) + kGap;
}

void set_colour(cairo_t* cr, mark_colour c, double alpha = 1.0) {
    const cairo_functions& g = cairo();
    g.cairo_set_source_rgba(cr, c.r / 255.0, c.g / 255.0, c.b / 255.0, alpha);
}

void text(cairo_t* cr, double x, double y, const std::string& s, double size = 11) {
    const cairo_functions& g = cairo();
    g.cairo_set_font_size(cr, size);
    g.cairo_move_to(cr, x, y);
    g.cairo_show_text(cr, s.c_str());
}

void frame_box(cairo_t* cr, const plot_box& b) {
    const cairo_functions& g = cairo();
    g.cairo_set_source_rgb(cr, 0.6, 0.6, 0.6);
    g.cairo_set_line_width(cr, 1);
    g.cairo_rectangle(cr, b.left + 0.5, b.top + 0.5, b.width - 1, b.height - 1);
    g.cairo_stroke(cr);
}

void draw_series(cairo_t* cr, const plot_layout& layout, const plot_track& t, const plot_box& box,
                 const std::vector<plot_series_point>& points, double top_value, mark_colour colour) {
    if (points.empty()) return;
    const cairo_functions& g = cairo();
    set_colour(cr, colour);
    g.cairo_set_line_width(cr, 1);
    bool first = true;
    for (const plot_series_point& p : points) {
        const double x = layout.frame_x(t.start_frame) + p.seconds * 100.0 * (box.width / double(layout.frames));
        const double v = std::clamp(p.value / top_value, 0.0, 1.0);
        const double y = box.top + box.height - v * (box.height - 2) - 1;
        if (first) g.cairo_move_to(cr, x, y);
        else g.cairo_line_to(cr, x, y);
        first = false;
    }
    g.cairo_stroke(cr);
}

std::string number(double v, const char* format) {
    char s[64];
    std::snprintf(s, sizeof s, format, v);
    return s;
}

void draw(cairo_t* cr, const std::vector<plot_track>& tracks, const plot_layout& layout, const std::string& title) {
    const cairo_functions& g = cairo();
    g.cairo_set_source_rgb(cr, 1, 1, 1);
    g.cairo_paint(cr);
    g.cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    g.cairo_set_source_rgb(cr, 0, 0, 0);
    text(cr, kMargin, 26, title, 15);

    for (std::size_t k = 0; k < tracks.size(); ++k) {
        const plot_track& t = tracks[k];
        const track_layout& l = layout.tracks[k];
        g.cairo_set_source_rgb(cr, 0, 0, 0);
        text(cr, kMargin, l.level.top - 6, t.title, 12);

        // Silences the sender did not transmit, shaded across the level panel.
        for (std::size_t f = 0; f < t.frames.size(); ++f) {
            if (t.frames[f] != frame_mark::untransmitted && t.frames[f] != frame_mark::sid) continue;
            const double x0 = layout.frame_x(t.start_frame + int64_t(f));
            const double x1 = layout.frame_x(t.start_frame + int64_t(f) + 1);
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
            text(cr, 8, y + 4, std::to_string(db) + " dB", 10);
        }
        // The level, a step per 20 ms.
        g.cairo_set_source_rgb(cr, 0.1, 0.3, 0.7);
        g.cairo_set_line_width(cr, 1.2);
        for (std::size_t i = 0; i < t.level_dbfs.size(); ++i) {
            const double v = std::clamp(t.level_dbfs[i], kFloorDb, 0.0);
            const double y = l.level.top + l.level.height * (v / kFloorDb);
            const double x0 = layout.frame_x(t.start_frame + int64_t(2 * i));
            const double x1 = layout.frame_x(t.start_frame + int64_t(2 * i) + 2);
            if (i == 0) g.cairo_move_to(cr, x0, y);
            else g.cairo_line_to(cr, x0, y);
            g.cairo_line_to(cr, x1, y);
        }
        g.cairo_stroke(cr);
        frame_box(cr, l.level);

        // What became of each frame.
        for (std::size_t f = 0; f < t.frames.size(); ++f) {
            if (t.frames[f] == frame_mark::speech) continue;
            const double x0 = std::floor(layout.frame_x(t.start_frame + int64_t(f)));
            const double x1 = std::floor(layout.frame_x(t.start_frame + int64_t(f) + 1));
            set_colour(cr, colour_of(t.frames[f]));
            g.cairo_rectangle(cr, x0, l.marks.top, std::max(1.0, x1 - x0), l.marks.height);
            g.cairo_fill(cr);
        }
        frame_box(cr, l.marks);

        if (t.network) {
            double top = 20.0; // ms at the top of the panel, at least
            for (const plot_series_point& p : t.arrival_delta_ms) top = std::max(top, p.value);
            top = std::ceil(top / 10.0) * 10.0;
            draw_series(cr, layout, t, l.arrivals, t.arrival_delta_ms, top, {120, 120, 120});
            draw_series(cr, layout, t, l.arrivals, t.jitter_ms, top, {0, 150, 60});
            frame_box(cr, l.arrivals);
            g.cairo_set_source_rgb(cr, 0.3, 0.3, 0.3);
            text(cr, 8, l.arrivals.top + 10, number(top, "%.0f ms"), 10);
            text(cr, 8, l.arrivals.top + l.arrivals.height, "0 ms", 10);
            g.cairo_set_source_rgb(cr, 0.45, 0.45, 0.45);
            text(cr, l.arrivals.left + 6, l.arrivals.top + 12, "arrival delta", 10);
            g.cairo_set_source_rgb(cr, 0, 0.55, 0.25);
            text(cr, l.arrivals.left + 86, l.arrivals.top + 12, "jitter", 10);
        }
        double y = (t.network ? l.arrivals.top + l.arrivals.height : l.marks.top + l.marks.height) + kGap + 10;
        g.cairo_set_source_rgb(cr, 0.15, 0.15, 0.15);
        for (const std::string& line : t.legend) {
            text(cr, kMargin, y, line, 10);
            y += kLegendLine;
        }
    }

    // The key to the marks and the time axis, in seconds.
    const double axis_y = layout.height - kAxis + 4;
    const double seconds = double(layout.frames) / 100.0;
    // At most twelve steps whatever the span: beyond an hour a step, whole
    // hours (a capture's clock can claim a span of years).
    double step = 0.0;
    for (double s : {1.0, 2.0, 5.0, 10.0, 30.0, 60.0, 120.0, 300.0, 600.0, 1800.0, 3600.0})
        if (seconds / s <= 12.0) {
            step = s;
            break;
        }
    if (step == 0.0) step = std::ceil(seconds / 12.0 / 3600.0) * 3600.0;
    g.cairo_set_source_rgb(cr, 0.2, 0.2, 0.2);
    g.cairo_set_line_width(cr, 1);
    for (double s = 0; s <= seconds + 1e-9; s += step) {
        const double x = layout.frame_x(layout.first_frame + int64_t(std::llround(s * 100.0)));
        g.cairo_move_to(cr, x, axis_y);
        g.cairo_line_to(cr, x, axis_y + 5);
        g.cairo_stroke(cr);
        text(cr, x - 8, axis_y + 17, number(s, "%.0f s"), 10);
    }
    double x = layout.width - 520.0;
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
        text(cr, x + 14, 23, name, 10);
        x += 100;
    }
}

} // namespace

double plot_layout::frame_x(int64_t frame) const {
    return kMargin + double(frame - first_frame) * (double(width) - kMargin - kRightMargin) / double(frames);
}

plot_layout layout_plot(const std::vector<plot_track>& tracks, int width) {
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
    layout.first_frame = first;
    layout.frames = std::max<int64_t>(1, last - first);
    double y = kHeader;
    const double inner = double(width) - kMargin - kRightMargin;
    for (const plot_track& t : tracks) {
        track_layout l;
        l.level = {kMargin, y + kTrackTitle, inner, kLevelHeight};
        l.marks = {kMargin, l.level.top + kLevelHeight + kGap / 2, inner, kMarksHeight};
        l.arrivals = {kMargin, l.marks.top + kMarksHeight + kGap, inner, t.network ? kArrivalHeight : 0};
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

void draw_plot(const std::vector<plot_track>& tracks, const std::string& path, const std::string& title) {
    const plot_layout layout = layout_plot(tracks);
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
    cairo_surface_t* surface =
        ext == "png"   ? g.cairo_image_surface_create(CAIRO_FORMAT_RGB24, layout.width, layout.height)
        : ext == "svg" ? g.cairo_svg_surface_create_for_stream(write_to, &out, layout.width, layout.height)
                       : g.cairo_pdf_surface_create_for_stream(write_to, &out, layout.width, layout.height);
    cairo_t* cr = g.cairo_create(surface);
    draw(cr, tracks, layout, title);
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
    out.commit();
}

} // namespace g729::tool
