// A stream coded with silence suppression by the library decodes through
// the loaded module's g729tolin exactly as through the library's decoder:
// speech and SID frames as they were sent, one payload per packet. (The
// module never sees the frames that were not sent; the host has no packet
// to give it, so they are left out on both sides here.)
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "g729a.h"
#include "tests/module/host_fixture.h"

namespace g729_test {
namespace {

using corvane::translation_step;

class DtxInterop : public LoadedModule {};

TEST_F(DtxInterop, SuppressedStreamDecodesThroughTheModuleAsThroughTheLibrary) {
    // Speech, then the same speech at a twentieth of its level as a quiet
    // background, then speech again: pauses the detector finds.
    const std::vector<int16_t> speech = speech_samples(3 * 8000);
    std::vector<int16_t> input;
    for (int part = 0; part < 3; ++part) {
        for (size_t i = 0; i < speech.size(); ++i) input.push_back(part == 1 ? int16_t(speech[i] / 20) : speech[i]);
        input.insert(input.end(), 8000, int16_t(0));
    }

    g729a_encoder* enc = g729a_encoder_create(nullptr);
    ASSERT_EQ(g729a_encoder_set_dtx(enc, 1), G729A_OK);
    g729a_decoder* dec = g729a_decoder_create(nullptr);
    translation_step step(decoder_translator());
    size_t sid = 0, speech_frames = 0;
    for (size_t f = 0; f + 80 <= input.size(); f += 80) {
        uint8_t frame[G729A_SPEECH_FRAME_BYTES];
        const int n = g729a_encode(enc, &input[f], 80, frame, sizeof frame);
        if (n == 0) continue;
        sid += n == G729A_SID_FRAME_BYTES;
        speech_frames += n == G729A_SPEECH_FRAME_BYTES;
        int16_t want[80];
        ASSERT_EQ(g729a_decode(dec, frame, size_t(n), want, 80), 80);
        cvn_frame in = g729_frame(frame, n);
        ASSERT_EQ(step.framein(&in), 0);
        cvn_frame* out = step.frameout();
        ASSERT_NE(out, nullptr);
        ASSERT_EQ(out->samples, 80);
        ASSERT_EQ(0, std::memcmp(out->data, want, sizeof want)) << "frame at sample " << f;
    }
    EXPECT_GT(sid, 0u);
    EXPECT_GT(speech_frames, 0u);
    g729a_decoder_destroy(dec);
    g729a_encoder_destroy(enc);
}

} // namespace
} // namespace g729_test
