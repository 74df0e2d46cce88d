// The g729a commands. Each works on one file_job at a time and throws
// tool_error (exit status 1) or usage_error (status 2) when it cannot; the
// runners below turn that into messages and an exit status for one file or
// a batch.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "g729a.h"
#include "tools/formats/audio_io.h"
#include "tools/formats/coded_stream.h"
#include "tools/cli/output_file.h"
#include "tools/cli/progress.h"

namespace g729::tool {

struct command_options {
    bool quiet = false;
    bool json = false;  // info: one JSON object instead of text (captures too)
    sink_options audio; // decode, roundtrip: --rate, --float
    unsigned jobs = 0;  // files worked on at once in a batch; 0: one per core
    bool batch = false; // set by run_batch: one of several files
    bool formats_given = false; // any -t / --format on the command line
    // -y, --force: roundtrip and convert may replace an existing OUT (which
    // is of the kind they read, so most likely a second input).
    bool force = false;
    // decode: frames a .bit file marks bad are decoded as received
    // (--bad-frames=decode) instead of being concealed.
    bool decode_bad_frames = false;
    // decode: input cut short (a .g729 whose last frame is incomplete, a
    // capture whose last packet is) is an error instead of a warning.
    bool strict = false;
    // encode: silence suppression (--dtx): SID frames and untransmitted
    // frames in the pauses; needs the .bit format.
    bool dtx = false;
    // Packet captures: payload types taken as G.729 besides 18 (--pt), the
    // one stream to decode (--stream SSRC) and the stereo file of both
    // directions (--mix FILE).
    std::vector<int> payload_types;
    std::string stream;
    std::string mix;
    // Packet captures: the longest gap filled with missing frames
    // (--max-gap), the audio (--max-audio; 0: ten minutes and twenty times
    // the audio the packets carry) and the files one decode may write
    // (--max-files).
    std::size_t max_gap_seconds = 3600;
    std::size_t max_audio_seconds = 0;
    std::size_t max_files = 1000;
    // Packet captures: the receiver's jitter buffer to model (--jitter-buffer
    // MS or adaptive); empty: what the sender sent, every packet played.
    std::string jitter_buffer;
    // plot: the streams of a capture drawn in one picture (--max-streams).
    std::size_t max_streams = 100;
};

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

file_result encode_file(const file_job& job, const command_options& options, reporter& report);
file_result decode_file(const file_job& job, const command_options& options, reporter& report);
file_result roundtrip_file(const file_job& job, const command_options& options, reporter& report);
file_result convert_file(const file_job& job, const command_options& options, reporter& report);
// These print to standard output and take one file.
file_result info_file(const file_job& job, const command_options& options, reporter& report);
file_result dump_file(const file_job& job, const command_options& options, reporter& report);
// dump's words for a frame: its type and coded parameters ("speech lsp=...",
// "sid lsf=...", "untransmitted"), and the energy of 80 decoded samples in
// dBFS ("-inf" for silence).
std::string frame_text(const coded_frame& frame);
std::string energy_text(const int16_t* pcm);
// The header lines dump writes before the frames of `name`.
std::string dump_header(const std::string& name);

// Decodes one coded frame as decode and dump do. A frame that was not
// transmitted, or (unless options.decode_bad_frames) one marked bad, is
// decoded as missing: the decoder fills its 10 ms from what came before, and
// everything after it stays on time. Returns true when it was concealed.
bool decode_coded_frame(g729a_decoder* decoder, const coded_frame& frame, int16_t* pcm, const command_options& options);

// Real speech fails the first pitch index's parity check on a few frames at
// most; bytes cut into frames at the wrong places fail it on about half. A
// .g729 with a SID frame in mid-stream is read that way from the SID on.
bool probably_misaligned(const stream_counts& counts);
std::string misaligned_text(const stream_counts& counts);

// Opens a coded input for frame-by-frame reading.
class coded_input {
public:
    coded_input(const operand& in, file_format format);
    ~coded_input();
    coded_input(const coded_input&) = delete;
    coded_input& operator=(const coded_input&) = delete;
    coded_reader& reader() { return reader_; }
    // Share of the file read so far, negative when its size is unknown.
    double fraction_done() const;

private:
    std::FILE* file_;
    std::string name_;
    long long size_ = -1;
    coded_reader reader_;
};

// "malformed at byte offset 20: 3 bytes at the end are not a frame ..."
std::string describe(const stream_fault& fault, file_format format);

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

} // namespace g729::tool
