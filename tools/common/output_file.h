// Where a command's output goes: a file that appears only once it is
// complete (written to a temporary file beside it and renamed), or standard
// output.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include <sys/stat.h>

#include "tools/common/operand.h"

namespace g729::tool {

// The file a path finally names: symbolic links followed to their target
// (which need not exist yet); the path itself when it is no link.
std::string resolve_links(const std::string& path);

// Makes the directory `dir` with any missing parents, as mkdir -p does, and
// checks that files can be created in it. Throws tool_error naming `dir` and
// what stands in the way: a part that is no directory, or the reason the
// system gives.
void make_output_directory(const std::string& dir);

class output_file {
public:
    // A named OUT is written beside the file it finally names (through any
    // symbolic links), and on commit replaces that file, keeping its mode and,
    // where permitted, its owner and group; the link itself stays a link.
    explicit output_file(const operand& out);
    // A name the tool made up inside a folder: links are never followed.
    // A link, a directory or anything but a regular file at that name is
    // refused (tool_error); a regular file is replaced on commit.
    struct generated {};
    output_file(const std::string& path, generated);
    ~output_file(); // removes the temporary file unless committed
    output_file(const output_file&) = delete;
    output_file& operator=(const output_file&) = delete;

    std::FILE* stream() { return stream_; }
    bool is_std() const { return stream_ == stdout || temp_path_.empty(); }
    void write(const void* data, std::size_t size);
    // Flushes the file to the disk and closes it: after this only the rename
    // of commit() is left, so several files can be completed first and then
    // put in place together.
    void finish();
    // Flushes and, for a file, renames the temporary file into place.
    void commit();
    const std::string& name() const { return name_; }

private:
    std::string path_; // the target, links resolved
    std::string temp_path_;
    std::string name_;
    std::FILE* stream_ = nullptr;
    std::unique_ptr<char[]> buffer_; // stream_'s, larger than stdio's own
    int slot_ = -1; // in the signal handler's table of temporary files
    bool committed_ = false;
    bool finished_ = false;

    void open_temporary(bool exists, const struct stat& existing);
};

// Writes text to standard output, flushes it; tool_error naming standard
// output when it refuses.
void write_standard_output(const std::string& text);
void flush_standard_output();

// Flushes and closes standard output; throws tool_error when anything written
// there was lost (a full disk, a closed pipe, /dev/full).
void finish_standard_output();

} // namespace g729::tool
