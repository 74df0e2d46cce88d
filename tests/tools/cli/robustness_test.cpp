// Faults of the g729a executable that only show from outside: output that
// cannot be written, what an overwrite does to the file OUT names, signals,
// headers that lie, and memory over long streams.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <sys/mount.h>
#include <sys/stat.h>

#include "tests/tools/tool_test_support.h"
#include "tools/formats/coded_stream.h"

namespace g729::tool {
namespace {

using testing::read_file;
using testing::run_result;
using testing::write_file;
using testing::contains;
using testing::speech_samples;

std::vector<uint8_t> coded_speech() { return read_file(G729A_TEST_DATA "/vectors/speech_male_librivox.g729"); }

// A stream of `frames` speech frames: the coded sample, repeated.
std::vector<uint8_t> long_stream(std::size_t frames) {
    const std::vector<uint8_t> speech = coded_speech();
    std::vector<uint8_t> out;
    out.reserve(frames * 10);
    while (out.size() < frames * 10) out.insert(out.end(), speech.begin(), speech.end());
    out.resize(frames * 10);
    return out;
}

// A 16-bit PCM WAV header with any claims, then `data`.
std::vector<uint8_t> wav_claiming(uint32_t rate, uint16_t channels, const std::vector<uint8_t>& data) {
    std::vector<uint8_t> w;
    auto put = [&](uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) w.push_back(uint8_t(v >> (8 * i)));
    };
    w.insert(w.end(), {'R', 'I', 'F', 'F'});
    put(uint32_t(36 + data.size()), 4);
    w.insert(w.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    put(16, 4);
    put(1, 2);
    put(channels, 2);
    put(rate, 4);
    put(rate * channels * 2u, 4);
    put(channels * 2u, 2);
    put(16, 2);
    w.insert(w.end(), {'d', 'a', 't', 'a'});
    put(uint32_t(data.size()), 4);
    w.insert(w.end(), data.begin(), data.end());
    return w;
}

class G729aRobustness : public testing::ToolTest {
protected:
    void SetUp() override {
        ToolTest::SetUp();
        samples_ = speech_samples(1600);
        write_file(path("in.raw"), testing::raw_bytes(samples_));
        coded_ = testing::encode_in_process(samples_);
        write_file(path("in.g729"), coded_);
    }
    std::vector<int16_t> samples_;
    std::vector<uint8_t> coded_;
};

TEST_F(G729aRobustness, EveryCommandFailsWhenStandardOutputCannotBeWritten) {
    const std::vector<std::vector<std::string>> cases = {
        {"info", path("in.g729")},
        {"info", "--json", path("in.g729")},
        {"dump", path("in.g729")},
        {"roundtrip", path("in.raw"), path("out.raw")}, // the figures
        {"encode", path("in.raw"), "-t", "g729", "-"},
        {"encode", path("in.raw"), "-t", "bit", "-"},
        {"decode", path("in.g729"), "-t", "raw", "-"},
        {"decode", path("in.g729"), "-t", "wav", "-"},
        {"decode", path("in.g729"), "-t", "ulaw", "-"},
        {"convert", path("in.g729"), "-t", "bit", "-"},
        {"--help"},
        {"--version"},
        {"encode", "--help"},
    };
    for (const auto& args : cases) {
        const run_result r = run(args, "", "/dev/full");
        std::string joined;
        for (const auto& a : args) joined += a + " ";
        EXPECT_EQ(r.status, 1) << joined << r.err;
        EXPECT_TRUE(contains(r.err, "g729a: standard output: cannot write: No space left on device\n")) << joined << r.err;
    }
}

TEST_F(G729aRobustness, AFullFileSystemFailsTheRunAndKeepsTheOldFile) {
    ASSERT_EQ(mkdir(path("small").c_str(), 0755), 0);
    if (mount("tmpfs", path("small").c_str(), "tmpfs", 0, "size=64k") != 0)
        GTEST_SKIP() << "cannot mount a small tmpfs here: " << std::strerror(errno);
    write_file(path("small/out.raw"), {1, 2, 3, 4});
    write_file(path("long.g729"), long_stream(600)); // 6 s: 96 kB of samples
    for (const std::string out : {"out.raw", "out.wav"}) {
        const run_result r = run({"decode", path("long.g729"), path("small/" + out)});
        EXPECT_EQ(r.status, 1) << out << r.err;
        EXPECT_TRUE(contains(r.err, "No space left on device")) << r.err;
    }
    EXPECT_EQ(read_file(path("small/out.raw")), (std::vector<uint8_t>{1, 2, 3, 4}));
    const std::string listing = run_shell("ls -A '" + path("small") + "' >" + path(".stdout") + " 2>" + path(".stderr")).out;
    EXPECT_EQ(listing, "out.raw\n") << "no temporary file is left behind";
    umount(path("small").c_str());
}

TEST_F(G729aRobustness, OverwritingReplacesWhatOutPointsAtAndKeepsItsModeAndOwner) {
    ASSERT_EQ(mkdir(path("real").c_str(), 0755), 0);
    write_file(path("real/target.g729"), {9, 9, 9});
    ASSERT_EQ(symlink("real/target.g729", path("link.g729").c_str()), 0);    // relative link
    ASSERT_EQ(symlink(path("real/new.g729").c_str(), path("dangling.g729").c_str()), 0);
    write_file(path("kept.g729"), {9, 9, 9});
    ASSERT_EQ(chmod(path("kept.g729").c_str(), 0640), 0);
    const bool root = geteuid() == 0;
    if (root) {
        ASSERT_EQ(chown(path("kept.g729").c_str(), 65534, 65534), 0);
    }
    write_file(path("readonly.g729"), {9, 9, 9});
    ASSERT_EQ(chmod(path("readonly.g729").c_str(), 0444), 0);

    for (const std::string out : {"link.g729", "dangling.g729", "kept.g729"}) {
        const run_result r = run({"encode", "-q", path("in.raw"), path(out)});
        ASSERT_EQ(r.status, 0) << out << r.err;
    }
    struct stat st;
    ASSERT_EQ(lstat(path("link.g729").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode)) << "the link stays a link";
    EXPECT_EQ(read_file(path("real/target.g729")), coded_) << "its target gets the output";
    ASSERT_EQ(lstat(path("dangling.g729").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(read_file(path("real/new.g729")), coded_) << "a dangling link's target is created";

    ASSERT_EQ(stat(path("kept.g729").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    if (root) {
        EXPECT_EQ(st.st_uid, 65534u);
        EXPECT_EQ(st.st_gid, 65534u);
    }
    EXPECT_EQ(read_file(path("kept.g729")), coded_);

    // A read-only file is replaced only by someone who could write it anyway.
    const run_result r = run({"encode", "-q", path("in.raw"), path("readonly.g729")});
    ASSERT_EQ(stat(path("readonly.g729").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0444u);
    if (root) {
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(read_file(path("readonly.g729")), coded_);
    } else {
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(contains(r.err, "Permission denied")) << r.err;
        EXPECT_EQ(read_file(path("readonly.g729")), (std::vector<uint8_t>{9, 9, 9}));
    }

    // A failed run leaves the old file as it was, and no temporary file.
    write_file(path("broken.g729"), std::vector<uint8_t>(23, 0x55));
    const run_result failed = run({"decode", path("broken.g729"), path("link.g729")});
    EXPECT_EQ(failed.status, 1);
    EXPECT_EQ(read_file(path("real/target.g729")), coded_);
    EXPECT_EQ(files(), (std::set<std::string>{"broken.g729", "dangling.g729", "in.g729", "in.raw", "kept.g729", "link.g729",
                                              "readonly.g729", "real"}));
}

TEST_F(G729aRobustness, AHangupIgnoredAtStartStaysIgnored) {
    const std::vector<uint8_t> bytes = testing::raw_bytes(samples_);
    for (const bool ignored : {true, false}) {
        int pipe_fds[2];
        ASSERT_EQ(pipe(pipe_fds), 0);
        const pid_t pid =
            testing::spawn({"encode", "-q", "-t", "raw", "-", path("out.g729")}, pipe_fds[0], path(".stdout"), path(".stderr"), ignored);
        close(pipe_fds[0]);
        // Half the input, the hangup while the encoder waits for more (its
        // temporary output is there: it has started writing), the rest.
        ASSERT_EQ(write(pipe_fds[1], bytes.data(), bytes.size() / 2), ssize_t(bytes.size() / 2));
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (files().size() < 3 && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        EXPECT_EQ(files().size(), 3u) << "the temporary output appears";
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        kill(pid, SIGHUP);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        signal(SIGPIPE, SIG_IGN);
        (void)!write(pipe_fds[1], bytes.data() + bytes.size() / 2, bytes.size() - bytes.size() / 2);
        close(pipe_fds[1]);
        const testing::child_run r = testing::wait_child(pid);
        if (ignored) {
            EXPECT_EQ(r.status, 0) << "nohup'd run killed by signal " << r.signal;
            EXPECT_EQ(read_file(path("out.g729")), coded_);
        } else {
            EXPECT_EQ(r.signal, SIGHUP);
            EXPECT_EQ(files(), (std::set<std::string>{"in.g729", "in.raw"})) << "the temporary file is removed";
        }
        std::remove(path("out.g729").c_str());
    }
}

TEST_F(G729aRobustness, HeadersClaimingImpossibleRatesAreRefused) {
    const std::vector<uint8_t> data(125, 0x11);
    struct Case {
        uint32_t rate;
        bool accepted;
    };
    for (const Case c : {Case{1, false}, Case{999, false}, Case{768001, false}, Case{1000, true}, Case{768000, true}}) {
        write_file(path("claim.wav"), wav_claiming(c.rate, 1, std::vector<uint8_t>(c.rate == 1000 ? 2000 : 124, 0x11)));
        const run_result r = run({"encode", path("claim.wav"), path("out.g729")});
        if (c.accepted) {
            EXPECT_EQ(r.status, 0) << c.rate << r.err;
        } else {
            EXPECT_EQ(r.status, 1) << c.rate;
            EXPECT_TRUE(contains(r.err, ": cannot read audio: the header claims a rate of " + std::to_string(c.rate) +
                                            " Hz; only 1000 to 768000 Hz is taken as audio\n"))
                << r.err;
        }
        std::remove(path("out.g729").c_str());
    }
    (void)data;
}

// The tool's own peak resident memory in one run, in kB.
long peak_rss(const std::vector<std::string>& args, const std::string& out, const std::string& err) {
    const testing::memory_run r = testing::run_measuring_memory(args, out, err);
    const std::vector<uint8_t> message = read_file(err);
    EXPECT_EQ(r.status, 0) << std::string(message.begin(), message.end());
    return r.peak_kb;
}

TEST_F(G729aRobustness, MemoryStaysFlatOverAnHourOfStream) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "peak memory under AddressSanitizer is the sanitizer's quarantine, not the tool's";
#endif
    // One hour: 360,000 frames, 3.6 MB coded, 57.6 MB decoded. A reader that
    // held the stream, or its frames, would grow by tens of MB over the
    // one-minute run; a streaming one stays within allocator noise.
    write_file(path("hour.g729"), long_stream(360000));
    write_file(path("minute.g729"), long_stream(6000));
    // A WAV header that claims 1024 channels at 1000 Hz: the read buffer
    // must not follow the claim.
    write_file(path("wide.wav"), wav_claiming(1000, 1024, std::vector<uint8_t>(1024 * 2 * 100, 0x22)));
    write_file(path("narrow.wav"), wav_claiming(8000, 1, std::vector<uint8_t>(200, 0x22)));
    const std::string out = path(".stdout");
    const std::string err = path(".stderr");
    const long minute = peak_rss({"decode", "-q", path("minute.g729"), path("minute.wav")}, out, err);
    const long minute_info = peak_rss({"info", "-q", path("minute.g729")}, out, err);
    const long hour_wav = peak_rss({"decode", "-q", path("hour.g729"), path("hour.wav")}, out, err);
    std::remove(path("hour.wav").c_str());
    const long hour_info = peak_rss({"info", "-q", path("hour.g729")}, out, err);
    const long narrow = peak_rss({"encode", "-q", path("narrow.wav"), path("n.g729")}, out, err);
    const long wide = peak_rss({"encode", "-q", path("wide.wav"), path("w.g729")}, out, err);
    std::printf("peak RSS: decode 1 min to .wav %ld kB, 1 h %ld kB; info 1 min %ld kB, 1 h %ld kB; "
                "encode 8 kHz mono %ld kB, 1024 channels %ld kB\n",
                minute, hour_wav, minute_info, hour_info, narrow, wide);
    constexpr long kNoiseKb = 3 * 1024;
    EXPECT_LT(hour_wav - minute, kNoiseKb);
    EXPECT_LT(hour_info - minute_info, kNoiseKb);
    EXPECT_LT(wide - narrow, kNoiseKb);
}

} // namespace
} // namespace g729::tool
