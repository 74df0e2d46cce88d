// g729a decode CAPTURE OUT: the chosen streams into .wav files (or one
// .wav/.raw), and --mix, both directions side by side; all or nothing,
// within the limits on files and audio.
#include "tools/capture/capture_commands.h"

#include <algorithm>

#include <sys/stat.h>

#include "tools/capture/call.h"
#include "tools/capture/capture_input.h"
#include "tools/capture/playback.h"
#include "tools/common/output_file.h"
#include "tools/common/output_folder.h"
#include "tools/common/progress.h"
#include "tools/common/text.h"
#include "tools/common/tool_error.h"
#include "tools/formats/audio_sink.h"
#include "tools/formats/format_names.h"

namespace g729::tool {

namespace {

std::string stream_file_name(const g729_stream& s) { return stream_file_stem(s) + ".wav"; }

std::string stream_summary(const g729_stream& s) {
    const stream_stats& st = s.rebuilt.stats;
    std::string text = stream_label(s) + ", " + plural(st.frames, "frame", "frames");
    std::string details;
    auto add = [&](std::size_t n, const std::string& what) {
        if (n > 0) details += (details.empty() ? "" : ", ") + what;
    };
    add(st.lost_packets, plural(st.lost_packets, "packet", "packets") + " lost");
    add(st.dtx_gaps, plural(st.dtx_gaps, "DTX gap", "DTX gaps"));
    add(st.duplicates, plural(st.duplicates, "duplicate", "duplicates"));
    add(st.reordered, std::to_string(st.reordered) + " reordered");
    add(st.stale, std::to_string(st.stale) + " stale");
    add(st.restarts, plural(st.restarts, "restart", "restarts"));
    // What the jitter buffer modelled dropped, concealed in the audio.
    const stream_network& n = s.network;
    if (n.buffered) {
        add(n.playout.late_packets, plural(n.playout.late_packets, "packet", "packets") + " late for the " + buffer_name(n.buffer) + " jitter buffer");
        add(n.playout.discarded_packets, plural(n.playout.discarded_packets, "early packet", "early packets") + " discarded (buffer full)");
        // Its changes of delay within talk spurts, as played: the frames
        // counted first are the sender's timeline, the file holds these
        // fewer or more.
        if (st.dropped_frames + st.repeated_frames > 0)
            add(1, plural(st.dropped_frames, "frame", "frames") + " dropped and " + std::to_string(st.repeated_frames) +
                        " repeated as the buffer's delay changed, " + std::to_string(st.heard_frames()) + " played");
        add(st.drops_not_played, plural(st.drops_not_played, "drop", "drops") + " not played (too few frames near them)");
        add(n.playout.resyncs_not_listed, plural(n.playout.resyncs_not_listed, "change", "changes") +
                                             " of the buffer's delay beyond the limit not played");
    }
    return details.empty() ? text : text + " (" + details + ")";
}

bool reverse_of(const g729_stream& a, const g729_stream& b) {
    return a.key.source == b.key.destination && a.key.destination == b.key.source;
}

bool reverse_addresses_of(const g729_stream& a, const g729_stream& b) {
    return a.key.source.same_address(b.key.destination) && a.key.destination.same_address(b.key.source);
}


// The two directions of the call for --mix: the two streams there are, or
// the chosen one and the stream going the other way.
std::vector<const g729_stream*> mix_pair(const std::string& path, const std::vector<const g729_stream*>& chosen,
                                         const std::vector<g729_stream>& all, bool stream_given) {
    if (!stream_given && chosen.size() == 2) return chosen;
    std::vector<std::vector<const g729_stream*>> pairs;
    for (const g729_stream* a : chosen) {
        for (bool exact : {true, false}) {
            std::vector<const g729_stream*> found;
            for (const g729_stream& b : all)
                if (&b != a && (exact ? reverse_of(*a, b) : reverse_addresses_of(*a, b))) found.push_back(&b);
            if (found.size() == 1) {
                const g729_stream* first = std::min(a, found[0]);
                const g729_stream* second = std::max(a, found[0]);
                bool known = false;
                for (const auto& p : pairs) known = known || (p[0] == first && p[1] == second);
                if (!known) pairs.push_back({first, second});
                break;
            }
        }
    }
    if (pairs.size() == 1) return pairs[0];
    if (chosen.size() == 1) return chosen; // one direction only
    throw tool_error(path, "--mix needs the two directions of one call, and the capture holds " +
                               plural(chosen.size(), "G.729 stream", "G.729 streams") +
                               ": choose one with --stream SSRC (" + stream_list(chosen) + ")");
}

// One file a capture decode writes: a stream, or the two directions of
// --mix side by side.
struct planned_file {
    std::string path;
    bool generated = false; // a name made up inside the output folder
    file_format format = file_format::wav;
    const g729_stream* stream = nullptr; // null: the --mix file
    std::size_t frames = 0;              // 10 ms frames of audio it holds
};

void write_mono(output_file& target, file_format format, const g729_stream& stream, const sink_options& options) {
    audio_sink sink(target, format_id(format), options);
    heard_player player(stream.rebuilt);
    int16_t block[kFrameSamples];
    while (player.next(block)) sink.write(block, kFrameSamples);
    sink.finish();
}

void write_stereo(output_file& target, delayed_channel& left, delayed_channel& right, std::size_t length, sink_options options) {
    options.channels = 2;
    audio_sink sink(target, format_id(file_format::wav), options);
    constexpr std::size_t kChunk = 4096;
    int16_t interleaved[2 * kChunk];
    for (std::size_t done = 0; done < length;) {
        const std::size_t n = std::min(kChunk, length - done);
        for (std::size_t i = 0; i < n; ++i) {
            interleaved[2 * i] = left.next();
            interleaved[2 * i + 1] = right.next();
        }
        sink.write(interleaved, n);
        done += n;
    }
    sink.finish();
}

int capture_decode(const capture_source& in, const std::string* out, const command_options& options) {
    const std::string& path = in.name;
    reporter report(options.quiet, "decode");
    const capture_contents c = read_call(in, options);
    if (!c.problem.empty()) {
        if (options.strict) throw tool_error(path, cut_short_text(c));
        report.notice(path, cut_short_text(c) + "; decoded the packets before it");
    }

    const std::vector<const g729_stream*> chosen = chosen_streams(path, c, options);

    // Where each stream goes.
    std::vector<planned_file> plan;
    bool make_directory = false;
    if (out) {
        struct stat st;
        const bool is_directory = stat(out->c_str(), &st) == 0 && S_ISDIR(st.st_mode);
        const file_format format = format_from_extension(*out);
        if (format == file_format::sndfile || format == file_format::g729 || format == file_format::bit)
            throw tool_error(*out, "decode of a capture writes a directory of .wav files, or one .wav, .raw or .sln file");
        if (!is_directory && (format == file_format::raw || format == file_format::wav)) {
            if (chosen.size() != 1)
                throw tool_error(path, "holds " + plural(chosen.size(), "G.729 stream", "G.729 streams") +
                                           ": give a directory as OUT, or choose one with --stream SSRC (" + stream_list(chosen) +
                                           ")");
            plan.push_back({*out, false, format, chosen[0], chosen[0]->rebuilt.stats.heard_frames()});
        } else {
            make_directory = !is_directory;
            for (const g729_stream* s : chosen)
                plan.push_back({stream_file_name(*s), true, file_format::wav, s, s->rebuilt.stats.heard_frames()});
        }
    }
    std::vector<const g729_stream*> mixed;
    std::vector<std::size_t> offsets;
    if (!options.mix.empty()) {
        if (format_from_extension(options.mix) != file_format::wav)
            throw tool_error(options.mix, "--mix writes a stereo .wav file");
        if (out && !make_directory && plan.size() == 1 && !plan[0].generated && plan[0].path == options.mix)
            throw usage_error("OUT and --mix name the same file");
        mixed = mix_pair(path, chosen, c.streams, options.stream.has_value());
        std::sort(mixed.begin(), mixed.end(), [](const g729_stream* a, const g729_stream* b) {
            return a->rebuilt.stats.start_ns < b->rebuilt.stats.start_ns;
        });
        // Each direction starts where its first audio fell on the capture
        // clock; the later one is preceded by silence, never longer than
        // the longest gap the streams themselves may have.
        std::size_t mix_length = 0;
        for (const g729_stream* s : mixed) {
            const int64_t delay_ns = saturating_sub(s->rebuilt.stats.start_ns, mixed[0]->rebuilt.stats.start_ns);
            if (delay_ns / 1000000000 > int64_t(options.max_gap_seconds))
                throw tool_error(path, "the two directions for --mix start " + std::to_string(delay_ns / 1000000000) +
                                           " s apart, more than the limit of " + std::to_string(options.max_gap_seconds) +
                                           " s (--max-gap SECONDS raises it): not one call");
            offsets.push_back(std::size_t((delay_ns + 62500) / 125000)); // 125 us a sample
            mix_length = std::max(mix_length, offsets.back() + s->rebuilt.stats.heard_frames() * kFrameSamples);
        }
        plan.push_back({options.mix, false, file_format::wav, nullptr, (mix_length + kFrameSamples - 1) / kFrameSamples});
    }

    // The limits that keep a crafted capture from filling the disk: refused
    // before anything is written.
    if (plan.size() > options.max_files)
        throw tool_error(path, "would write " + std::to_string(plan.size()) + " files, more than the limit of " +
                                   std::to_string(options.max_files) +
                                   " (--max-files N raises it; --stream SSRC decodes one stream)");
    std::size_t total = 0;
    for (const planned_file& f : plan) total += f.frames;
    check_audio_limit(path, total, "write", "", options, chosen);

    report_rebuilt_streams(report, path, chosen, options, "decoded");

    std::vector<planned_output> files;
    for (const planned_file& f : plan) files.push_back({f.path, f.generated});
    std::size_t frames = 0;
    write_all_or_nothing(files, out ? *out : std::string(), make_directory,
                         [&](output_file& target, std::size_t i) {
        const planned_file& f = plan[i];
        if (f.stream) {
            write_mono(target, f.format, *f.stream, options.audio);
            frames += f.frames;
        } else {
            const rebuilt_stream nothing;
            delayed_channel left(mixed[0]->rebuilt, offsets[0]);
            delayed_channel right(mixed.size() > 1 ? mixed[1]->rebuilt : nothing, mixed.size() > 1 ? offsets[1] : 0);
            write_stereo(target, left, right, f.frames * kFrameSamples, options.audio);
            if (plan.size() == 1)
                for (const g729_stream* s : mixed) frames += s->rebuilt.stats.heard_frames();
        }
    });
    for (const planned_file& f : plan) {
        const std::string shown = f.generated ? *out + "/" + f.path : f.path;
        if (f.stream) {
            report.notice(shown, stream_summary(*f.stream));
        } else {
            report.notice(shown, "left: " + stream_label(*mixed[0]) +
                                     (mixed.size() > 1 ? "; right: " + stream_label(*mixed[1]) + ", " +
                                                             std::to_string(offsets[1]) + " samples later"
                                                       : "; right: silent (no stream in the other direction)"));
        }
    }
    if (c.skipped.total() > 0)
        report.notice(path, plural(c.skipped.total(), "packet", "packets") + " skipped: " + skipped_text(c.skipped));
    report.summary(frames);
    return 0;
}

} // namespace

int decode_capture(const std::vector<std::string>& operands, const command_options& options) {
    if (operands.size() == 1 && options.mix.empty())
        throw usage_error("decode of a capture takes IN and OUT (a directory or an audio file), or IN and --mix FILE");
    if (operands.size() != 1 && operands.size() != 2)
        throw usage_error("decode takes two files, IN and OUT; got " + std::to_string(operands.size()));
    const std::string* out = operands.size() == 2 ? &operands[1] : nullptr;
    if (out && *out == "-") throw usage_error("decode of a capture writes files: OUT is a directory or an audio file, not '-'");
    if ((out && *out == operands[0]) || options.mix == operands[0]) throw usage_error("IN and OUT are the same file");
    return with_capture(operands[0], "decode", [&](const capture_source& in) { return capture_decode(in, out, options); });
}

} // namespace g729::tool
