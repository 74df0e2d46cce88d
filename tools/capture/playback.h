// Playing a rebuilt stream: its timeline decoded 80 samples at a time, as
// decode writes it, dump describes it and plot measures it; and one channel
// of --mix, the stream after the silence that puts it on the call's clock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <array>
#include <vector>

#include "g729a.h"
#include "tools/capture/rtp_stream.h"
#include "tools/common/codec_handles.h"
#include "tools/formats/coded_stream.h"

namespace g729::tool {

// One frame of a timeline entry as the coded formats carry it: speech (80
// bits), SID (all 16 bits of its two bytes, as they came), or a frame not
// transmitted. A frame the sender sent and the receiver did not get (lost,
// late for the jitter buffer, or in an unusable packet) is also marked bad,
// a frame erasure; a silence of discontinuous transmission is not. Either
// way it carries no bits, so it is decoded as missing whether or not bad
// frames are decoded as received.
coded_frame entry_frame(const timeline_entry& e);

// Decodes a stream's timeline 80 samples at a time, so that a call of any
// length needs no more memory than its packets.
class timeline_player {
public:
    explicit timeline_player(const std::vector<timeline_entry>& timeline) : timeline_(timeline), decoder_(make_decoder()) {}

    // The next frame's samples; false at the end of the timeline.
    bool next(int16_t* block);
    // The entry of the frame next() gave last, and the decoder.
    const timeline_entry& current() const { return timeline_[entry_]; }
    const g729a_decoder* decoder() const { return decoder_.get(); }

private:
    const std::vector<timeline_entry>& timeline_;
    decoder_handle decoder_;
    std::size_t entry_ = 0;
    std::size_t within_ = 0;
};

// Plays a rebuilt stream as the listener heard it through an adaptive
// buffer: every frame decoded, so the decoder follows the sender, and the
// buffer's changes within talk spurts made in the samples played: a drop
// leaves out the quietest decoded frames of its window, a growth plays the
// quietest one again as many times as it waited. Without changes, what
// timeline_player gives. At most one window of frames is held.
class heard_player {
public:
    explicit heard_player(const rebuilt_stream& stream) : player_(stream.timeline), plan_(stream.resyncs) {}

    // The next frame's samples; false at the end.
    bool next(int16_t* block);

private:
    struct decoded {
        std::size_t index = 0; // on the timeline
        std::array<int16_t, G729A_FRAME_SAMPLES> samples{};
        int64_t energy = 0;
        std::size_t copies = 1; // times it is played: 0 dropped
    };
    void decide(const resync& r);
    bool ready(std::size_t index) const { return next_ == plan_.size() || index < plan_[next_].begin; }

    timeline_player player_;
    const std::vector<resync>& plan_;
    std::size_t next_ = 0;    // the first change not decided
    std::size_t decoded_ = 0; // frames decoded
    bool ended_ = false;
    std::deque<decoded> held_;
};

// One channel of the --mix file: `offset` samples of silence, the stream,
// then silence for as long as asked.
class delayed_channel {
public:
    delayed_channel(const rebuilt_stream& stream, std::size_t offset) : player_(stream), offset_(offset) {}

    int16_t next();

private:
    heard_player player_;
    std::size_t offset_;
    int16_t block_[G729A_FRAME_SAMPLES] = {};
    int used_ = G729A_FRAME_SAMPLES;
    bool ended_ = false;
};

} // namespace g729::tool
