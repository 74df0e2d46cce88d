// Scratch directories, audio files and runs of the g729a executable for the
// tool tests.
#pragma once

#include <gtest/gtest.h>
#include <sndfile.h>

#include <dirent.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "codec/codec.h"

namespace g729::tool::testing {

struct run_result {
    int status = -1;
    std::string out;
    std::string err;
};

inline std::vector<uint8_t> read_file(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

inline void write_file(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

inline std::vector<uint8_t> raw_bytes(const std::vector<int16_t>& samples) {
    std::vector<uint8_t> bytes;
    for (int16_t s : samples) {
        bytes.push_back(uint8_t(uint16_t(s) & 0xFF));
        bytes.push_back(uint8_t(uint16_t(s) >> 8));
    }
    return bytes;
}

inline std::vector<int16_t> raw_samples(const std::vector<uint8_t>& bytes) {
    std::vector<int16_t> samples;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) samples.push_back(int16_t(uint16_t(bytes[i] | (bytes[i + 1] << 8))));
    return samples;
}

// Writes interleaved samples (on the [-1, 1) scale) with libsndfile.
inline void write_audio(const std::string& path, int format, int rate, int channels, const std::vector<double>& interleaved) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = format;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(f, nullptr) << sf_strerror(nullptr);
    sf_command(f, SFC_SET_CLIPPING, nullptr, SF_FALSE);
    EXPECT_EQ(sf_writef_double(f, interleaved.data(), sf_count_t(interleaved.size() / std::size_t(channels))),
              sf_count_t(interleaved.size() / std::size_t(channels)));
    sf_close(f);
}

// Writes 16-bit samples exactly (libsndfile scales doubles by 32767 on the
// way out, so they would not survive the trip).
inline void write_pcm(const std::string& path, int format, int rate, const std::vector<int16_t>& samples) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = 1;
    info.format = format;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(f, nullptr) << sf_strerror(nullptr);
    EXPECT_EQ(sf_writef_short(f, samples.data(), sf_count_t(samples.size())), sf_count_t(samples.size()));
    sf_close(f);
}

struct audio_file {
    SF_INFO info{};
    std::vector<int16_t> samples;
};

inline audio_file read_audio(const std::string& path) {
    audio_file a;
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &a.info);
    if (!f) return a;
    a.samples.resize(std::size_t(a.info.frames * a.info.channels));
    sf_readf_short(f, a.samples.data(), a.info.frames);
    sf_close(f);
    return a;
}

// What the codec makes of these samples, frame by frame from a fresh
// encoder, the last partial frame padded with zeros.
inline std::vector<uint8_t> encode_in_process(std::vector<int16_t> samples) {
    samples.resize((samples.size() + kFrame - 1) / kFrame * kFrame, 0);
    auto encoder = std::make_unique<encoder_object>();
    encoder_init(*encoder);
    std::vector<uint8_t> out;
    for (std::size_t i = 0; i < samples.size(); i += kFrame) {
        uint8_t frame[kSpeechFrameBytes];
        int length = 0;
        encode_frame(*encoder, samples.data() + i, frame, length);
        out.insert(out.end(), frame, frame + kSpeechFrameBytes);
    }
    return out;
}

// Decodes (bytes, length) records in order on one fresh decoder; an empty
// record is a frame that did not arrive.
inline std::vector<int16_t> decode_in_process(const std::vector<std::vector<uint8_t>>& frames) {
    auto decoder = std::make_unique<decoder_object>();
    decoder_init(*decoder);
    std::vector<int16_t> out;
    for (const auto& frame : frames) {
        int16_t samples[kFrame];
        if (frame.empty()) {
            decode_missing_frame(*decoder, samples);
            out.insert(out.end(), samples, samples + kFrame);
        } else if (decode_frame(*decoder, samples, frame.data(), int(frame.size())) == 0) {
            out.insert(out.end(), samples, samples + kFrame);
        }
    }
    return out;
}

// A scratch directory per test, removed afterwards.
class ToolTest : public ::testing::Test {
protected:
    void SetUp() override {
        char templ[] = "/tmp/g729a-test-XXXXXX";
        ASSERT_NE(mkdtemp(templ), nullptr);
        dir_ = templ;
    }
    void TearDown() override {
        for (const std::string& name : files()) std::remove(path(name).c_str());
        std::remove(path(".stdout").c_str());
        std::remove(path(".stderr").c_str());
        rmdir(dir_.c_str());
    }

    std::string path(const std::string& name) const { return dir_ + "/" + name; }

    // Names in the scratch directory, leaving out the captured streams.
    std::set<std::string> files() const {
        std::set<std::string> names;
        if (DIR* d = opendir(dir_.c_str())) {
            while (dirent* e = readdir(d)) {
                const std::string name = e->d_name;
                if (name != "." && name != "..") names.insert(name);
            }
            closedir(d);
        }
        names.erase(".stdout");
        names.erase(".stderr");
        return names;
    }

    // Runs g729a with arguments (each taken literally), standard input from
    // a file in the scratch directory or /dev/null.
    run_result run(const std::vector<std::string>& args, const std::string& stdin_name = "") const {
        std::string command = "'" G729A_TOOL_PATH "'";
        for (const std::string& a : args) command += " '" + a + "'";
        command += " <" + (stdin_name.empty() ? std::string("/dev/null") : path(stdin_name));
        command += " >" + path(".stdout") + " 2>" + path(".stderr");
        const int rc = std::system(command.c_str());
        run_result r;
        r.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
        const std::vector<uint8_t> out = read_file(path(".stdout"));
        const std::vector<uint8_t> err = read_file(path(".stderr"));
        r.out.assign(out.begin(), out.end());
        r.err.assign(err.begin(), err.end());
        return r;
    }

    std::string dir_;
};

} // namespace g729::tool::testing
