#include "tools/capture/playback.h"

#include <algorithm>

namespace g729::tool {

namespace {

constexpr int kFrameSamples = G729A_FRAME_SAMPLES;

} // namespace

coded_frame entry_frame(const timeline_entry& e) {
    coded_frame f;
    switch (e.kind) {
    case slot_kind::speech: break;
    case slot_kind::sid:
        f.kind = frame_kind::sid;
        f.bits = 8 * G729A_SID_FRAME_BYTES;
        break;
    case slot_kind::dtx:
        f.kind = frame_kind::untransmitted;
        f.bits = 0;
        return f;
    case slot_kind::lost:
    case slot_kind::late:
    case slot_kind::skipped:
        f.kind = frame_kind::untransmitted;
        f.bits = 0;
        f.bad = true;
        return f;
    }
    std::copy(e.bytes.begin(), e.bytes.begin() + f.size(), f.bytes.begin());
    return f;
}

bool timeline_player::next(int16_t* block) {
    while (entry_ < timeline_.size() && within_ == timeline_[entry_].frames) {
        ++entry_;
        within_ = 0;
    }
    if (entry_ == timeline_.size()) return false;
    const timeline_entry& e = timeline_[entry_];
    if (e.missing()) {
        // One call per missing frame: the decoder continues the comfort
        // noise or conceals, 80 samples each, and the timeline stays exact.
        g729a_decode(decoder_.get(), nullptr, 0, block, kFrameSamples);
    } else {
        const std::size_t length = e.kind == slot_kind::sid ? G729A_SID_FRAME_BYTES : G729A_SPEECH_FRAME_BYTES;
        g729a_decode(decoder_.get(), e.bytes.data(), length, block, kFrameSamples);
    }
    ++within_;
    return true;
}

int16_t delayed_channel::next() {
    if (offset_ > 0) {
        --offset_;
        return 0;
    }
    if (used_ == kFrameSamples) {
        if (ended_ || !player_.next(block_)) {
            ended_ = true;
            return 0;
        }
        used_ = 0;
    }
    return block_[used_++];
}

} // namespace g729::tool
