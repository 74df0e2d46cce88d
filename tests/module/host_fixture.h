// The real codec_g729a.so loaded into the minimal host for each test.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "host/host.h"

namespace g729_test {

class LoadedModule : public ::testing::Test {
protected:
    void SetUp() override {
        corvane::set_log_echo(false);
        std::string error;
        ASSERT_TRUE(corvane::load_module(G729A_MODULE_PATH, error)) << error;
        corvane::take_log();
    }
    void TearDown() override {
        std::string error;
        corvane::unload_module("codec_g729a", error);
    }

    static cvn_translator* encoder_translator() { return corvane::find_translator("slin", "g729"); }
    static cvn_translator* decoder_translator() { return corvane::find_translator("g729", "slin"); }

    // The messages logged since the last call.
    static std::vector<std::string> messages() {
        std::vector<std::string> out;
        for (const corvane::log_entry& e : corvane::take_log()) out.push_back(e.message);
        return out;
    }
};

inline cvn_frame slin_frame(const int16_t* samples, int count) {
    cvn_frame f{};
    f.frametype = CVN_FRAME_VOICE;
    f.format = cvn_format_slin;
    f.samples = count;
    f.datalen = count * 2;
    f.src = "test";
    f.data = const_cast<int16_t*>(samples);
    return f;
}

inline cvn_frame g729_frame(const uint8_t* bytes, int count) {
    cvn_frame f{};
    f.frametype = CVN_FRAME_VOICE;
    f.format = cvn_format_g729;
    f.samples = 0;
    f.datalen = count;
    f.src = "test";
    f.data = const_cast<uint8_t*>(bytes);
    return f;
}

// Speech from the bundled sample, so that frames are not trivially alike.
std::vector<int16_t> speech_samples(size_t count);
// Real speech frames from the reference vectors.
std::vector<uint8_t> speech_frames(size_t count);

} // namespace g729_test
