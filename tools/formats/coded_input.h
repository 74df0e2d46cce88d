// A coded file opened for reading frame by frame, and how decode, dump and
// plot decode each frame it gives.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "g729a.h"
#include "tools/common/command_options.h"
#include "tools/common/operand.h"
#include "tools/formats/coded_stream.h"
#include "tools/formats/format_names.h"

namespace g729::tool {

// Decodes one coded frame as decode and dump do. A frame that was not
// transmitted, or (unless options.decode_bad_frames) one marked bad, is
// decoded as missing: the decoder fills its 10 ms from what came before, and
// everything after it stays on time. Returns true when it was concealed.
bool decode_coded_frame(g729a_decoder* decoder, const coded_frame& frame, int16_t* pcm, const command_options& options);

// Opens a coded input for frame-by-frame reading.
class coded_input {
public:
    coded_input(const operand& in, file_format format);
    ~coded_input();
    coded_input(const coded_input&) = delete;
    coded_input& operator=(const coded_input&) = delete;
    coded_reader& reader() { return reader_; }
    // Share of the file read so far, negative when its size is unknown.
    double fraction_done() const;

private:
    std::FILE* file_;
    std::string name_;
    long long size_ = -1;
    coded_reader reader_;
};

} // namespace g729::tool
