#include "tools/formats/sndfile_descriptor.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>

#include "tools/cli/tool_error.h"

namespace g729::tool {

const sndfile_functions& sndfile() {
    static const sndfile_functions functions(
        shared_library(G729A_LIBSNDFILE_SONAME, "G729A_LIBSNDFILE", "reading and writing audio formats other than raw samples"));
    return functions;
}

SNDFILE* open_sndfile_descriptor(int fd, int mode, SF_INFO* info, const std::string& name) {
    const sndfile_functions& sf = sndfile();
    const int copy = fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (copy < 0) throw tool_error(name, std::string("cannot open: ") + std::strerror(errno));
    return sf.sf_open_fd(copy, mode, info, SF_TRUE);
}

} // namespace g729::tool
