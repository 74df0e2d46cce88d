// Audio going out: the decoder's 8 kHz mono, written in any of the
// formats the tool knows, at 8 kHz or resampled.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "tools/common/command_options.h"
#include "tools/common/output_file.h"
#include "tools/formats/format_names.h"

namespace g729::tool {

// The rate audio_sink writes `format` at with these options; usage_error
// when the format cannot hold options.rate (each headerless format holds its
// one rate) or the rate is out of range.
int output_rate(const format_id& format, const sink_options& options);

class audio_sink {
public:
    // Writes 8 kHz samples (options.channels interleaved, mono by default)
    // to `out` in `format`, resampled to
    // options.rate. Nothing reaches standard output before finish() for a
    // format with a header (it needs the final length). Throws tool_error
    // (or usage_error for a rate the format cannot hold).
    audio_sink(output_file& out, const format_id& format, const sink_options& options = {});
    ~audio_sink();
    audio_sink(const audio_sink&) = delete;
    audio_sink& operator=(const audio_sink&) = delete;

    // n frames of options.channels samples each.
    void write(const int16_t* samples, std::size_t n);
    void finish();
    // Samples the resampler pushed beyond the 16-bit range.
    std::size_t clipped() const { return clipped_; }

private:
    struct state;
    std::unique_ptr<state> s_;
    output_file& out_;
    std::size_t clipped_ = 0;

    void put(const double* samples, std::size_t n); // at the output rate, 16-bit scale
};

} // namespace g729::tool
