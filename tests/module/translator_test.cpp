// The two translators driven through their callbacks by the host, with the
// real module loaded.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "codec/decoder/decoder_object.h"
#include "codec/encoder/encoder.h"
#include "tests/module/host_fixture.h"

namespace g729_test {
namespace {

using corvane::translation_step;

// What the codec itself makes of the same input, frame by frame.
std::vector<uint8_t> encode_directly(const std::vector<int16_t>& samples, size_t blocks) {
    auto encoder = std::make_unique<g729::encoder_state>();
    g729::encoder_init(*encoder);
    std::vector<uint8_t> out(blocks * 10);
    for (size_t b = 0; b < blocks; ++b) {
        int length = 0;
        g729::encode_frame(*encoder, &samples[b * 80], &out[b * 10], length);
    }
    return out;
}

std::vector<int16_t> decode_directly(const std::vector<std::pair<const uint8_t*, int>>& frames) {
    auto decoder = std::make_unique<g729::decoder_object>();
    g729::decoder_init(*decoder);
    std::vector<int16_t> out;
    for (const auto& f : frames) {
        int16_t pcm[80];
        EXPECT_EQ(g729::decode_frame(*decoder, pcm, f.first, f.second), 0);
        out.insert(out.end(), pcm, pcm + 80);
    }
    return out;
}

using EncoderTranslator = LoadedModule;

TEST_F(EncoderTranslator, HoldsSamplesUntilAWholeBlockIsThere) {
    const std::vector<int16_t> speech = speech_samples(80);
    translation_step step(encoder_translator());
    cvn_frame first = slin_frame(speech.data(), 79);
    ASSERT_EQ(step.framein(&first), 0);
    EXPECT_EQ(step.frameout(), nullptr);
    EXPECT_EQ(step.pvt().samples, 79);

    cvn_frame last = slin_frame(speech.data() + 79, 1);
    ASSERT_EQ(step.framein(&last), 0);
    cvn_frame* out = step.frameout();
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out->datalen, 10);
    EXPECT_EQ(out->samples, 80);
    EXPECT_EQ(out->format, cvn_format_g729);
    EXPECT_EQ(step.pvt().samples, 0);
    const std::vector<uint8_t> want = encode_directly(speech, 1);
    EXPECT_EQ(0, std::memcmp(out->data, want.data(), 10));
    EXPECT_EQ(step.frameout(), nullptr);
}

TEST_F(EncoderTranslator, EncodesEveryWholeBlockAtOnceAndKeepsTheRemainderInOrder) {
    const std::vector<int16_t> speech = speech_samples(320);
    translation_step step(encoder_translator());
    cvn_frame big = slin_frame(speech.data(), 250);
    ASSERT_EQ(step.framein(&big), 0);
    cvn_frame* out = step.frameout();
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out->datalen, 30);
    EXPECT_EQ(out->samples, 240);
    EXPECT_EQ(step.pvt().samples, 10);
    const std::vector<uint8_t> want = encode_directly(speech, 4);
    EXPECT_EQ(0, std::memcmp(out->data, want.data(), 30));

    // The 10 samples moved to the front continue the signal: the next block
    // is what the codec makes of samples 240..319.
    cvn_frame rest = slin_frame(speech.data() + 250, 70);
    ASSERT_EQ(step.framein(&rest), 0);
    out = step.frameout();
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out->datalen, 10);
    EXPECT_EQ(0, std::memcmp(out->data, want.data() + 30, 10));
}

TEST_F(EncoderTranslator, AcceptsExactlyItsCapacityAndRefusesMoreUntouched) {
    const std::vector<int16_t> speech = speech_samples(8001);
    translation_step step(encoder_translator());
    for (int pos = 0; pos < 8000; pos += 160) {
        cvn_frame f = slin_frame(speech.data() + pos, 160);
        ASSERT_EQ(step.framein(&f), 0) << "at " << pos;
    }
    EXPECT_EQ(step.pvt().samples, 8000);
    cvn_frame one = slin_frame(speech.data() + 8000, 1);
    EXPECT_EQ(step.framein(&one), -1);
    EXPECT_EQ(messages(), std::vector<std::string>{"Out of buffer space"});
    EXPECT_EQ(step.pvt().samples, 8000);

    cvn_frame* out = step.frameout();
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out->datalen, 1000);
    EXPECT_EQ(out->samples, 8000);
    const std::vector<uint8_t> want = encode_directly(speech, 100);
    EXPECT_EQ(0, std::memcmp(out->data, want.data(), 1000));
}

TEST_F(EncoderTranslator, RefusesFramesThatPromiseMoreThanTheyCarry) {
    const std::vector<int16_t> speech = speech_samples(160);
    struct Case {
        const char* name;
        int samples;
        int datalen;
        bool null_data;
        const char* message;
    };
    const Case cases[] = {
        {"negative sample count", -80, 0, false, "Invalid frame (-80 samples, 0 bytes)"},
        {"fewer bytes than samples need", 160, 200, false, "Invalid frame (160 samples, 200 bytes)"},
        {"no data behind a positive count", 80, 160, true, "Invalid frame (80 samples, 160 bytes)"},
    };
    for (const Case& c : cases) {
        translation_step step(encoder_translator());
        cvn_frame ok = slin_frame(speech.data(), 40);
        ASSERT_EQ(step.framein(&ok), 0);
        cvn_frame bad = slin_frame(speech.data(), 0);
        bad.samples = c.samples;
        bad.datalen = c.datalen;
        if (c.null_data) bad.data = nullptr;
        EXPECT_EQ(step.framein(&bad), -1) << c.name;
        EXPECT_EQ(messages(), std::vector<std::string>{c.message}) << c.name;
        EXPECT_EQ(step.pvt().samples, 40) << c.name;
    }
    // An empty frame is harmless, and a byte count above twice the samples
    // is not a fault.
    translation_step step(encoder_translator());
    cvn_frame empty = slin_frame(nullptr, 0);
    EXPECT_EQ(step.framein(&empty), 0);
    cvn_frame generous = slin_frame(speech.data(), 10);
    generous.datalen = 320;
    EXPECT_EQ(step.framein(&generous), 0);
    EXPECT_EQ(step.pvt().samples, 10);
    EXPECT_TRUE(messages().empty());
}

using DecoderTranslator = LoadedModule;

TEST_F(DecoderTranslator, WalksPayloadsAsSpeechFramesEndedByOneSidFrame) {
    const std::vector<uint8_t> speech = speech_frames(2);
    const uint8_t sid[2] = {0xa5, 0xc3};
    std::vector<uint8_t> payload(speech);
    payload.insert(payload.end(), sid, sid + 2);
    payload.insert(payload.end(), sid, sid + 2);

    struct Case {
        const char* name;
        std::vector<std::pair<int, int>> pieces; // offset, size of each codec frame expected
        int length;
        int offset;
    };
    const Case cases[] = {
        {"12 bytes: speech then SID", {{10, 10}, {20, 2}}, 12, 10},
        {"22 bytes: two speech frames and a SID frame", {{0, 10}, {10, 10}, {20, 2}}, 22, 0},
        {"0 bytes: nothing", {}, 0, 0},
    };
    for (const Case& c : cases) {
        translation_step step(decoder_translator());
        cvn_frame f = g729_frame(payload.data() + c.offset, c.length);
        ASSERT_EQ(step.framein(&f), 0) << c.name;
        EXPECT_EQ(step.pvt().samples, int(c.pieces.size()) * 80) << c.name;
        EXPECT_EQ(step.pvt().datalen, int(c.pieces.size()) * 160) << c.name;
        std::vector<std::pair<const uint8_t*, int>> frames;
        for (const auto& p : c.pieces) frames.push_back({payload.data() + p.first, p.second});
        const std::vector<int16_t> want = decode_directly(frames);
        cvn_frame* out = step.frameout();
        if (c.pieces.empty()) {
            EXPECT_EQ(out, nullptr) << c.name;
            continue;
        }
        ASSERT_NE(out, nullptr) << c.name;
        EXPECT_EQ(out->samples, int(want.size())) << c.name;
        EXPECT_EQ(out->datalen, int(want.size()) * 2) << c.name;
        EXPECT_EQ(out->format, cvn_format_slin) << c.name;
        EXPECT_EQ(0, std::memcmp(out->data, want.data(), want.size() * 2)) << c.name;
        EXPECT_EQ(step.pvt().samples, 0) << "the standard frame-out empties the buffer";
        EXPECT_TRUE(messages().empty()) << c.name;
    }
}

TEST_F(DecoderTranslator, RefusesAPayloadWithARaggedEndButKeepsTheFramesBeforeIt) {
    const std::vector<uint8_t> speech = speech_frames(2);
    struct Case {
        int length;
        int samples_kept;
        const char* message;
    };
    const Case cases[] = {
        {11, 80, "Invalid data (1 bytes at the end)"},
        {3, 0, "Invalid data (3 bytes at the end)"},
        // Only one SID frame may end a payload: two in a row are a ragged end.
        {4, 0, "Invalid data (4 bytes at the end)"},
        {19, 80, "Invalid data (9 bytes at the end)"},
    };
    for (const Case& c : cases) {
        translation_step step(decoder_translator());
        cvn_frame f = g729_frame(speech.data(), c.length);
        EXPECT_EQ(step.framein(&f), -1) << c.length;
        EXPECT_EQ(messages(), std::vector<std::string>{c.message});
        EXPECT_EQ(step.pvt().samples, c.samples_kept) << c.length;
        EXPECT_EQ(step.pvt().datalen, c.samples_kept * 2) << c.length;
    }
}

TEST_F(DecoderTranslator, FillsItsOutputBufferToExactlyCapacityAndNoFurther) {
    const std::vector<uint8_t> speech = speech_frames(101);
    translation_step step(decoder_translator());
    cvn_frame most = g729_frame(speech.data(), 990);
    ASSERT_EQ(step.framein(&most), 0);
    EXPECT_EQ(step.pvt().samples, 7920);
    cvn_frame two = g729_frame(speech.data() + 990, 20);
    EXPECT_EQ(step.framein(&two), -1);
    EXPECT_EQ(messages(), std::vector<std::string>{"Out of buffer space"});
    EXPECT_EQ(step.pvt().samples, 8000) << "the first of the two frames still fitted";
    cvn_frame* out = step.frameout();
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out->samples, 8000);

    std::vector<std::pair<const uint8_t*, int>> frames;
    for (int i = 0; i < 100; ++i) frames.push_back({speech.data() + 10 * i, 10});
    const std::vector<int16_t> want = decode_directly(frames);
    EXPECT_EQ(0, std::memcmp(out->data, want.data(), 16000));
}

TEST_F(DecoderTranslator, RefusesAPayloadWithoutData) {
    translation_step step(decoder_translator());
    cvn_frame f = g729_frame(nullptr, 10);
    EXPECT_EQ(step.framein(&f), -1);
    EXPECT_EQ(messages(), std::vector<std::string>{"Invalid frame (0 samples, 10 bytes)"});
    EXPECT_EQ(step.pvt().samples, 0);
    const uint8_t frame[10] = {};
    cvn_frame negative = g729_frame(frame, -5);
    EXPECT_EQ(step.framein(&negative), -1) << "a negative byte count is refused like a negative sample count";
    EXPECT_EQ(messages(), std::vector<std::string>{"Invalid frame (0 samples, -5 bytes)"});
    EXPECT_EQ(step.pvt().samples, 0);
    EXPECT_EQ(step.pvt().datalen, 0);
}

TEST_F(DecoderTranslator, WarningsNameTheModuleAndTheCallback) {
    translation_step decoder(decoder_translator());
    const uint8_t junk[3] = {1, 2, 3};
    cvn_frame f = g729_frame(junk, 3);
    decoder.framein(&f);
    translation_step encoder(encoder_translator());
    cvn_frame bad = slin_frame(nullptr, 5);
    encoder.framein(&bad);
    const std::vector<corvane::log_entry> log = corvane::take_log();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].level, CVN_LOG_WARNING);
    EXPECT_EQ(log[0].file, "codec_g729a");
    EXPECT_EQ(log[0].function, "g729tolin_framein");
    EXPECT_EQ(log[1].level, CVN_LOG_WARNING);
    EXPECT_EQ(log[1].file, "codec_g729a");
    EXPECT_EQ(log[1].function, "lintog729_framein");
}

TEST_F(LoadedModule, SampleFramesCarryTheirFormatAndTranslate) {
    cvn_frame* slin = encoder_translator()->sample();
    ASSERT_NE(slin, nullptr);
    EXPECT_EQ(slin->format, cvn_format_slin);
    EXPECT_EQ(slin->frametype, CVN_FRAME_VOICE);
    EXPECT_EQ(slin->samples, 240);
    EXPECT_EQ(slin->datalen, 480);
    EXPECT_STREQ(slin->src, "lintog729_sample");
    const int16_t* s = static_cast<const int16_t*>(slin->data);
    const int16_t first[8] = {2163, 1753, 908, 1416, 1033, 829, 785, -148};
    const int16_t last[4] = {-11, 25, -83, -4};
    EXPECT_EQ(0, std::memcmp(s, first, sizeof first));
    EXPECT_EQ(0, std::memcmp(s + 236, last, sizeof last));

    cvn_frame* g729 = decoder_translator()->sample();
    ASSERT_NE(g729, nullptr);
    EXPECT_EQ(g729->format, cvn_format_g729);
    EXPECT_EQ(g729->samples, 400);
    EXPECT_EQ(g729->datalen, 50);
    EXPECT_STREQ(g729->src, "g729tolin_sample");
    const uint8_t head[10] = {0x8f, 0x65, 0x7d, 0x4e, 0x3e, 0x0a, 0xf2, 0xba, 0xf1, 0x5e};
    EXPECT_EQ(0, std::memcmp(g729->data, head, 10));

    translation_step step(decoder_translator());
    ASSERT_EQ(step.framein(g729), 0);
    EXPECT_EQ(step.pvt().samples, 400);
}

} // namespace
} // namespace g729_test
