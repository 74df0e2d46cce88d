// The reference vectors: outputs of an independent implementation of the
// same codec, reproduced bit for bit.
#include "codec/decoder/decoder_object.h"
#include "codec/encoder/encoder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/codec_test_support.h"

namespace g729 {
namespace {

using testing::as_samples;
using testing::expect_same_samples;
using testing::read_vector;



const char* const kEncoderVectors[] = {
    "speech_male_librivox", "speech_male_espeak", "speech_female_espeak", "tone_1kHz", "square_fullscale", "silence",
};

class EncoderVector : public ::testing::TestWithParam<const char*> {};

TEST_P(EncoderVector, EncodingReproducesTheReferenceFrames) {
    const std::string name = GetParam();
    const std::vector<int16_t> input = as_samples(read_vector(name + ".raw"));
    const std::vector<uint8_t> want = read_vector(name + ".g729");
    ASSERT_EQ(input.size() / kFrame * kSpeechFrameBytes, want.size());

    auto encoder = std::make_unique<encoder_state>();
    encoder_init(*encoder);
    for (size_t f = 0; f * kFrame < input.size(); ++f) {
        uint8_t frame[kSpeechFrameBytes];
        int length = 0;
        encode_frame(*encoder, &input[f * kFrame], frame, length);
        ASSERT_EQ(length, kSpeechFrameBytes);
        const uint8_t* expected = &want[f * kSpeechFrameBytes];
        for (int b = 0; b < kSpeechFrameBytes; ++b) {
            ASSERT_EQ(frame[b], expected[b]) << name << ": frame " << f << " byte " << b;
        }
    }
}

TEST_P(EncoderVector, DecodingTheReferenceFramesReproducesTheReferenceOutput) {
    const std::string name = GetParam();
    const std::vector<uint8_t> frames = read_vector(name + ".g729");
    const std::vector<int16_t> want = as_samples(read_vector(name + ".g729.raw"));

    auto decoder = testing::new_decoder();
    std::vector<int16_t> got(frames.size() / kSpeechFrameBytes * kFrame);
    for (size_t f = 0; f < frames.size() / kSpeechFrameBytes; ++f) {
        ASSERT_EQ(decode_frame(*decoder, &got[f * kFrame], &frames[f * kSpeechFrameBytes], kSpeechFrameBytes), 0);
    }
    expect_same_samples(got, want, name);
}

INSTANTIATE_TEST_SUITE_P(ReferenceVectors, EncoderVector, ::testing::ValuesIn(kEncoderVectors),
                         [](const ::testing::TestParamInfo<const char*>& info) { return std::string(info.param); });

class DecoderVector : public ::testing::TestWithParam<const char*> {};

// Records of one length byte and that many bytes; lengths other than 10 and 2
// are refused and produce nothing.
TEST_P(DecoderVector, DecodingThePayloadRecordsReproducesTheReferenceOutput) {
    const std::string name = GetParam();
    const std::vector<uint8_t> records = read_vector(name + ".pay");
    const std::vector<int16_t> want = as_samples(read_vector(name + ".pay.raw"));

    auto decoder = testing::new_decoder();
    std::vector<int16_t> got;
    size_t pos = 0;
    while (pos < records.size()) {
        const int length = records[pos];
        ASSERT_LE(pos + 1 + length, records.size()) << "truncated record at " << pos;
        int16_t out[kFrame];
        const int result = decode_frame(*decoder, out, &records[pos + 1], length);
        if (length == kSpeechFrameBytes || length == kSidFrameBytes) {
            ASSERT_EQ(result, 0);
            got.insert(got.end(), out, out + kFrame);
        } else {
            ASSERT_EQ(result, -1) << "length " << length << " must be refused";
        }
        pos += 1 + length;
    }
    expect_same_samples(got, want, name);
}

const char* const kDecoderVectors[] = {"random_frames", "speech_sid_mix", "parity_errors"};
INSTANTIATE_TEST_SUITE_P(ReferenceVectors, DecoderVector, ::testing::ValuesIn(kDecoderVectors),
                         [](const ::testing::TestParamInfo<const char*>& info) { return std::string(info.param); });

} // namespace
} // namespace g729
