#include "tools/common/output_file.h"

#include <cerrno>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tools/common/signals.h"
#include "tools/common/text.h"
#include "tools/common/tool_error.h"

namespace g729::tool {

namespace {

std::string errno_text() { return std::strerror(errno); }

constexpr std::size_t kWriteBuffer = 65536;

} // namespace

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
        if (fd >= 0) slot_ = register_temporary_file(buffer.data());
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
        release_temporary_file(slot_);
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
    release_temporary_file(slot_);
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
    release_temporary_file(slot_);
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

void write_standard_output(const std::string& text) {
    if (std::fputs(text.c_str(), stdout) < 0) throw tool_error("standard output", "cannot write: " + errno_text());
}

void flush_standard_output() {
    if (std::fflush(stdout) != 0) throw tool_error("standard output", "cannot write: " + errno_text());
}

void finish_standard_output() {
    const bool flushed = std::fflush(stdout) == 0 && !std::ferror(stdout);
    const int saved = errno;
    const bool closed = std::fclose(stdout) == 0;
    if (!flushed) throw tool_error("standard output", std::string("cannot write: ") + std::strerror(saved));
    if (!closed) throw tool_error("standard output", "cannot write: " + errno_text());
}

} // namespace g729::tool