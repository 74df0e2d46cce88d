// The host operations: module, translator and console registries, the
// translation step and the logger.
#include <dlfcn.h>
#include <limits.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "host/host.h"
#include "host/registry.h"

struct cvn_format {
    const char* name;
    unsigned int sample_rate;
};

static cvn_format slin_format = {"slin", 8000};
static cvn_format g729_format = {"g729", 8000};

extern "C" {
cvn_format* cvn_format_slin = &slin_format;
cvn_format* cvn_format_g729 = &g729_format;
}

namespace corvane {

namespace {

struct module_record {
    void* handle = nullptr; // dlopen handle
    cvn_module_info* info = nullptr;
    std::string path;
    bool loaded = false;
};

struct host_registry {
    std::recursive_mutex lock;
    std::vector<module_record*> modules;
    cvn_module_info* registering = nullptr; // set by a constructor during dlopen
    std::vector<cvn_translator*> translators;
    std::vector<cvn_cli_entry*> commands;
    std::deque<log_entry> log;
    bool log_echo = true;
};

host_registry& registry() {
    static host_registry r;
    return r;
}

constexpr size_t kKeptLogLines = 256;

double thread_seconds() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

// Translation cost as a PBX measures it: the translator's own sample frame
// is fed through a fresh instance until at least a second of audio has come
// out and the work took long enough to time; the cost is microseconds of
// processor time per second of audio.
int measure_cost(cvn_translator* t) {
    if (t->sample == nullptr) return 999999;
    translation_step step(t);
    long samples_out = 0;
    const double start = thread_seconds();
    double elapsed = 0.0;
    for (int round = 0; round < 1000; ++round) {
        cvn_frame* in = t->sample();
        if (in == nullptr || step.framein(in) != 0) break;
        while (cvn_frame* out = step.frameout()) samples_out += out->samples;
        elapsed = thread_seconds() - start;
        if (samples_out >= 8000 && elapsed >= 0.005) break;
    }
    if (samples_out <= 0) return 999999;
    const double per_second = elapsed * 8000.0 / double(samples_out);
    return std::max(1, int(per_second * 1e6 + 0.5));
}

} // namespace

void set_log_echo(bool echo) { registry().log_echo = echo; }

std::vector<log_entry> take_log() {
    host_registry& r = registry();
    std::lock_guard<std::recursive_mutex> guard(r.lock);
    std::vector<log_entry> out(r.log.begin(), r.log.end());
    r.log.clear();
    return out;
}

namespace {

bool is_file(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string directory_of(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

} // namespace

std::vector<std::string> module_directories() {
    std::vector<std::string> dirs{"."};
    char exe[4096];
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n > 0) {
        const std::string bin = directory_of(std::string(exe, size_t(n)));
        dirs.push_back(bin);                                  // the build tree
        // An installed host; shown without the "bin/.." when it exists.
        const std::string installed = bin + "/../lib/corvane/modules";
        char resolved[PATH_MAX];
        dirs.push_back(realpath(installed.c_str(), resolved) != nullptr ? std::string(resolved) : installed);
    }
    return dirs;
}

bool find_module_file(const std::string& name, std::string& path, std::string& error) {
    if (name.find('/') != std::string::npos) {
        path = name;
        return true;
    }
    std::vector<std::string> files{name};
    if (name.size() < 3 || name.compare(name.size() - 3, 3, ".so") != 0) files.push_back(name + ".so");
    const std::vector<std::string> dirs = module_directories();
    for (const std::string& dir : dirs) {
        for (const std::string& file : files) {
            if (is_file(dir + "/" + file)) {
                path = dir + "/" + file;
                return true;
            }
        }
    }
    error = "cannot find module '" + name + "' in";
    for (size_t i = 0; i < dirs.size(); ++i) error += (i == 0 ? " " : i + 1 == dirs.size() ? " or " : ", ") + dirs[i];
    return false;
}

bool load_module(const std::string& name, std::string& error) {
    host_registry& r = registry();
    std::lock_guard<std::recursive_mutex> guard(r.lock);
    std::string path;
    if (!find_module_file(name, path, error)) return false;
    // The same object again would only raise dlopen's reference count and
    // run no constructor: name the module that is loaded already.
    if (void* again = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD)) {
        dlclose(again);
        for (module_record* m : r.modules) {
            if (m->handle == again) {
                error = std::string("module '") + m->info->name + "' is already loaded (from " + m->path + ")";
                return false;
            }
        }
    }
    r.registering = nullptr;
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* why = dlerror();
        error = "cannot load '" + path + "': " + (why ? why : "unknown error");
        return false;
    }
    cvn_module_info* info = r.registering;
    r.registering = nullptr;
    if (info == nullptr) {
        dlclose(handle);
        error = "'" + path + "' is not a Corvane module (it did not register itself)";
        return false;
    }
    for (module_record* m : r.modules) {
        if (m->info == info || std::strcmp(m->info->name, info->name) == 0) {
            // Another copy of a loaded module: its translators and commands
            // would clash with those registered already.
            error = "'" + path + "' is module '" + info->name + "', which is already loaded (from " + m->path + ")";
            dlclose(handle);
            return false;
        }
    }
    auto* record = new module_record;
    record->handle = handle;
    record->info = info;
    record->path = path;
    info->self = record;
    r.modules.push_back(record);
    const int result = info->load ? info->load() : 0;
    if (result != 0) {
        // The record lives in the module's memory: read it before dlclose.
        error = std::string("module '") + info->name + "' failed to load (" + std::to_string(result) + ")";
        r.modules.erase(std::find(r.modules.begin(), r.modules.end(), record));
        dlclose(handle);
        delete record;
        return false;
    }
    record->loaded = true;
    return true;
}

static module_record* find_module(const std::string& name, std::string& error) {
    for (module_record* m : registry().modules) {
        if (m->loaded && (name == m->info->name || name == std::string(m->info->name) + ".so")) return m;
    }
    error = "module '" + name + "' is not loaded";
    return nullptr;
}

bool unload_module(const std::string& name, std::string& error) {
    host_registry& r = registry();
    std::lock_guard<std::recursive_mutex> guard(r.lock);
    module_record* m = find_module(name, error);
    if (m == nullptr) return false;
    if (m->info->unload) m->info->unload();
    m->loaded = false;
    r.modules.erase(std::find(r.modules.begin(), r.modules.end(), m));
    dlclose(m->handle);
    delete m;
    return true;
}

bool reload_module(const std::string& name, std::string& error) {
    host_registry& r = registry();
    std::lock_guard<std::recursive_mutex> guard(r.lock);
    module_record* m = find_module(name, error);
    if (m == nullptr) return false;
    const int result = m->info->reload ? m->info->reload() : 0;
    if (result != 0) {
        error = "module '" + name + "' failed to reload (" + std::to_string(result) + ")";
        return false;
    }
    return true;
}

std::vector<const cvn_module_info*> loaded_modules() {
    host_registry& r = registry();
    std::lock_guard<std::recursive_mutex> guard(r.lock);
    std::vector<const cvn_module_info*> out;
    for (module_record* m : r.modules) out.push_back(m->info);
    return out;
}

std::vector<cvn_translator*> translators() {
    host_registry& r = registry();
    std::lock_guard<std::recursive_mutex> guard(r.lock);
    return r.translators;
}

cvn_translator* find_translator(const std::string& src, const std::string& dst) {
    host_registry& r = registry();
    std::lock_guard<std::recursive_mutex> guard(r.lock);
    for (cvn_translator* t : r.translators) {
        if (src == t->src_codec.name && dst == t->dst_codec.name) return t;
    }
    return nullptr;
}

std::vector<cvn_cli_entry*> console_entries() {
    host_registry& r = registry();
    std::lock_guard<std::recursive_mutex> guard(r.lock);
    return r.commands;
}

void add_console_entry(cvn_cli_entry* e) {
    host_registry& r = registry();
    std::lock_guard<std::recursive_mutex> guard(r.lock);
    r.commands.push_back(e);
}

translation_step::translation_step(cvn_translator* t) {
    std::memset(&pvt_, 0, sizeof pvt_);
    pvt_.t = t;
    pvt_.pvt = t->desc_size > 0 ? std::calloc(1, size_t(t->desc_size)) : nullptr;
    pvt_.outbuf.c = static_cast<char*>(std::calloc(1, size_t(std::max(t->buffer_size, 1))));
    if (t->newpvt) t->newpvt(&pvt_);
}

translation_step::~translation_step() {
    if (pvt_.t->destroy) pvt_.t->destroy(&pvt_);
    std::free(pvt_.pvt);
    std::free(pvt_.outbuf.c);
}

int translation_step::framein(cvn_frame* f) { return pvt_.t->framein ? pvt_.t->framein(&pvt_, f) : -1; }

// The standard frame-out hands back everything accumulated and starts the
// counters afresh.
cvn_frame* translation_step::frameout() {
    if (pvt_.t->frameout) return pvt_.t->frameout(&pvt_);
    if (pvt_.samples == 0 && pvt_.datalen == 0) return nullptr;
    cvn_frame* f = cvn_trans_frameout(&pvt_, pvt_.datalen, pvt_.samples);
    pvt_.samples = 0;
    pvt_.datalen = 0;
    return f;
}

cvn_format* format_by_name(const std::string& name) {
    if (name == "slin") return cvn_format_slin;
    if (name == "g729") return cvn_format_g729;
    return nullptr;
}


} // namespace corvane

// ---- the operations modules call -------------------------------------------

using corvane::registry;

extern "C" void cvn_module_register(cvn_module_info* info) { registry().registering = info; }

extern "C" void cvn_module_unregister(cvn_module_info* info) {
    auto& r = registry();
    std::lock_guard<std::recursive_mutex> guard(r.lock);
    if (r.registering == info) r.registering = nullptr;
}

extern "C" int __cvn_cli_register_multiple(cvn_cli_entry* entries, int count, void* module) {
    for (int i = 0; i < count; ++i) {
        cvn_cli_entry* e = &entries[i];
        if (e->handler) e->handler(e, CVN_CLI_INIT, nullptr);
        if (e->command == nullptr) continue;
        e->module = module;
        e->registered = 1;
        corvane::add_console_entry(e);
    }
    return 0;
}

extern "C" int cvn_cli_unregister_multiple(cvn_cli_entry* entries, int count) {
    auto& r = registry();
    std::lock_guard<std::recursive_mutex> guard(r.lock);
    for (int i = 0; i < count; ++i) {
        auto it = std::find(r.commands.begin(), r.commands.end(), &entries[i]);
        if (it != r.commands.end()) r.commands.erase(it);
        entries[i].registered = 0;
    }
    return 0;
}

extern "C" void cvn_cli(int fd, const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    vdprintf(fd, fmt, ap);
    va_end(ap);
}

// A translator is refused when its descriptor cannot be driven or when one
// of the same name is registered already.
extern "C" int __cvn_register_translator(cvn_translator* t, void* module) {
    auto& r = registry();
    std::lock_guard<std::recursive_mutex> guard(r.lock);
    if (t == nullptr || t->name[0] == '\0' || t->framein == nullptr || t->buffer_size <= 0 ||
        corvane::format_by_name(t->src_codec.name ? t->src_codec.name : "") == nullptr ||
        corvane::format_by_name(t->dst_codec.name ? t->dst_codec.name : "") == nullptr) {
        return -1;
    }
    for (cvn_translator* other : r.translators) {
        if (other == t || std::strcmp(other->name, t->name) == 0) return -1;
    }
    t->module = module;
    t->cost = corvane::measure_cost(t);
    t->active = 1;
    r.translators.push_back(t);
    return 0;
}

extern "C" int cvn_unregister_translator(cvn_translator* t) {
    auto& r = registry();
    std::lock_guard<std::recursive_mutex> guard(r.lock);
    auto it = std::find(r.translators.begin(), r.translators.end(), t);
    if (it == r.translators.end()) return -1;
    r.translators.erase(it);
    t->active = 0;
    return 0;
}

extern "C" cvn_frame* cvn_trans_frameout(cvn_trans_pvt* pvt, int datalen, int samples) {
    cvn_frame* f = &pvt->f;
    f->frametype = CVN_FRAME_VOICE;
    f->format = corvane::format_by_name(pvt->t->dst_codec.name);
    f->datalen = datalen;
    f->samples = samples;
    f->src = pvt->t->name;
    f->data = pvt->outbuf.c;
    return f;
}

static const char* level_name(int level) {
    switch (level) {
    case CVN_LOG_DEBUG: return "DEBUG";
    case CVN_LOG_NOTICE: return "NOTICE";
    case CVN_LOG_WARNING: return "WARNING";
    case CVN_LOG_ERROR: return "ERROR";
    default: return "VERBOSE";
    }
}

extern "C" void cvn_log(int level, const char* file, int line, const char* function, const char* fmt, ...) {
    char text[1024];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(text, sizeof text, fmt, ap);
    va_end(ap);
    std::string message(text);
    if (!message.empty() && message.back() == '\n') message.pop_back();

    auto& r = registry();
    std::lock_guard<std::recursive_mutex> guard(r.lock);
    if (r.log_echo) {
        std::fprintf(stderr, "[%s] %s:%d %s: %s\n", level_name(level), file ? file : "?", line,
                     function ? function : "?", message.c_str());
    }
    r.log.push_back({level, file ? file : "", line, function ? function : "", message});
    while (r.log.size() > corvane::kKeptLogLines) r.log.pop_front();
}
