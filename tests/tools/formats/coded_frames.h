// Checks on whole coded streams that the tool itself does frame by frame:
// the counts of a list of frames, and whether .g729 can hold them. Shared by
// the format tests and the fuzz target of the tool's readers.
#pragma once

#include <cstddef>
#include <optional>
#include <vector>

#include "tools/formats/coded_stream.h"

namespace g729::tool::testing {

inline stream_counts count_frames(const std::vector<coded_frame>& frames) {
    stream_counts counts;
    for (const coded_frame& frame : frames) count_frame(counts, frame);
    return counts;
}

// A SID frame followed by any transmitted frame cannot be stored in .g729
// (the reader would split the bytes after it wrongly): its index, or none.
inline std::optional<std::size_t> first_unstorable_in_g729(const std::vector<coded_frame>& frames) {
    std::optional<std::size_t> pending_sid;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        if (frames[i].kind == frame_kind::untransmitted) continue;
        if (pending_sid) return pending_sid;
        if (frames[i].kind == frame_kind::sid) pending_sid = i;
    }
    return std::nullopt;
}

} // namespace g729::tool::testing
