// g729a dump CAPTURE: every stream's timeline frame by frame, as dump
// shows a coded file, the missing frames named for why they are missing.
#include "tools/capture/capture_commands.h"

#include <algorithm>

#include "tools/capture/call.h"
#include "tools/capture/capture_input.h"
#include "tools/capture/playback.h"
#include "tools/common/output_file.h"
#include "tools/common/tool_error.h"
#include "tools/formats/frame_text.h"

namespace g729::tool {

namespace {

int capture_dump(const capture_source& in, const command_options& options) {
    const capture_contents c = read_call(in, options);
    const std::vector<const g729_stream*> chosen = chosen_streams(in.name, c, options);
    // A line per 10 ms of every stream: the decode's limit on audio keeps a
    // few packets hours apart from printing millions of lines.
    std::size_t total = 0;
    for (const g729_stream* s : chosen) total += s->rebuilt.stats.frames;
    check_audio_limit(in.name, total, "decode", " to dump", options, chosen);
    std::size_t shown = 0;
    for (const g729_stream* stream : chosen) {
        const g729_stream& s = *stream;
        std::string text = std::string(shown++ ? "\n" : "") + dump_header(in.name + ", stream " + stream_label(s)) +
                           "# missing frames: lost, late (after the jitter buffer's playout time), untransmitted (the sender\n"
                           "# sent nothing) or skipped (unusable packets), then concealed or comfort noise\n";
        write_standard_output(text);
        timeline_player player(s.rebuilt.timeline);
        int16_t pcm[kFrameSamples];
        for (std::size_t index = 0; player.next(pcm); ++index) {
            const timeline_entry& e = player.current();
            std::string line = frame_line_start(index);
            if (!e.missing()) {
                line += frame_text(entry_frame(e));
            } else {
                line += e.kind == slot_kind::lost ? "lost" : e.kind == slot_kind::late ? "late" : e.kind == slot_kind::dtx ? "untransmitted" : "skipped";
                line += g729a_decoder_frame_kind(player.decoder()) == G729A_FRAME_COMFORT_NOISE ? " comfort_noise" : " concealed";
            }
            line += " energy=" + energy_text(pcm) + "\n";
            write_standard_output(line);
        }
    }
    flush_standard_output();
    if (!c.problem.empty()) throw tool_error(in.name, cut_short_text(c));
    return 0;
}

} // namespace

int dump_capture(const std::vector<std::string>& operands, const command_options& options) {
    if (operands.size() != 1) throw usage_error("dump of a capture takes one file, IN; got " + std::to_string(operands.size()));
    return with_capture(operands[0], "dump", [&](const capture_source& in) { return capture_dump(in, options); });
}

} // namespace g729::tool
