#include "tools/common/output_folder.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tools/common/signals.h"
#include "tools/common/tool_error.h"

namespace g729::tool {

new_folder::new_folder(const std::string& final_path) : final_(final_path) {
    std::string templ = final_path + ".tmp-XXXXXX";
    std::vector<char> buffer(templ.begin(), templ.end());
    buffer.push_back('\0');
    // Made and known to the signal handler at once.
    const signals_held held;
    if (!mkdtemp(buffer.data())) throw tool_error(final_path, std::string("cannot create directory: ") + std::strerror(errno));
    path_ = buffer.data();
    register_temporary_directory(path_);
    // mkdtemp makes it private; give it the mode a plain mkdir would.
    const mode_t mask = umask(0);
    umask(mask);
    chmod(path_.c_str(), 0777 & ~mask);
}

new_folder::~new_folder() {
    if (kept_) return;
    for (const std::string& name : made_) unlink((path_ + "/" + name).c_str());
    rmdir(path_.c_str());
    release_temporary_directory();
}

void new_folder::keep() {
    if (renameat2(AT_FDCWD, path_.c_str(), AT_FDCWD, final_.c_str(), RENAME_NOREPLACE) != 0)
        throw tool_error(final_, std::string("cannot create directory: ") + std::strerror(errno));
    kept_ = true;
    release_temporary_directory();
}

} // namespace g729::tool
