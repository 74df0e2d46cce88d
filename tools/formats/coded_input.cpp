#include "tools/formats/coded_input.h"

#include <cerrno>
#include <cstring>

#include <sys/stat.h>

#include "tools/common/input_file.h"
#include "tools/common/tool_error.h"

namespace g729::tool {

bool decode_coded_frame(g729a_decoder* decoder, const coded_frame& frame, int16_t* pcm, const command_options& options) {
    const bool missing = frame.kind == frame_kind::untransmitted || (frame.bad && !options.decode_bad_frames);
    if (missing)
        g729a_decode(decoder, nullptr, 0, pcm, kFrame);
    else
        g729a_decode(decoder, frame.bytes.data(), std::size_t(frame.size()), pcm, kFrame);
    return missing;
}

coded_input::coded_input(const operand& in, file_format format)
    : file_(open_input(in)), name_(input_name(in)),
      reader_(
          [this](uint8_t* data, std::size_t size) {
              const std::size_t n = std::fread(data, 1, size, file_);
              if (n < size && std::ferror(file_)) throw tool_error(name_, std::string("cannot read: ") + std::strerror(errno));
              return n;
          },
          format == file_format::bit) {
    struct stat st;
    if (fstat(fileno(file_), &st) == 0 && S_ISREG(st.st_mode)) size_ = st.st_size;
}

coded_input::~coded_input() {
    if (file_ != stdin) std::fclose(file_);
}

double coded_input::fraction_done() const {
    return size_ > 0 ? double(reader_.bytes_read()) / double(size_) : -1.0;
}

} // namespace g729::tool
