#include "tools/common/output_folder.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tools/common/output_file.h"
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

void write_all_or_nothing(const std::vector<planned_output>& files, const std::string& folder, bool make_folder,
                          const std::function<void(output_file&, std::size_t)>& write) {
    std::unique_ptr<new_folder> made;
    if (make_folder) made = std::make_unique<new_folder>(folder);
    std::vector<std::unique_ptr<output_file>> targets;
    for (std::size_t i = 0; i < files.size(); ++i) {
        const planned_output& f = files[i];
        if (f.generated)
            targets.push_back(std::make_unique<output_file>((made ? made->path() : folder) + "/" + f.path, output_file::generated{}));
        else
            targets.push_back(std::make_unique<output_file>(operand{f.path}));
        write(*targets.back(), i);
        targets.back()->finish();
    }
    const signals_held held;
    for (std::size_t i = 0; i < files.size(); ++i) {
        targets[i]->commit();
        if (made && files[i].generated) made->made(files[i].path);
    }
    if (made) made->keep();
}

} // namespace g729::tool
