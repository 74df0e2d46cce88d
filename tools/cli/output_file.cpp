#include "tools/cli/output_file.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tools/cli/text.h"
#include "tools/cli/tool_error.h"

namespace g729::tool {

namespace {

// The temporary files being written, for the signal handler: one slot per
// output open at a time (a batch writes one per worker). Every member is
// initialised, so the table (1 MB) is constant-initialised, all zeros: it
// costs no start-up work, and only the pages of slots in use are touched.
constexpr int kTempSlots = 256;
struct temp_slot {
    std::atomic<bool> taken{false};
    std::atomic<bool> armed{false};
    char path[PATH_MAX]{};
};
temp_slot temp_slots[kTempSlots];
std::atomic<bool> temp_directory_armed{false};
char temp_directory[PATH_MAX];

int take_slot(const std::string& path) {
    if (path.size() >= PATH_MAX) return -1;
    for (int i = 0; i < kTempSlots; ++i) {
        bool expected = false;
        if (temp_slots[i].taken.compare_exchange_strong(expected, true)) {
            std::memcpy(temp_slots[i].path, path.c_str(), path.size() + 1);
            temp_slots[i].armed.store(true);
            return i;
        }
    }
    return -1;
}

void release_slot(int& slot) {
    if (slot < 0) return;
    temp_slots[slot].armed.store(false);
    temp_slots[slot].taken.store(false);
    slot = -1;
}

void unlink_pending_and_die(int sig) {
    for (temp_slot& s : temp_slots)
        if (s.armed.load()) unlink(s.path);
    if (temp_directory_armed.load()) rmdir(temp_directory);
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

std::string errno_text() { return std::strerror(errno); }

constexpr std::size_t kWriteBuffer = 65536;

} // namespace

void remove_temporary_files_on_signals() {
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
        struct sigaction old{};
        // A signal ignored by whoever started us (nohup, trap '' HUP) is
        // left ignored: that was the point of ignoring it.
        if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
        struct sigaction action{};
        action.sa_handler = unlink_pending_and_die;
        sigemptyset(&action.sa_mask);
        sigaction(sig, &action, nullptr);
    }
}

void register_temporary_directory(const std::string& path) {
    if (path.size() >= PATH_MAX) return;
    std::memcpy(temp_directory, path.c_str(), path.size() + 1);
    temp_directory_armed.store(true);
}

void release_temporary_directory() { temp_directory_armed.store(false); }

namespace {
sigset_t held_signals() {
    sigset_t set;
    sigemptyset(&set);
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) sigaddset(&set, sig);
    return set;
}
} // namespace

signals_held::signals_held() {
    const sigset_t set = held_signals();
    sigprocmask(SIG_BLOCK, &set, &previous_);
}

signals_held::~signals_held() { sigprocmask(SIG_SETMASK, &previous_, nullptr); }

std::string input_name(const operand& op) { return op.is_std() ? "standard input" : op.path; }
std::string output_name(const operand& op) { return op.is_std() ? "standard output" : op.path; }

std::FILE* open_input(const operand& in) {
    if (in.is_std()) return stdin;
    std::FILE* f = std::fopen(in.path.c_str(), "rb");
    if (!f) throw tool_error(in.path, "cannot open: " + errno_text());
    struct stat st;
    if (fstat(fileno(f), &st) == 0 && S_ISDIR(st.st_mode)) {
        std::fclose(f);
        throw tool_error(in.path, "cannot read: is a directory");
    }
    return f;
}

std::vector<uint8_t> read_whole(const operand& in) {
    std::FILE* f = open_input(in);
    std::vector<uint8_t> data;
    uint8_t chunk[65536];
    std::size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) data.insert(data.end(), chunk, chunk + n);
    const bool failed = std::ferror(f);
    const int saved = errno;
    if (f != stdin) std::fclose(f);
    if (failed) throw tool_error(input_name(in), std::string("cannot read: ") + std::strerror(saved));
    return data;
}

std::string resolve_links(const std::string& path) {
    std::string p = path;
    for (int depth = 0; depth < 40; ++depth) {
        struct stat st;
        if (lstat(p.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return p;
        char target[PATH_MAX];
        const ssize_t n = readlink(p.c_str(), target, sizeof target - 1);
        if (n < 0) return p;
        target[n] = '\0';
        p = target[0] == '/' ? std::string(target) : directory_of(p) + "/" + target;
    }
    return p; // a loop: creating the temporary file beside it reports it
}

void make_output_directory(const std::string& dir) {
    // Every prefix that ends before a slash, then the whole path.
    for (std::size_t end = dir.find('/', 1);; end = dir.find('/', end + 1)) {
        const std::string part = end == std::string::npos ? dir : dir.substr(0, end);
        const int made = mkdir(part.c_str(), 0777) == 0 ? 0 : errno;
        struct stat st;
        const bool exists = stat(part.c_str(), &st) == 0;
        if (exists && !S_ISDIR(st.st_mode)) throw tool_error(dir, part == dir ? "not a directory" : part + " is not a directory");
        if (!exists) throw tool_error(dir, "cannot create directory" + (part == dir ? "" : " " + part) + ": " + std::strerror(made));
        if (end == std::string::npos) break;
    }
    if (access(dir.c_str(), W_OK | X_OK) != 0) throw tool_error(dir, "cannot write into this directory: " + errno_text());
}

output_file::output_file(const operand& out) : name_(output_name(out)) {
    if (out.is_std()) {
        stream_ = stdout;
        return;
    }
    path_ = resolve_links(out.path);
    struct stat existing;
    const bool exists = stat(path_.c_str(), &existing) == 0;
    if (exists && S_ISDIR(existing.st_mode)) throw tool_error(name_, "cannot create: is a directory");
    // Replacing a file is writing it: refuse where writing in place would be
    // refused (access() answers for the real user, as the shell's > would).
    if (exists && access(path_.c_str(), W_OK) != 0) throw tool_error(name_, "cannot write: " + errno_text());
    open_temporary(exists, existing);
}

output_file::output_file(const std::string& path, generated) : path_(path), name_(path) {
    struct stat existing;
    const bool exists = lstat(path_.c_str(), &existing) == 0;
    if (exists && S_ISLNK(existing.st_mode))
        throw tool_error(name_, "is a symbolic link: a name the tool makes up is never followed (remove the link)");
    if (exists && !S_ISREG(existing.st_mode)) throw tool_error(name_, "cannot create: something other than a file has this name");
    if (exists && access(path_.c_str(), W_OK) != 0) throw tool_error(name_, "cannot write: " + errno_text());
    open_temporary(exists, existing);
}

void output_file::open_temporary(bool exists, const struct stat& existing) {
    // Beside the target, so that the final rename stays on one file system.
    std::string templ = path_ + ".tmp-XXXXXX";
    std::vector<char> buffer(templ.begin(), templ.end());
    buffer.push_back('\0');
    int fd = -1;
    {
        // Made and known to the signal handler at once.
        const signals_held held;
        fd = mkstemp(buffer.data());
        if (fd >= 0) slot_ = take_slot(buffer.data());
    }
    if (fd < 0) throw tool_error(name_, "cannot create: " + errno_text());
    temp_path_ = buffer.data();
    if (exists && S_ISREG(existing.st_mode)) {
        // The file keeps its owner where we may give it (root may), at least
        // its group where we belong to it, and its mode.
        if (fchown(fd, existing.st_uid, existing.st_gid) != 0) (void)!fchown(fd, uid_t(-1), existing.st_gid);
        fchmod(fd, existing.st_mode & 07777);
    } else {
        // mkstemp makes the file private; give it the mode a plain create would.
        const mode_t mask = umask(0);
        umask(mask);
        fchmod(fd, 0666 & ~mask);
    }
    stream_ = fdopen(fd, "wb");
    if (!stream_) {
        close(fd);
        unlink(temp_path_.c_str());
        release_slot(slot_);
        throw tool_error(name_, "cannot create: " + errno_text());
    }
    // Written in blocks of 64 KB rather than stdio's 4 KB: an hour of decoded
    // speech is some 900 writes instead of 14,000.
    buffer_.reset(new char[kWriteBuffer]);
    std::setvbuf(stream_, buffer_.get(), _IOFBF, kWriteBuffer);
}

output_file::~output_file() {
    if (stream_ && stream_ != stdout) std::fclose(stream_);
    if (!temp_path_.empty() && !committed_) unlink(temp_path_.c_str());
    release_slot(slot_);
}

void output_file::write(const void* data, std::size_t size) {
    if (size != 0 && std::fwrite(data, 1, size, stream_) != size) throw tool_error(name_, "cannot write: " + errno_text());
}

void output_file::commit() {
    if (stream_ == stdout) {
        if (std::fflush(stdout) != 0 || std::ferror(stdout)) throw tool_error(name_, "cannot write: " + errno_text());
        committed_ = true;
        return;
    }
    finish();
    if (std::rename(temp_path_.c_str(), path_.c_str()) != 0) throw tool_error(name_, "cannot create: " + errno_text());
    committed_ = true;
    release_slot(slot_);
}

void output_file::finish() {
    if (finished_ || stream_ == stdout) return;
    finished_ = true;
    std::FILE* f = stream_;
    stream_ = nullptr;
    const bool flushed = std::fflush(f) == 0 && !std::ferror(f);
    const int flush_errno = errno;
    // On the disk before it replaces anything.
    const bool synced = flushed && fsync(fileno(f)) == 0;
    const int sync_errno = errno;
    if (std::fclose(f) != 0 || !flushed || !synced)
        throw tool_error(name_, std::string("cannot write: ") + std::strerror(!flushed ? flush_errno : !synced ? sync_errno : errno));
}

void finish_standard_output() {
    const bool flushed = std::fflush(stdout) == 0 && !std::ferror(stdout);
    const int saved = errno;
    const bool closed = std::fclose(stdout) == 0;
    if (!flushed) throw tool_error("standard output", std::string("cannot write: ") + std::strerror(saved));
    if (!closed) throw tool_error("standard output", "cannot write: " + errno_text());
}

} // namespace g729::tool
