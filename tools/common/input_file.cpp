#include "tools/common/input_file.h"

#include <cerrno>
#include <cstring>

#include <sys/stat.h>

#include "tools/common/tool_error.h"

namespace g729::tool {

std::string input_name(const operand& op) { return op.is_std() ? "standard input" : op.path; }
std::string output_name(const operand& op) { return op.is_std() ? "standard output" : op.path; }

std::FILE* open_input(const operand& in) {
    if (in.is_std()) return stdin;
    std::FILE* f = std::fopen(in.path.c_str(), "rb");
    if (!f) throw tool_error(in.path, std::string("cannot open: ") + std::strerror(errno));
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

} // namespace g729::tool
