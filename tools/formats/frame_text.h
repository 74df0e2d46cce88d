// The texts of coded frames and coded files: dump's words for a frame and
// its header, where a file is malformed, and the warning for a .g729 that is
// probably misaligned.
#pragma once

#include <cstdint>
#include <string>

#include "tools/formats/coded_stream.h"
#include "tools/formats/format_names.h"

namespace g729::tool {

// dump's words for a frame: its type and coded parameters ("speech lsp=...",
// "sid lsf=...", "untransmitted"), and the energy of 80 decoded samples in
// dBFS ("-inf" for silence).
std::string frame_text(const coded_frame& frame);
std::string energy_text(const int16_t* pcm);
// The header lines dump writes before the frames of `name`.
std::string dump_header(const std::string& name);

// Real speech fails the first pitch index's parity check on a few frames at
// most; bytes cut into frames at the wrong places fail it on about half. A
// .g729 with a SID frame in mid-stream is read that way from the SID on.
bool probably_misaligned(const stream_counts& counts);
std::string misaligned_text(const stream_counts& counts);

// "at byte offset 20: 3 bytes at the end are not a frame ..." (.g729), "at
// frame 3 (byte offset 20): ..." (.bit).
std::string where(const stream_fault& fault, file_format format);
// "malformed at byte offset 20: 3 bytes at the end are not a frame ..."
std::string describe(const stream_fault& fault, file_format format);

// The start of dump's line for frame `index`: its number and start time.
std::string frame_line_start(std::size_t index);

} // namespace g729::tool
