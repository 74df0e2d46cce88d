#include "tools/common/shared_library.h"

#include <cstdlib>

#include <dlfcn.h>

#include "tools/common/tool_error.h"

namespace g729::tool {

shared_library::shared_library(const char* soname, const char* override_variable, const char* purpose) : purpose_(purpose) {
    const char* chosen = std::getenv(override_variable);
    name_ = chosen && *chosen ? chosen : soname;
    // Every symbol bound now: a library that cannot work here fails at this
    // one place, with this error, rather than in the middle of a command.
    handle_ = dlopen(name_.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_) return;
    const char* error = dlerror();
    std::string reason = error ? error : "unknown error";
    // dlerror starts with the name already shown before it.
    if (reason.compare(0, name_.size() + 2, name_ + ": ") == 0) reason.erase(0, name_.size() + 2);
    throw tool_error(name_, purpose_ + " needs this library, which cannot be loaded: " + reason);
}

void* shared_library::symbol(const char* name) const {
    void* address = dlsym(handle_, name);
    if (!address) throw tool_error(name_, purpose_ + " needs this library, and it has no " + name);
    return address;
}

} // namespace g729::tool
