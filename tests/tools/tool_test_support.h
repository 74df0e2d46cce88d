// Scratch directories, audio files and runs of the g729a executable for the
// tool tests.
#pragma once

#include <gtest/gtest.h>
#include <sndfile.h>

#include <dirent.h>
#include <fcntl.h>
#include <csignal>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>


#include "codec/decoder/decoder_object.h"
#include "codec/encoder/encoder.h"

namespace g729::tool::testing {

constexpr double kPi = 3.14159265358979323846;

inline bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

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
// The first n samples of the LibriVox speech vector.
inline std::vector<int16_t> speech_samples(std::size_t n) {
    std::vector<int16_t> s = raw_samples(read_file(G729A_TEST_DATA "/vectors/speech_male_librivox.raw"));
    s.resize(n);
    return s;
}

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
    auto encoder = std::make_unique<encoder_state>();
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

// g729a run as a child process, for what a shell cannot arrange or report:
// the signal dispositions it starts with, the signal that ends it.
struct child_run {
    int status = -1;       // exit status, or -1 when killed
    int signal = 0;        // the signal that killed it
};

// In a forked child: g729a with `args`, standard input from `stdin_fd` (or
// /dev/null when negative), standard output and error to the given files,
// SIGHUP ignored when `ignore_hangup` (as nohup does). Does not return.
[[noreturn]] inline void exec_tool(const std::vector<std::string>& args, int stdin_fd, const std::string& out,
                                   const std::string& err, bool ignore_hangup) {
    if (ignore_hangup) std::signal(SIGHUP, SIG_IGN);
    const int in = stdin_fd >= 0 ? stdin_fd : open("/dev/null", O_RDONLY);
    dup2(in, 0);
    const int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(o, 1);
    dup2(e, 2);
    // Nothing else of ours: a pipe's write end held here would keep its
    // reader from ever seeing the end.
    for (int fd = 3; fd < 1024; ++fd) close(fd);
    std::vector<char*> argv{const_cast<char*>(G729A_TOOL_PATH)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(G729A_TOOL_PATH, argv.data());
    _exit(127);
}

// Starts g729a as exec_tool does; returns the pid.
inline pid_t spawn(const std::vector<std::string>& args, int stdin_fd, const std::string& out, const std::string& err,
                   bool ignore_hangup = false) {
    const pid_t pid = fork();
    if (pid == 0) exec_tool(args, stdin_fd, out, err, ignore_hangup);
    return pid;
}

inline child_run wait_child(pid_t pid) {
    child_run r;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return r;
    if (WIFEXITED(status)) r.status = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) r.signal = WTERMSIG(status);
    return r;
}

// g729a run with `args` as a child process, and its own peak resident
// memory in kB (VmHWM). The rusage of a forked child would also count the
// test process it was forked from, and hide the difference a memory test
// looks for; so the child is traced, and stopped as it exits, while it
// still holds its memory, for /proc to be read.
struct memory_run {
    int status = -1;
    long peak_kb = 0;
};
inline memory_run run_measuring_memory(const std::vector<std::string>& args, const std::string& out,
                                       const std::string& err) {
    memory_run result;
    const pid_t pid = fork();
    if (pid == 0) {
        ptrace(PTRACE_TRACEME, 0, nullptr, nullptr);
        exec_tool(args, -1, out, err, false);
    }
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFSTOPPED(status)) { // the stop at the exec
        ADD_FAILURE() << "the traced tool did not start";
        return result;
    }
    ptrace(PTRACE_SETOPTIONS, pid, nullptr, reinterpret_cast<void*>(long(PTRACE_O_TRACEEXIT | PTRACE_O_EXITKILL)));
    ptrace(PTRACE_CONT, pid, nullptr, nullptr);
    while (waitpid(pid, &status, 0) == pid) {
        if (WIFEXITED(status)) {
            result.status = WEXITSTATUS(status);
            break;
        }
        if (WIFSIGNALED(status)) break;
        int deliver = 0;
        if (status >> 8 == (SIGTRAP | (PTRACE_EVENT_EXIT << 8))) {
            std::ifstream proc("/proc/" + std::to_string(pid) + "/status");
            for (std::string line; std::getline(proc, line);) {
                if (line.rfind("VmHWM:", 0) == 0) result.peak_kb = std::atol(line.c_str() + 6);
            }
        } else {
            deliver = WSTOPSIG(status); // a signal of the tool's own: pass it on
        }
        ptrace(PTRACE_CONT, pid, nullptr, reinterpret_cast<void*>(long(deliver)));
    }
    return result;
}

// A folder's plain files and what they hold, links by their target,
// folders as such.
inline std::map<std::string, std::string> listing(const std::string& dir) {
    std::map<std::string, std::string> out;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) {
            const std::string name = e->d_name;
            if (name == "." || name == "..") continue;
            const std::string p = dir + "/" + name;
            struct stat st;
            lstat(p.c_str(), &st);
            if (S_ISDIR(st.st_mode)) {
                out[name] = "folder";
            } else if (S_ISLNK(st.st_mode)) {
                char target[4096] = {};
                out[name] = "link to " + std::string(target, std::size_t(std::max<ssize_t>(0, readlink(p.c_str(), target, sizeof target))));
            } else {
                const std::vector<uint8_t> bytes = read_file(p);
                out[name] = std::string(bytes.begin(), bytes.end());
            }
        }
        closedir(d);
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
        // Tests may leave read-only files, subdirectories and mounts behind.
        std::system(("umount -q '" + dir_ + "'/* 2>/dev/null; rm -rf '" + dir_ + "'").c_str());
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
    // a file in the scratch directory or /dev/null, standard output captured
    // or sent to `stdout_target` (a path such as /dev/full).
    run_result run(const std::vector<std::string>& args, const std::string& stdin_name = "",
                   const std::string& stdout_target = "") const {
        std::string command = "'" G729A_TOOL_PATH "'";
        for (const std::string& a : args) command += " '" + a + "'";
        command += " <" + (stdin_name.empty() ? std::string("/dev/null") : path(stdin_name));
        command += " >" + (stdout_target.empty() ? path(".stdout") : stdout_target) + " 2>" + path(".stderr");
        return run_shell(command);
    }

    // A command line the tool refuses: the exit status (1: a file it cannot
    // use, 2: the command line itself), words the message holds, and nothing
    // written.
    struct refusal {
        std::vector<std::string> args;
        int status;
        std::string message;
    };

    // Each case is refused with its status and message (a usage error also
    // with the hint to --help), and leaves the scratch folder as it was.
    void expect_refused(const std::vector<refusal>& cases) const {
        for (const refusal& c : cases) {
            std::string joined;
            for (const auto& a : c.args) joined += a + " ";
            const std::map<std::string, std::string> before = scratch_listing();
            const run_result r = run(c.args);
            EXPECT_EQ(r.status, c.status) << joined << r.err;
            EXPECT_TRUE(contains(r.err, c.message)) << joined << r.err;
            if (c.status == 2) {
                EXPECT_TRUE(contains(r.err, "Try 'g729a --help'.")) << joined << r.err;
            }
            EXPECT_EQ(scratch_listing(), before) << joined << r.err;
        }
    }

    // Each command line is a usage error: exit status 2 and the hint to
    // --help, nothing written.
    void expect_usage_errors(const std::vector<std::vector<std::string>>& cases) const {
        for (const auto& args : cases) expect_refused({{args, 2, ""}});
    }

    // The scratch folder's files and what they hold, leaving out the
    // captured streams.
    std::map<std::string, std::string> scratch_listing() const {
        std::map<std::string, std::string> out = listing(dir_);
        out.erase(".stdout");
        out.erase(".stderr");
        return out;
    }

    // Runs a shell command line whose standard output and error go to the
    // capture files (the line redirects them itself).
    run_result run_shell(const std::string& command) const {
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
