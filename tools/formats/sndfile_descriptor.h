// The tool's glue to libsndfile: the library itself, loaded when a command
// first reads or writes an audio format other than raw samples, and opening
// a descriptor with it without giving the descriptor away.
#pragma once

#include <string>

#include <sndfile.h>

#include "tools/cli/shared_library.h"

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

} // namespace g729::tool
