// The tool's glue to libsndfile: the library itself, loaded when a command
// first reads or writes an audio format other than raw samples; opening a
// descriptor with it without giving the descriptor away; files in memory and
// standard output for its virtual I/O; the format it writes a container in.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include <sndfile.h>

#include "tools/common/output_file.h"
#include "tools/common/shared_library.h"
#include "tools/formats/format_names.h"

namespace g729::tool {

#define G729A_SNDFILE_FUNCTIONS(F)                                                                 \
    F(sf_open_fd) F(sf_open_virtual) F(sf_close) F(sf_command) F(sf_format_check) F(sf_strerror) \
    F(sf_error) F(sf_readf_double) F(sf_writef_short) F(sf_writef_float)
G729A_FUNCTION_TABLE(sndfile_functions, G729A_SNDFILE_FUNCTIONS);

// libsndfile's functions, loaded on the first call; throws tool_error when
// the library cannot be loaded.
const sndfile_functions& sndfile();

// libsndfile closes a descriptor it fails to open, even when told to leave it
// open. It is therefore handed a duplicate, which it closes in every case
// (on failure, or at sf_close), and `fd` stays open for its owner to close
// once: a second close would, in a batch, hit another worker's new file.
// Returns libsndfile's handle, or nullptr (sf_strerror(nullptr) says why);
// throws tool_error naming `name` when no duplicate can be made.
SNDFILE* open_sndfile_descriptor(int fd, int mode, SF_INFO* info, const std::string& name);

// A file held in memory, for libsndfile's virtual I/O: standard input cannot
// seek, and a WAV header written to standard output needs the final length.
struct memory_file {
    std::vector<uint8_t> bytes;
    sf_count_t position = 0;
};



// Standard output for libsndfile, passed straight through: for headerless
// formats, which it writes front to back without seeking.
struct passthrough_file {
    output_file* out = nullptr;
    sf_count_t position = 0;
};

extern SF_VIRTUAL_IO memory_io;      // over a memory_file
extern SF_VIRTUAL_IO passthrough_io; // over a passthrough_file

// libsndfile's message for a failure of `file` (nullptr: of the last open),
// without its trailing full stop.
std::string sndfile_problem(SNDFILE* file);

// libsndfile's major formats: the extension it lists each under (lower
// case) and the format.
std::vector<std::pair<std::string, int>> sndfile_major_formats();

// The major format libsndfile knows a container by (its extension: flac,
// aiff, ogg, mp3, ...); 0 when it knows none.
int major_of(const std::string& container);

// A complete libsndfile format for writing one channel at `rate`: the major
// format of the container and a sample encoding it accepts, 16-bit integer
// (or float) when it has them. 0 when there is none.
int writable_format(const format_id& format, int rate, bool floating);

} // namespace g729::tool
