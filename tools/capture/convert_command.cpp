// g729a convert CAPTURE OUT: the G.729 of the chosen streams as it came,
// without decoding, into a .bit file (or .g729 when nothing is missing), or
// a folder of .bit files; all or nothing, within the limits on files and
// audio that decode keeps.
#include "tools/capture/capture_commands.h"


#include <sys/stat.h>

#include "tools/capture/call.h"
#include "tools/capture/capture_input.h"
#include "tools/capture/playback.h"
#include "tools/common/output_file.h"
#include "tools/common/output_folder.h"
#include "tools/common/progress.h"
#include "tools/common/text.h"
#include "tools/common/tool_error.h"
#include "tools/formats/coded_stream.h"
#include "tools/formats/format_names.h"

namespace g729::tool {

namespace {

// Why a stream's timeline does not fit .g729, which holds speech frames back
// to back and one SID frame at the very end: empty when it fits.
std::string g729_problem(const g729_stream& s) {
    const stream_stats& st = s.rebuilt.stats;
    const std::size_t missing = st.frames - st.speech_frames - st.sid_frames;
    std::size_t sid_before_end = 0;
    const std::vector<timeline_entry>& t = s.rebuilt.timeline;
    for (std::size_t i = 0; i + 1 < t.size(); ++i) sid_before_end += t[i].kind == slot_kind::sid;
    std::string why;
    if (missing > 0) why = plural(missing, "frame", "frames") + " missing (lost, late, untransmitted or unusable)";
    if (sid_before_end > 0)
        why += (why.empty() ? "" : " and ") + plural(sid_before_end, "SID frame", "SID frames") + " before the end";
    if (why.empty()) return why;
    return hex_ssrc(s.key.ssrc) + " has " + why + ", which .g729 cannot hold without moving what follows; write .bit to keep the timeline";
}

// One file of the run: a stream into its place.
struct planned_file {
    std::string path;
    bool generated = false; // a name made up inside the output folder
    bool bit = true;
    const g729_stream* stream = nullptr;
};

// "0x1a2b3c4d 10.0.0.1:4000 -> 10.0.0.2:5000: 530 frames (400 speech, 20
// SID, 100 untransmitted, 10 erased)".
std::string written_text(const g729_stream& s) {
    const stream_stats& st = s.rebuilt.stats;
    const std::size_t erased = st.lost_frames + st.late_frames + st.skipped_frames;
    std::string text = stream_label(s) + ": " + plural(st.frames, "frame", "frames") + " (" + std::to_string(st.speech_frames) +
                       " speech, " + std::to_string(st.sid_frames) + " SID";
    if (st.dtx_frames > 0) text += ", " + std::to_string(st.dtx_frames) + " untransmitted";
    if (erased > 0) text += ", " + std::to_string(erased) + " erased";
    return text + ")";
}

void write_stream(output_file& target, const g729_stream& s, bool bit) {
    std::vector<uint8_t> bytes;
    for (const timeline_entry& e : s.rebuilt.timeline) {
        const coded_frame f = entry_frame(e);
        bytes.clear();
        // A run of missing frames is one entry: each of its frames is written.
        for (std::size_t i = 0; i < e.frames; ++i) {
            if (bit)
                append_bit_frame(bytes, f);
            else
                append_g729_frame(bytes, f);
            if (bytes.size() >= 65536) {
                target.write(bytes.data(), bytes.size());
                bytes.clear();
            }
        }
        target.write(bytes.data(), bytes.size());
    }
}

int capture_convert(const capture_source& in, const std::string& out, const command_options& options) {
    const std::string& path = in.name;
    reporter report(options.quiet, "convert");
    const capture_contents c = read_call(in, options);
    if (!c.problem.empty()) report.notice(path, cut_short_text(c) + "; converted the packets before it");
    const std::vector<const g729_stream*> chosen = chosen_streams(path, c, options);

    struct stat st;
    const bool is_directory = stat(out.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    const file_format format = format_from_extension(out);
    std::vector<planned_file> plan;
    bool make_directory = false;
    if (!is_directory && (format == file_format::bit || format == file_format::g729)) {
        if (chosen.size() != 1)
            throw tool_error(path, "holds " + plural(chosen.size(), "G.729 stream", "G.729 streams") +
                                       ": give a directory as OUT, or choose one with --stream SSRC (" + stream_list(chosen) + ")");
        plan.push_back({out, false, format == file_format::bit, chosen[0]});
    } else if (is_directory || format == file_format::unknown) {
        make_directory = !is_directory;
        for (const g729_stream* s : chosen) plan.push_back({stream_file_stem(*s) + ".bit", true, true, s});
    } else {
        throw tool_error(out, "convert of a capture writes a .bit or .g729 file, or a directory of .bit files");
    }

    // The limits that keep a crafted capture from filling the disk: refused
    // before anything is written. A missing frame takes 4 bytes of .bit.
    if (plan.size() > options.max_files)
        throw tool_error(path, "would write " + std::to_string(plan.size()) + " files, more than the limit of " +
                                   std::to_string(options.max_files) +
                                   " (--max-files N raises it; --stream SSRC converts one stream)");
    std::size_t total = 0;
    for (const planned_file& f : plan) total += f.stream->rebuilt.stats.frames;
    check_audio_limit(path, total, "write", "", options, chosen);
    for (const planned_file& f : plan)
        if (!f.bit) {
            const std::string problem = g729_problem(*f.stream);
            if (!problem.empty()) throw tool_error(path, problem);
        }
    report_rebuilt_streams(report, path, chosen, options, "kept");

    // All or nothing, as decode writes.
    std::vector<planned_output> files;
    for (const planned_file& f : plan) files.push_back({f.path, f.generated});
    write_all_or_nothing(files, out, make_directory, [&](output_file& target, std::size_t i) {
        write_stream(target, *plan[i].stream, plan[i].bit);
    });
    for (const planned_file& f : plan) report.notice(f.generated ? out + "/" + f.path : f.path, written_text(*f.stream));
    if (c.skipped.total() > 0)
        report.notice(path, plural(c.skipped.total(), "packet", "packets") + " skipped: " + skipped_text(c.skipped));
    report.summary(total, double(total) * kFrameSamples / G729A_SAMPLE_RATE, false);
    return 0;
}

} // namespace

int convert_capture(const std::vector<std::string>& operands, const command_options& options) {
    if (operands.size() != 2)
        throw usage_error("convert of a capture takes two files, IN and OUT (a .bit or .g729 file, or a directory); got " +
                          std::to_string(operands.size()));
    const std::string& out = operands[1];
    if (out == "-") throw usage_error("convert of a capture writes files: OUT is a .bit or .g729 file or a directory, not '-'");
    if (out == operands[0]) throw usage_error("IN and OUT are the same file");
    return with_capture(operands[0], "convert", [&](const capture_source& in) { return capture_convert(in, out, options); });
}

} // namespace g729::tool
