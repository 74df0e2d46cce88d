#include "tools/output_file.h"

#include <cerrno>
#include <csignal>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

#include "tools/tool_error.h"

namespace g729::tool {

namespace {

// The temporary file being written, for the signal handler; one at a time.
char pending_temp_path[4096];

void unlink_pending_and_die(int sig) {
    if (pending_temp_path[0] != '\0') unlink(pending_temp_path);
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

std::string errno_text() { return std::strerror(errno); }

} // namespace

void remove_temporary_files_on_signals() {
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) std::signal(sig, unlink_pending_and_die);
}

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

output_file::output_file(const operand& out) : path_(out.path), name_(output_name(out)) {
    if (out.is_std()) {
        stream_ = stdout;
        return;
    }
    // Beside the target, so that the final rename stays on one file system.
    std::string templ = path_ + ".tmp-XXXXXX";
    std::vector<char> buffer(templ.begin(), templ.end());
    buffer.push_back('\0');
    const int fd = mkstemp(buffer.data());
    if (fd < 0) throw tool_error(path_, "cannot create: " + errno_text());
    temp_path_ = buffer.data();
    if (temp_path_.size() < sizeof pending_temp_path) std::memcpy(pending_temp_path, temp_path_.c_str(), temp_path_.size() + 1);
    // mkstemp makes the file private; give it the mode a plain create would.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    stream_ = fdopen(fd, "wb");
    if (!stream_) {
        close(fd);
        unlink(temp_path_.c_str());
        pending_temp_path[0] = '\0';
        throw tool_error(path_, "cannot create: " + errno_text());
    }
}

output_file::~output_file() {
    if (stream_ && stream_ != stdout) std::fclose(stream_);
    if (!temp_path_.empty() && !committed_) unlink(temp_path_.c_str());
    pending_temp_path[0] = '\0';
}

void output_file::write(const void* data, std::size_t size) {
    if (size != 0 && std::fwrite(data, 1, size, stream_) != size) throw tool_error(name_, "cannot write: " + errno_text());
}

void output_file::commit() {
    if (stream_ == stdout) {
        if (std::fflush(stdout) != 0) throw tool_error(name_, "cannot write: " + errno_text());
        committed_ = true;
        return;
    }
    std::FILE* f = stream_;
    stream_ = nullptr;
    if (std::fclose(f) != 0) throw tool_error(name_, "cannot write: " + errno_text());
    if (std::rename(temp_path_.c_str(), path_.c_str()) != 0) throw tool_error(name_, "cannot create: " + errno_text());
    committed_ = true;
    pending_temp_path[0] = '\0';
}

} // namespace g729::tool
