// Opening a descriptor with libsndfile without giving it away.
#pragma once

#include <string>

#include <sndfile.h>

namespace g729::tool {

// libsndfile closes a descriptor it fails to open, even when told to leave it
// open. It is therefore handed a duplicate, which it closes in every case
// (on failure, or at sf_close), and `fd` stays open for its owner to close
// once: a second close would, in a batch, hit another worker's new file.
// Returns libsndfile's handle, or nullptr (sf_strerror(nullptr) says why);
// throws tool_error naming `name` when no duplicate can be made.
SNDFILE* open_sndfile_descriptor(int fd, int mode, SF_INFO* info, const std::string& name);

} // namespace g729::tool
