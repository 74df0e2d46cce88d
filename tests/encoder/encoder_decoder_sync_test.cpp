// An encoder and a decoder fed the encoder's frames must keep the same
// predictor memories, or every later frame decodes with the wrong LSFs and
// gains.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "codec/decoder/decoder_object.h"
#include "codec/encoder/encoder.h"
#include "tests/codec_test_support.h"

namespace g729 {
namespace {

using testing::read_samples;

class EncoderDecoderSync : public ::testing::TestWithParam<const char*> {};

TEST_P(EncoderDecoderSync, DecoderHoldsTheEncodersPredictorMemoriesAfterEveryFrame) {
    const std::vector<int16_t> input = read_samples(std::string(GetParam()) + ".raw");
    ASSERT_GE(input.size(), size_t(3 * 8000)) << "a few seconds of speech";

    auto encoder = std::make_unique<encoder_state>();
    auto decoder = std::make_unique<decoder_object>();
    encoder_init(*encoder);
    decoder_init(*decoder);
    for (size_t f = 0; (f + 1) * kFrame <= input.size(); ++f) {
        uint8_t frame[kSpeechFrameBytes];
        int length = 0;
        encode_frame(*encoder, &input[f * kFrame], frame, length);
        int16_t out[kFrame];
        ASSERT_EQ(decode_frame(*decoder, out, frame, length), 0);
        ASSERT_EQ(encoder->lsf_predictor_memory, decoder->decoder_state.lsf_predictor_memory) << "frame " << f;
        ASSERT_EQ(encoder->energy_history, decoder->decoder_state.energy_history) << "frame " << f;
    }
}

INSTANTIATE_TEST_SUITE_P(Speech, EncoderDecoderSync,
                         ::testing::Values("speech_male_librivox", "speech_female_espeak"),
                         [](const ::testing::TestParamInfo<const char*>& info) { return std::string(info.param); });

} // namespace
} // namespace g729
