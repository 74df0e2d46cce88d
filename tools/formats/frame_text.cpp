#include "tools/formats/frame_text.h"

#include <cmath>

#include "audio/level.h"
#include "tools/common/text.h"

namespace g729::tool {

namespace {

std::string lag_text(int lag, int fraction) {
    if (fraction == 0) return std::to_string(lag);
    return std::to_string(lag) + (fraction > 0 ? "+1/3" : "-1/3");
}

} // namespace

std::string where(const stream_fault& fault, file_format format) {
    if (format == file_format::g729)
        return "at byte offset " + std::to_string(fault.byte_offset) + ": " + fault.problem;
    return "at frame " + std::to_string(fault.frame) + " (byte offset " + std::to_string(fault.byte_offset) + "): " +
           fault.problem;
}

std::string describe(const stream_fault& fault, file_format format) { return "malformed " + where(fault, format); }

bool probably_misaligned(const stream_counts& counts) {
    return counts.parity_errors >= 2 && counts.parity_errors * 10 > counts.speech;
}

std::string misaligned_text(const stream_counts& counts) {
    return "probably misaligned or holding SID frames in mid-stream: " + std::to_string(counts.parity_errors) + " of " +
           plural(counts.speech, "speech frame", "speech frames") +
           " fail the pitch parity check (.g729 cannot mark where a 2-byte SID frame sits; a .bit file or the packet "
           "capture keeps frame boundaries)";
}

std::string frame_text(const coded_frame& frame) {
    g729a_frame_info info{};
    if (frame.kind != frame_kind::untransmitted) g729a_frame_inspect(frame.bytes.data(), std::size_t(frame.size()), &info);
    switch (frame.kind) {
    case frame_kind::speech:
        return format_text("speech lsp=%d,%d,%d,%d lag=%s,%s parity=%s gain=%d/%d,%d/%d", info.lsp_predictor, info.lsp_first,
                           info.lsp_second_low, info.lsp_second_high, lag_text(info.pitch_lag[0], info.pitch_fraction[0]).c_str(),
                           lag_text(info.pitch_lag[1], info.pitch_fraction[1]).c_str(), info.parity_error ? "error" : "ok",
                           info.gain_first[0], info.gain_second[0], info.gain_first[1], info.gain_second[1]);
    case frame_kind::sid:
        return format_text("sid lsf=%d,%d,%d energy_index=%d", info.sid_predictor, info.sid_lsf_first, info.sid_lsf_second,
                           info.sid_energy);
    case frame_kind::untransmitted: break;
    }
    return "untransmitted";
}

std::string energy_text(const int16_t* pcm) {
    const double level = audio::level_dbfs(pcm, kFrame);
    if (std::isinf(level)) return "-inf";
    return format_text("%.1f", level);
}

std::string dump_header(const std::string& name) {
    return "# " + name +
           ": one line per 10 ms frame: index, start time (s), type, then the coded parameters\n"
           "# speech: lsp=L0,L1,L2,L3 lag=T1,T2 (fractions in thirds) parity=ok|error gain=GA1/GB1,GA2/GB2\n"
           "# sid: lsf=predictor,first,second energy_index=E; then bad, concealed (decoded as missing)\n"
           "# and for every frame the energy of its decoded audio, dBFS\n";
}

std::string frame_line_start(std::size_t index) { return format_text("%6zu %9.2f ", index, double(index) / 100.0); }

} // namespace g729::tool
