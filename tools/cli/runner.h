// Running a command on its files: one file, or one of several that info or
// dump read in turn, or a batch on several workers. Each command works on
// one file_job at a time and throws tool_error (exit status 1) or
// usage_error (status 2) when it cannot; the runners turn that into
// messages and an exit status.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/common/command_options.h"
#include "tools/common/operand.h"
#include "tools/common/progress.h"
#include "tools/formats/format_names.h"

namespace g729::tool {

// One input and, for the commands that write, its output, each with the
// format it is read or written in.
struct file_job {
    operand in;
    format_id in_format;
    operand out;
    format_id out_format;
    // Set when the job failed before it could start (a batch input whose
    // name says it cannot be read): reported with the other failures.
    std::string problem;
};

struct file_result {
    std::size_t frames = 0;
    double audio_seconds = 0.0;
};

using file_command = file_result (*)(const file_job& job, const command_options& options, reporter& report);

// One file: notices, the command's summary line; returns the exit status.
int run_single(const std::string& command, file_command work, const file_job& job, const command_options& options);
// One of several files that info or dump read in turn: its text (info's
// apart from the one before by a blank line), a line naming it on standard
// error; a failure is named there too and gives 1 instead of 0.
int run_one_of_several(const std::string& command, file_command work, const file_job& job, const command_options& options);
// The blank line before a block of info's text printed elsewhere (a packet
// capture's), when one came before it.
void separate_blocks(const std::string& command, const command_options& options);
// Several files on options.jobs workers: a line per file as it finishes,
// every failure named, one summary; exit status 1 when any file failed.
int run_batch(const std::string& command, file_command work, const std::vector<file_job>& jobs,
              const command_options& options);

// Prints a block of text on standard output (or `stream`) at once, never
// within another worker's; throws when the stream refuses it.
void print_block(const std::string& text, std::FILE* stream = stdout);
// What sets a block of info's text apart from the one before it: "" the
// first time, a blank line after.
std::string block_separator();

} // namespace g729::tool
