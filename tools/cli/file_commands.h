// The commands on coded and audio files: encode, decode, roundtrip and
// convert write an OUT; info and dump print to standard output and take one
// file. The runners (runner.h) call them one file_job at a time.
#pragma once

#include "tools/cli/runner.h"

namespace g729::tool {

file_result encode_file(const file_job& job, const command_options& options, reporter& report);
file_result decode_file(const file_job& job, const command_options& options, reporter& report);
file_result roundtrip_file(const file_job& job, const command_options& options, reporter& report);
file_result convert_file(const file_job& job, const command_options& options, reporter& report);
// These print to standard output and take one file.
file_result info_file(const file_job& job, const command_options& options, reporter& report);
file_result dump_file(const file_job& job, const command_options& options, reporter& report);

} // namespace g729::tool
