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

bool heard_player::next(int16_t* block) {
    for (;;) {
        // Every window decoded whole is decided; frames before the next
        // window undecided are final.
        while (next_ < plan_.size() && (decoded_ >= plan_[next_].end || ended_)) decide(plan_[next_++]);
        while (!held_.empty() && ready(held_.front().index)) {
            decoded& f = held_.front();
            if (f.copies == 0) {
                held_.pop_front();
                continue;
            }
            std::copy(f.samples.begin(), f.samples.end(), block);
            if (--f.copies == 0) held_.pop_front();
            return true;
        }
        if (ended_) return false;
        decoded f;
        if (!player_.next(f.samples.data())) {
            ended_ = true;
            continue;
        }
        f.index = decoded_++;
        for (const int16_t v : f.samples) f.energy += int64_t(v) * v;
        held_.push_back(f);
    }
}

void heard_player::decide(const resync& r) {
    // The frames of the window, quietest first (the one nearest the change
    // among equals); the change takes the first of them.
    std::vector<decoded*> window;
    for (decoded& f : held_)
        if (f.index >= r.begin && f.index < r.end) window.push_back(&f);
    auto distance = [&](const decoded* f) { return f->index > r.at ? f->index - r.at : r.at - f->index; };
    std::stable_sort(window.begin(), window.end(), [&](const decoded* a, const decoded* b) {
        return a->energy != b->energy ? a->energy < b->energy : distance(a) < distance(b);
    });
    if (window.empty()) return;
    if (r.frames > 0) {
        window[0]->copies += std::size_t(r.frames);
    } else {
        for (std::size_t k = 0; k < std::size_t(-int64_t(r.frames)) && k < window.size(); ++k) window[k]->copies = 0;
    }
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
