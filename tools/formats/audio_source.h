// Audio coming in: whatever the file holds leaves as 16-bit samples at
// 8 kHz mono, the codec's only input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "tools/common/operand.h"
#include "tools/formats/format_names.h"

namespace g729::tool {

class audio_source {
public:
    // Throws tool_error when the file cannot be opened or understood.
    // `format.kind == sndfile` with no container lets libsndfile decide.
    audio_source(const operand& in, const format_id& format);
    ~audio_source();
    audio_source(const audio_source&) = delete;
    audio_source& operator=(const audio_source&) = delete;

    // Fills up to n samples at 8 kHz mono; fewer only at the end of the input.
    std::size_t read(int16_t* out, std::size_t n);
    // Share of the input consumed so far, or a negative value when unknown.
    double fraction_done() const;
    // What was done to reach 8 kHz mono ("48000 Hz, 2 channels: mixed to
    // mono, resampled to 8000 Hz"), or empty when nothing was.
    const std::string& conversion() const { return conversion_; }
    // Samples that exceeded the 16-bit range and were saturated.
    std::size_t clipped() const { return clipped_; }

private:
    struct state;
    std::unique_ptr<state> s_;
    std::string name_;
    std::string conversion_;
    std::size_t clipped_ = 0;

    void open_sndfile(const operand& in, const format_id& format);
    std::size_t fetch(); // source-rate mono samples into the state, 0 at the end
    bool refill();
};

} // namespace g729::tool
