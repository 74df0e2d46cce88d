// Compares a coded-and-decoded signal with its input, through the project's
// one comparison (audio/comparison.h), which the host's "file compare" uses
// too. The decoder's output lags the input by the encoder's 5 ms look-ahead,
// so output sample n is set against input sample n - kCodecDelay.
#pragma once

#include "audio/comparison.h"
#include "g729a.h"

namespace g729::tool {

constexpr int kCodecDelay = G729A_ENCODER_DELAY;

using audio::comparison_result;
using audio::kSegment;
using audio::kSegmentSnrCeilingDb;
using audio::kSegmentSnrFloorDb;
using audio::kSilentSegmentDb;

// The comparison at the codec's delay unless told otherwise.
class aligned_comparison : public audio::aligned_comparison {
public:
    explicit aligned_comparison(int delay = kCodecDelay) : audio::aligned_comparison(delay) {}
};

} // namespace g729::tool
