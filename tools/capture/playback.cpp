#include "tools/capture/playback.h"

namespace g729::tool {

namespace {

constexpr int kFrameSamples = G729A_FRAME_SAMPLES;

} // namespace

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
