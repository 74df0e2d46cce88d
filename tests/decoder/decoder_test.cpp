#include "codec/decoder/decoder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "codec/bitstream.h"
#include "codec/decoder/postfilter.h"
#include "tests/decoder/staged_decoder.h"

namespace g729 {
namespace {

using testing::synthesize_frame;

TEST(DecodePitchLag, IndicesGiveTheListedDelays) {
    struct Case {
        int index, subframe, reference;
        int t0, frac;
    };
    const Case cases[] = {
        {0, 0, 0, 19, +1},   {1, 0, 0, 20, -1},    {2, 0, 0, 20, 0},     {196, 0, 0, 85, -1},
        {197, 0, 0, 85, 0},  {255, 0, 0, 143, 0},  {0, 1, 20, 19, +1},   {31, 1, 140, 144, -1},
        {2, 1, 60, 55, 0},   {17, 1, 60, 60, 0},   {31, 1, 60, 65, -1},  {2, 1, 22, 20, 0},
        {17, 1, 143, 139, 0},
    };
    for (const Case& c : cases) {
        int t0 = -1, frac = -9;
        decode_pitch_lag(c.index, c.subframe, c.reference, t0, frac);
        EXPECT_EQ(t0, c.t0) << "index " << c.index << " subframe " << c.subframe << " ref " << c.reference;
        EXPECT_EQ(frac, c.frac) << "index " << c.index << " subframe " << c.subframe << " ref " << c.reference;
    }
}

TEST(DecodeFixedCode, FourSignedPulsesOnTheirTracks) {
    struct Case {
        int signs, positions;
        int pos[4];
    };
    const Case cases[] = {
        {0x0, 0x0000, {0, 1, 2, 3}},
        {0xF, 0x1FFF, {35, 36, 37, 39}},
        {0x5, (3) | (5 << 3) | (2 << 6) | (1 << 9) | (6 << 10), {15, 26, 12, 34}},
    };
    for (const Case& c : cases) {
        double code[kSubframe];
        decode_fixed_code(c.signs, c.positions, code);
        int nonzero = 0;
        for (double v : code) nonzero += v != 0.0;
        EXPECT_EQ(nonzero, 4);
        for (int k = 0; k < 4; ++k) {
            EXPECT_EQ(code[c.pos[k]], ((c.signs >> k) & 1) ? 1.0 : -1.0) << "pulse " << k;
        }
    }
}

frame_parameters speech_frame(int p1, bool parity_error, int p2, int gain1, int gain2) {
    frame_parameters p{};
    p.type = frame_type::speech;
    p.speech.lsp_first = 17;
    p.speech.lsp_second = 400;
    p.speech.parity_error = parity_error;
    p.speech.subframes[0] = {p1, 2345, 9, gain1};
    p.speech.subframes[1] = {p2, 6543, 6, gain2};
    return p;
}

frame_parameters sid_frame(int energy) {
    frame_parameters p{};
    p.type = frame_type::sid;
    p.sid = {1, 9, 7, energy};
    return p;
}

struct DecoderFixture : ::testing::Test {
    std::unique_ptr<decoder_state> state = std::make_unique<decoder_state>();
    comfort_noise_state noise{};
    double speech[kFrame];
    lp_filter_pair filters;
    pitch_lags lags;

    void SetUp() override {
        decoder_reset(*state);
        comfort_noise_reset(noise);
    }
    frame_type type = frame_type::speech;
    void decode(const frame_parameters& p) {
        synthesize_frame(*state, noise, p, speech, filters, lags);
        type = state->previous_frame_type;
    }
};

TEST_F(DecoderFixture, ParityErrorReusesThePreviousLag) {
    // An all-zero frame fails the parity check: subframe 0 takes the reset
    // lag 60, subframe 1 decodes relative to it.
    frame_parameters zero{};
    zero.type = frame_type::speech;
    zero.speech.parity_error = true;
    decode(zero);
    EXPECT_EQ(lags[0], 60);
    EXPECT_EQ(lags[1], 55 - 1);
    EXPECT_EQ(type, frame_type::speech);

    // A run of damaged frames follows the second pitch index.
    state->previous_integer_lag = 143;
    decode(speech_frame(7, 1, 31, 0, 0));
    EXPECT_EQ(lags[0], 143);
    EXPECT_EQ(lags[1], 144);
    EXPECT_EQ(state->previous_integer_lag, 144);
    decode(speech_frame(7, 1, 0, 0, 0));
    EXPECT_EQ(lags[0], 144);
    EXPECT_EQ(lags[1], 134 - 1);

    // An intact first index is decoded and ignores the previous lag.
    decode(speech_frame(255, 0, 17, 0, 0));
    EXPECT_EQ(lags[0], 143);
    EXPECT_EQ(lags[1], 139);
}

TEST_F(DecoderFixture, SharpeningFactorFollowsTheClampedPitchGain) {
    struct Case {
        int gain_index; // of the second subframe, which sets the factor
        double factor;
    };
    // Index 5: GA row 5 + GB row 15, pitch 1.35594; index 84: GA row 0 + GB
    // row 0, pitch 0.050476; index 0: GA row 5 + GB row 2, pitch 0.511772.
    const Case cases[] = {{5, 0.7945}, {84, 0.2}, {0, 0.197901 + 0.313871}};
    for (const Case& c : cases) {
        decode(speech_frame(100, 0, 10, 0, c.gain_index));
        EXPECT_EQ(state->pitch_sharpening_factor, c.factor) << c.gain_index;
    }
}

TEST_F(DecoderFixture, SidFrameBetweenSpeechFramesKeepsTheGainHistory) {
    decode(speech_frame(100, 0, 10, 33, 71));
    decode(speech_frame(120, 0, 20, 5, 90));
    const energy_memory history = state->energy_history;
    const int lag = state->previous_integer_lag;
    const lsp_vector speech_lsp = state->previous_quantized_lsp;

    decode(sid_frame(20));
    EXPECT_EQ(type, frame_type::sid);
    EXPECT_EQ(state->energy_history, history);
    EXPECT_EQ(state->pitch_sharpening_factor, 0.2);
    EXPECT_EQ(lags[0], lag);
    EXPECT_EQ(lags[1], lag);
    EXPECT_NE(state->previous_quantized_lsp, speech_lsp);
    EXPECT_EQ(state->previous_quantized_lsp, noise.sid_lsp);
    EXPECT_NE(state->noise_seed, kInitialNoiseSeed);
    // The synthesis memory is a plain copy of the last ten samples.
    for (int j = 0; j < kOrder; ++j) EXPECT_EQ(state->synthesis_filter_memory[j], speech[kFrame - kOrder + j]) << j;

    decode(speech_frame(100, 0, 10, 33, 71));
    EXPECT_EQ(state->noise_seed, kInitialNoiseSeed) << "speech frames restart the noise sequence";
    EXPECT_EQ(state->energy_history[2], history[0]);
    EXPECT_EQ(state->energy_history[3], history[1]);
}

TEST_F(DecoderFixture, ExcitationHistoryShiftsByOneFrame) {
    decode(speech_frame(100, 0, 10, 33, 71));
    double first[kExcitationHistory];
    for (int i = 0; i < kExcitationHistory; ++i) first[i] = state->excitation_buffer[i];
    decode(speech_frame(120, 0, 20, 5, 90));
    // The 74 oldest samples of the new history are the newest of the old.
    for (int i = 0; i < kExcitationHistory - kFrame; ++i) EXPECT_EQ(state->excitation_buffer[i], first[i + kFrame]);
}

} // namespace
} // namespace g729

namespace g729 {
namespace {

using testing::synthesize_frame;

std::vector<uint8_t> vector_bytes(const std::string& name) {
    std::ifstream in(std::string(G729A_TEST_DATA) + "/vectors/" + name, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool same_doubles(const double* a, const double* b, int n) { return std::memcmp(a, b, sizeof(double) * size_t(n)) == 0; }

// The speech-frame chain that interleaves synthesis, post-filter and high-pass
// must leave every double exactly where the three stages one after the other
// leave it: the output, the synthesis history and every memory, frame after
// frame, on speech and on random frames with SID frames among them. The
// 16-bit output alone could hide a difference in the last bits.
TEST(DecodeSpeechToOutput, EqualsTheStagesOneAfterTheOther) {
    struct chain {
        std::unique_ptr<decoder_state> core = std::make_unique<decoder_state>();
        comfort_noise_state noise{};
        postfilter_state post{};
        pole_zero_memory high_pass{};
        double buffer[kSynthesisHistory + kFrame] = {};
        chain() {
            decoder_reset(*core);
            comfort_noise_reset(noise);
            postfilter_reset(post);
            postprocess_reset(high_pass);
        }
    };
    std::vector<std::vector<uint8_t>> streams;
    const std::vector<uint8_t> speech = vector_bytes("speech_male_librivox.g729");
    for (size_t i = 0; i + kSpeechFrameBytes <= speech.size(); i += kSpeechFrameBytes) {
        streams.emplace_back(speech.begin() + long(i), speech.begin() + long(i + kSpeechFrameBytes));
    }
    const std::vector<uint8_t> records = vector_bytes("random_frames.pay");
    for (size_t i = 0; i < records.size() && i + 1 + records[i] <= records.size(); i += 1 + records[i]) {
        if (records[i] == kSpeechFrameBytes || records[i] == kSidFrameBytes) {
            streams.emplace_back(records.begin() + long(i + 1), records.begin() + long(i + 1 + records[i]));
        }
    }
    ASSERT_GT(streams.size(), 600u);

    chain staged, interleaved;
    int frame = 0;
    for (const std::vector<uint8_t>& bytes : streams) {
        frame_parameters params;
        unpack_frame(params, bytes.data(), bytes.size() == size_t(kSidFrameBytes) ? frame_type::sid : frame_type::speech);

        double* speech_out = staged.buffer + kSynthesisHistory;
        lp_filter_pair filters;
        pitch_lags lags;
        synthesize_frame(*staged.core, staged.noise, params, speech_out, filters, lags);
        postfilter_frame(staged.post, staged.buffer, filters, lags, params.type);
        postprocess_filter(staged.high_pass, speech_out, kFrame);

        // The decoder object takes SID frames through the stages in turn.
        if (params.type == frame_type::speech) {
            decode_speech_to_output(*interleaved.core, interleaved.post, interleaved.high_pass, params.speech,
                                    interleaved.buffer);
        } else {
            double* out = interleaved.buffer + kSynthesisHistory;
            synthesize_frame(*interleaved.core, interleaved.noise, params, out, filters, lags);
            postfilter_frame(interleaved.post, interleaved.buffer, filters, lags, params.type);
            postprocess_filter(interleaved.high_pass, out, kFrame);
        }

        ASSERT_TRUE(same_doubles(staged.buffer, interleaved.buffer, kSynthesisHistory + kFrame)) << "frame " << frame;
        ASSERT_TRUE(same_doubles(staged.core->excitation_buffer, interleaved.core->excitation_buffer,
                                 kDecoderExcitationBuffer))
            << "frame " << frame;
        ASSERT_TRUE(same_doubles(staged.core->synthesis_filter_memory.data(),
                                 interleaved.core->synthesis_filter_memory.data(), kOrder))
            << "frame " << frame;
        ASSERT_TRUE(same_doubles(staged.post.residual_history, interleaved.post.residual_history, kResidualHistory))
            << "frame " << frame;
        ASSERT_TRUE(same_doubles(staged.post.postfilter_synthesis_memory.data(),
                                 interleaved.post.postfilter_synthesis_memory.data(), kOrder))
            << "frame " << frame;
        const double a[] = {staged.post.tilt_memory, staged.post.agc_gain, staged.high_pass.x1, staged.high_pass.x2,
                            staged.high_pass.y1, staged.high_pass.y2, staged.core->pitch_sharpening_factor};
        const double b[] = {interleaved.post.tilt_memory, interleaved.post.agc_gain, interleaved.high_pass.x1,
                            interleaved.high_pass.x2, interleaved.high_pass.y1, interleaved.high_pass.y2,
                            interleaved.core->pitch_sharpening_factor};
        ASSERT_TRUE(same_doubles(a, b, 7)) << "frame " << frame;
        ASSERT_EQ(staged.core->previous_integer_lag, interleaved.core->previous_integer_lag) << "frame " << frame;
        ASSERT_EQ(staged.core->noise_seed, interleaved.core->noise_seed) << "frame " << frame;
        const double gains[] = {staged.core->last_pitch_gain, staged.core->last_code_gain};
        const double interleaved_gains[] = {interleaved.core->last_pitch_gain, interleaved.core->last_code_gain};
        ASSERT_TRUE(same_doubles(gains, interleaved_gains, 2)) << "frame " << frame;
        ASSERT_EQ(staged.core->last_lsp_predictor, interleaved.core->last_lsp_predictor) << "frame " << frame;
        ASSERT_EQ(staged.core->lost_frames, interleaved.core->lost_frames) << "frame " << frame;
        ++frame;
    }
}

} // namespace
} // namespace g729
