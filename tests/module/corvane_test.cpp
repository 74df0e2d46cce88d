// The corvane executable as an operator runs it.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

namespace {

struct run_result {
    int status;
    std::string output; // standard output and error together
};

run_result run_corvane(const std::string& args) {
    const std::string command = std::string(G729A_CORVANE_PATH) + " " + args + " 2>&1";
    run_result r{-1, ""};
    FILE* p = popen(command.c_str(), "r");
    if (p == nullptr) return r;
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) r.output.append(buf, n);
    const int status = pclose(p);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

// The words of G729A_CORVANE_PATH: in a cross build the emulator comes
// first, and the executable is the last word.
std::vector<std::string> corvane_command() {
    std::vector<std::string> words;
    std::string all = G729A_CORVANE_PATH;
    for (size_t at = 0; at < all.size();) {
        const size_t end = std::min(all.find(' ', at), all.size());
        if (end > at) words.push_back(all.substr(at, end - at));
        at = end + 1;
    }
    return words;
}
bool under_emulator() { return corvane_command().size() > 1; }

std::vector<char> read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class Corvane : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/corvane-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override { std::system(("rm -rf '" + dir + "'").c_str()); }
    std::string module() const { return std::string("-m ") + G729A_MODULE_PATH; }
    std::string vector(const std::string& name) const { return std::string(G729A_TEST_DATA) + "/vectors/" + name; }
    std::string dir;
};

TEST_F(Corvane, RunsConsoleCommandsOfTheLoadedModule) {
    const run_result r = run_corvane(module() + " -x 'g729 show version' -x 'core show translation'");
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("Vornade G.729A Module Version 21.0_3.1.10 (optimized for x86_64\n"), std::string::npos);
    EXPECT_NE(r.output.find("lintog729    slin   -> g729"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("g729tolin    g729   -> slin"), std::string::npos) << r.output;
}

// 20 ms host frames through both translators give exactly the codec's own
// frames and samples.
TEST_F(Corvane, ConvertsSpeechBothWaysThroughTheTranslators) {
    const std::string g729 = dir + "/speech.g729";
    const std::string raw = dir + "/speech.raw";
    const run_result r = run_corvane(module() + " -x 'file convert " + vector("speech_male_librivox.raw") + " " +
                                     g729 + "' -x 'file convert " + g729 + " " + raw + "'");
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("530 codec frames"), std::string::npos) << r.output;
    EXPECT_EQ(read_file(g729), read_file(vector("speech_male_librivox.g729")));
    EXPECT_EQ(read_file(raw), read_file(vector("speech_male_librivox.g729.raw")));

    // A WAV file is the same samples behind a 44-byte header whose sizes
    // are filled in once the length is known.
    const std::string wav = dir + "/speech.wav";
    ASSERT_EQ(run_corvane(module() + " -x 'file convert " + g729 + " " + wav + "'").status, 0);
    const std::vector<char> w = read_file(wav);
    const std::vector<char> decoded = read_file(vector("speech_male_librivox.g729.raw"));
    ASSERT_EQ(w.size(), 44 + decoded.size());
    EXPECT_EQ(std::string(w.data(), 4), "RIFF");
    auto le32 = [&](size_t at) { return uint32_t(uint8_t(w[at]) | uint8_t(w[at + 1]) << 8 | uint8_t(w[at + 2]) << 16 | uint32_t(uint8_t(w[at + 3])) << 24); };
    EXPECT_EQ(le32(4), 36 + decoded.size());
    EXPECT_EQ(le32(40), decoded.size());
    EXPECT_TRUE(std::equal(decoded.begin(), decoded.end(), w.begin() + 44));
    EXPECT_TRUE(read_file(wav + ".part").empty());
}

TEST_F(Corvane, ConversionErrorsNameTheProblemAndLeaveNoFile) {
    const std::string in = vector("speech_male_librivox.raw");
    const std::string out = dir + "/out.g729";
    struct Case {
        std::string args;
        std::string message;
    };
    const Case cases[] = {
        {module() + " -x 'file convert " + dir + "/missing.raw " + out + "'", dir + "/missing.raw: No such file"},
        {module() + " -x 'file convert " + in + " " + dir + "/out.mp3'", "out.mp3: unknown extension"},
        {"-x 'file convert " + in + " " + out + "'", "no translator from slin to g729"},
        {module() + " -x 'file convert " + in + "'", "Usage: file convert IN OUT"},
    };
    for (const Case& c : cases) {
        const run_result r = run_corvane(c.args);
        EXPECT_EQ(r.status, 1) << c.args << "\n" << r.output;
        EXPECT_NE(r.output.find(c.message), std::string::npos) << c.args << "\n" << r.output;
        EXPECT_TRUE(read_file(out).empty()) << c.args;
    }
    const run_result bad_module = run_corvane("-m " + dir + "/nothing.so -x help");
    EXPECT_EQ(bad_module.status, 1);
    EXPECT_NE(bad_module.output.find("cannot load"), std::string::npos) << bad_module.output;
}

TEST_F(Corvane, ReadsCommandsFromStandardInput) {
    const run_result r = run_corvane(module() + " < /dev/null");
    EXPECT_EQ(r.status, 0) << r.output;
    const std::string script = dir + "/commands";
    std::ofstream(script) << "module show\ng729 show version\nno such thing\n";
    const run_result s = run_corvane(module() + " < " + script);
    EXPECT_EQ(s.status, 1) << "an unknown command is a failure";
    EXPECT_NE(s.output.find("codec_g729a"), std::string::npos);
    EXPECT_NE(s.output.find("(optimized for x86_64\n"), std::string::npos);
    EXPECT_NE(s.output.find("No such command 'no such thing'"), std::string::npos) << s.output;
}

TEST_F(Corvane, FindsModulesByNameAndRefusesToLoadOneTwice) {
    const std::string executable = corvane_command().back();
    const std::string build = executable.substr(0, executable.rfind('/'));
    const std::string in_dir = "cd '" + dir + "' && ";
    std::system(("cp " + std::string(G729A_MODULE_PATH) + " '" + dir + "/codec_g729a.so'").c_str());
    struct Case {
        std::string args;
        int status;
        std::string message;
    };
    const Case cases[] = {
        // Already loaded, by path and by name: said so, with the name.
        {module() + " -x 'module load " + G729A_MODULE_PATH + "'", 1,
         std::string("module 'codec_g729a' is already loaded (from ") + G729A_MODULE_PATH + ")"},
        {"-m codec_g729a -x 'module load codec_g729a.so'", 1, "module 'codec_g729a' is already loaded"},
        // A bare name from the directory of the executable, wherever we are.
        {"-m codec_g729a -x 'g729 show version'", 0, "Version 21.0_3.1.10"},
        {"-x 'module load codec_g729a.so' -x 'module show'", 0, "1 modules loaded"},
        // The current directory first; a copy of a loaded module is refused.
        {in_dir + std::string(G729A_CORVANE_PATH) + " -m codec_g729a.so -x 'module load " + G729A_MODULE_PATH + "'", 1,
         std::string("'") + G729A_MODULE_PATH + "' is module 'codec_g729a', which is already loaded (from ./codec_g729a.so)"},
        {"-m no_such_module", 1, "cannot find module 'no_such_module' in ., " + build + " or " + build + "/../lib/corvane/modules"},
    };
    for (const Case& c : cases) {
        const bool has_binary = c.args.rfind("cd ", 0) == 0;
        run_result r{-1, ""};
        if (has_binary) {
            FILE* p = popen((c.args + " 2>&1").c_str(), "r");
            ASSERT_NE(p, nullptr);
            char buf[4096];
            for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) r.output.append(buf, n);
            const int status = pclose(p);
            r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        } else {
            r = run_corvane("-x 'module show' " + c.args);
        }
        EXPECT_EQ(r.status, c.status) << c.args << "\n" << r.output;
        EXPECT_NE(r.output.find(c.message), std::string::npos) << c.args << "\n" << r.output;
        EXPECT_EQ(r.output.find("did not register itself"), std::string::npos) << r.output;
    }
}

TEST_F(Corvane, HelpListsExitAndCommandsByTheirFirstWords) {
    const run_result all = run_corvane("-x help");
    EXPECT_EQ(all.status, 0);
    EXPECT_NE(all.output.find("exit  Leave the console"), std::string::npos) << all.output;
    EXPECT_NE(all.output.find("quit  Leave the console"), std::string::npos) << all.output;
    EXPECT_NE(all.output.find("Ctrl-C drops the line, or\ncancels a running file convert"), std::string::npos) << all.output;
    const run_result file = run_corvane("-x 'help file'");
    EXPECT_EQ(file.status, 0);
    EXPECT_EQ(file.output, "corvane> help file\n"
                           "             file compare  Compare two audio files\n"
                           "             file convert  Convert an audio file through the translators\n");
    EXPECT_NE(run_corvane("-x 'help file convert'").output.find("Usage: file convert IN OUT"), std::string::npos);
    EXPECT_EQ(run_corvane("-x 'help nothing'").status, 1);
    // exit ends the commands, in -x and on standard input alike.
    const run_result x = run_corvane("-x exit -x 'no such thing'");
    EXPECT_EQ(x.status, 0) << x.output;
    EXPECT_EQ(x.output.find("No such command"), std::string::npos) << x.output;
    const std::string script = dir + "/commands";
    std::ofstream(script) << "quit\nno such thing\n";
    const run_result piped = run_corvane("< " + script);
    EXPECT_EQ(piped.status, 0) << piped.output;
    EXPECT_EQ(piped.output.find("No such command"), std::string::npos) << piped.output;
}

TEST_F(Corvane, QuotedPathsWithSpacesAreOneWord) {
    const std::string spaced = dir + "/a folder";
    ASSERT_EQ(std::system(("mkdir '" + spaced + "'").c_str()), 0);
    const std::string g729 = spaced + "/my speech.g729";
    const std::string wav = spaced + "/it's decoded.wav";
    std::string escaped_wav; // every space and quote with a backslash
    for (char c : wav) escaped_wav += (c == ' ' || c == '\'' ? "\\" : "") + std::string(1, c);
    const std::string script = dir + "/commands";
    std::ofstream(script) << "file convert " << vector("speech_male_librivox.raw") << " \"" << g729 << "\"\n"
                          << "file convert '" << g729 << "' " << escaped_wav << "\n"
                          << "file compare " << vector("speech_male_librivox.raw") << " \"" << wav << "\"\n";
    const run_result r = run_corvane(module() + " < " + script);
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(read_file(g729), read_file(vector("speech_male_librivox.g729")));
    EXPECT_FALSE(read_file(wav).empty());
    EXPECT_NE(r.output.find("delay 40 samples"), std::string::npos) << r.output;
}

#ifdef G729A_TOOL_PATH
// The figures g729a roundtrip prints and those corvane file compare prints
// for the roundtrip's own output are the same: one comparison serves both.
TEST_F(Corvane, FileCompareAgreesWithTheToolsRoundtrip) {
    const std::string out = dir + "/roundtrip.wav";
    std::string tool;
    {
        FILE* p = popen((std::string(G729A_TOOL_PATH) + " roundtrip -q " + vector("speech_male_librivox.raw") + " " + out).c_str(), "r");
        ASSERT_NE(p, nullptr);
        char buf[4096];
        for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) tool.append(buf, n);
        ASSERT_EQ(pclose(p), 0) << tool;
    }
    const run_result host = run_corvane("-x 'file compare " + vector("speech_male_librivox.raw") + " " + out + "'");
    ASSERT_EQ(host.status, 0) << host.output;
    // The word after a label in the printed text.
    auto after = [](const std::string& text, const std::string& label) {
        const size_t at = text.find(label);
        if (at == std::string::npos) return std::string("(no " + label + ")");
        const size_t start = text.find_first_not_of(' ', at + label.size());
        return text.substr(start, text.find_first_of(" \n", start) - start);
    };
    EXPECT_EQ(after(tool, "delayed by"), "40") << tool;
    EXPECT_EQ(after(host.output, "delay"), "40") << host.output;
    EXPECT_EQ(after(tool, "SNR:"), "1.12") << tool;
    EXPECT_EQ(after(host.output, "  SNR"), "1.12") << host.output;
    EXPECT_EQ(after(tool, "segmental SNR:"), "0.64") << tool;
    EXPECT_EQ(after(host.output, "segmental SNR"), "0.64") << host.output;
    EXPECT_EQ(after(tool, "dB over"), "449") << tool;
    EXPECT_EQ(after(host.output, "dB over"), "449") << host.output;
    EXPECT_EQ(after(tool, "level difference:"), "-0.89") << tool;
    EXPECT_EQ(after(host.output, "dBFS ("), "-0.89") << host.output;
    // Then what a listener hears, and how to read it.
    EXPECT_NE(host.output.find("over 449 frames of speech: frame levels 2.38 dB apart, log-spectral distance 9.20 dB\n"),
              std::string::npos)
        << host.output;
    EXPECT_NE(host.output.find("What these mean for a CELP codec"), std::string::npos) << host.output;
}
#endif

// file convert streams: an hour of audio takes no more memory than five
// seconds. Peak resident memory of the child, from wait4.
TEST_F(Corvane, ConvertingAnHourTakesNoMoreMemoryThanFiveSeconds) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "peak memory under AddressSanitizer is the sanitizer's, not the host's";
#endif
    if (under_emulator()) GTEST_SKIP() << "peak memory under an emulator is the emulator's, not the host's";
    const std::vector<char> sample = read_file(vector("speech_male_librivox.raw"));
    const std::string hour = dir + "/hour.raw";
    {
        std::ofstream f(hour, std::ios::binary);
        const size_t total = size_t(3600) * 8000 * 2;
        for (size_t done = 0; done < total; done += sample.size())
            f.write(sample.data(), std::streamsize(std::min(sample.size(), total - done)));
    }
    auto peak_kb = [](const std::vector<std::string>& args) {
        const pid_t pid = fork();
        if (pid == 0) {
            std::vector<char*> argv;
            for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            freopen("/dev/null", "w", stdout);
            execv(argv[0], argv.data());
            _exit(127);
        }
        int status = 0;
        rusage usage{};
        wait4(pid, &status, 0, &usage);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        return long(usage.ru_maxrss);
    };
    const std::string corvane = corvane_command().back();
    const std::string m = G729A_MODULE_PATH;
    const std::string short_raw = vector("speech_male_librivox.raw");
    const long short_encode = peak_kb({corvane, "-m", m, "-x", "file convert " + short_raw + " " + dir + "/s.g729"});
    const long short_decode = peak_kb({corvane, "-m", m, "-x", "file convert " + dir + "/s.g729 " + dir + "/s.wav"});
    const long hour_encode = peak_kb({corvane, "-m", m, "-x", "file convert " + hour + " " + dir + "/hour.g729"});
    std::remove(hour.c_str());
    const long hour_decode = peak_kb({corvane, "-m", m, "-x", "file convert " + dir + "/hour.g729 " + dir + "/hour.wav"});
    std::cout << "peak resident memory, 5.3 s / 1 hour: encode " << short_encode << " / " << hour_encode
              << " kB, decode " << short_decode << " / " << hour_decode << " kB\n";
    RecordProperty("hour_encode_kb", std::to_string(hour_encode));
    RecordProperty("hour_decode_kb", std::to_string(hour_decode));
    // Holding the hour would add 57.6 MB of samples (and more for vectors
    // growing by doubling); streaming adds nothing beyond noise.
    EXPECT_LT(hour_encode, short_encode + 1024);
    EXPECT_LT(hour_decode, short_decode + 1024);
    EXPECT_EQ(read_file(dir + "/hour.wav").size(), 44u + size_t(3600) * 8000 * 2);
}

// An hour of silence, which takes the encoder seconds; sparse, so it costs
// no disk.
void write_silent_hour(const std::string& path) {
    std::ofstream hour(path, std::ios::binary);
    hour.seekp(std::streamoff(3600) * 8000 * 2 - 1);
    hour.put('\0');
}

// Waits for a conversion to be under way: its partial file exists. Up to
// 30 s, for a loaded machine, an emulator or a sanitizer build.
bool conversion_started(const std::string& out) {
    const std::string part = out + ".part";
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (access(part.c_str(), F_OK) != 0 && std::chrono::steady_clock::now() < end) usleep(10000);
    return access(part.c_str(), F_OK) == 0;
}

// Stopped with SIGINT or SIGTERM in the middle of a conversion given with -x,
// the host still dies of the signal, but only after the conversion has
// stopped at a frame and removed its partial file.
TEST_F(Corvane, ASignalDuringAConversionLeavesOutAsItWasAndNoPartialFile) {
    write_silent_hour(dir + "/hour.raw");
    for (const int sig : {SIGINT, SIGTERM}) {
        const std::string out = dir + "/out.g729";
        std::ofstream(out) << "old";
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            freopen("/dev/null", "w", stdout);
            std::vector<std::string> words = corvane_command();
            words.insert(words.end(), {"-m", G729A_MODULE_PATH, "-x", "file convert " + dir + "/hour.raw " + out, "-x", "module show"});
            std::vector<char*> argv;
            for (std::string& w : words) argv.push_back(w.data());
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        ASSERT_TRUE(conversion_started(out)) << strsignal(sig);
        kill(pid, sig);
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << strsignal(sig) << ": status " << status;
        EXPECT_EQ(std::string(read_file(out).data(), read_file(out).size()), "old") << strsignal(sig);
        EXPECT_NE(access((out + ".part").c_str(), F_OK), 0) << strsignal(sig) << ": no partial file is left";
    }
}

// The interactive console on a pseudo-terminal, typed at as an operator
// types, with the module loaded and `home` as home and current folder.
//
// An operator types a line once the prompt shows. A test that types sooner
// races the console: the terminal turns a Ctrl-C into SIGINT while a command
// runs, and then throws away the keys typed ahead. So every line is typed
// after wait_for_prompt(), and each wait_for() takes up where the one
// before it stopped: the prompt it finds is the one after the output waited
// for, not an earlier one.
class console_session {
public:
    // Long enough for a loaded machine, an emulator or a sanitizer build;
    // only a failing test waits that long.
    static constexpr std::chrono::seconds kPatience{30};

    explicit console_session(const std::string& home) {
        const std::vector<std::string> command = corvane_command();
        pid_ = forkpty(&master_, nullptr, nullptr, nullptr);
        if (pid_ != 0) return;
        setenv("HOME", home.c_str(), 1); // no ~/.editrc of the user's
        setenv("TERM", "dumb", 1);
        if (chdir(home.c_str()) != 0) _exit(126);
        std::vector<char*> argv;
        for (const std::string& w : command) argv.push_back(const_cast<char*>(w.c_str()));
        argv.push_back(const_cast<char*>("-m"));
        argv.push_back(const_cast<char*>(G729A_MODULE_PATH));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    ~console_session() {
        if (pid_ > 0 && !exited_) kill(pid_, SIGKILL), waitpid(pid_, nullptr, 0);
        if (master_ >= 0) close(master_);
    }
    bool started() const { return pid_ > 0; }

    // Reads what the console shows until `wanted` appears after the text
    // found by the last wait, and moves past it; false if it does not come.
    bool wait_for(const std::string& wanted) {
        const auto end = std::chrono::steady_clock::now() + kPatience;
        size_t at;
        while ((at = screen.find(wanted, seen_)) == std::string::npos && std::chrono::steady_clock::now() < end) {
            if (!read_some()) break;
        }
        if (at == std::string::npos) return false;
        seen_ = at + wanted.size();
        return true;
    }
    // The console has finished the command before and reads the next line.
    bool wait_for_prompt() { return wait_for("corvane> "); }
    // Forgets the text up to the last one waited for: what the console
    // shows from there on is `screen`.
    void forget_seen() {
        screen.erase(0, seen_);
        seen_ = 0;
    }
    void type(const std::string& keys) { ASSERT_EQ(write(master_, keys.data(), keys.size()), ssize_t(keys.size())); }

    // Waits for the console to leave; its exit status, or -1.
    int exit_status() {
        const auto end = std::chrono::steady_clock::now() + kPatience;
        int status = -1;
        bool open = true;
        pid_t done = 0;
        while ((done = waitpid(pid_, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < end) {
            // Once the console has closed the terminal only the wait is left.
            if (!open || !(open = read_some())) usleep(10000);
        }
        exited_ = done == pid_ && WIFEXITED(status);
        return exited_ ? WEXITSTATUS(status) : -1;
    }

    std::string screen;

private:
    // Appends what the terminal has within 100 ms; false once the console
    // has closed it.
    bool read_some() {
        pollfd p{master_, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) return true;
        char buf[4096];
        const ssize_t n = read(master_, buf, sizeof buf);
        if (n <= 0) return n < 0 && errno == EINTR;
        screen.append(buf, size_t(n));
        return true;
    }

    pid_t pid_ = -1;
    int master_ = -1;
    size_t seen_ = 0;
    bool exited_ = false;
};

// Tab completes command words, Ctrl-C drops the line being typed and the
// console carries on, exit leaves.
TEST_F(Corvane, InteractiveConsoleCompletesClearsOnCtrlCAndExits) {
#ifndef CORVANE_WITH_LIBEDIT
    GTEST_SKIP() << "built without libedit: the console reads plain lines";
#endif
    console_session console(dir);
    ASSERT_TRUE(console.started());
    ASSERT_TRUE(console.wait_for_prompt()) << console.screen;
    console.type("core sh\t");
    EXPECT_TRUE(console.wait_for("ow ")) << console.screen; // "sh" completed to "show "
    console.type("tr\t\r");
    ASSERT_TRUE(console.wait_for("Channels/core")) << console.screen; // ran "core show translation"
    ASSERT_TRUE(console.wait_for_prompt()) << console.screen;
    console.forget_seen();
    console.type("module unlo");
    ASSERT_TRUE(console.wait_for("unlo")) << console.screen;
    console.type("\x03");
    // The editor takes the Ctrl-C as a key: it marks the line dropped and
    // prompts again.
    EXPECT_TRUE(console.wait_for("^C\r\n")) << console.screen;
    ASSERT_TRUE(console.wait_for_prompt()) << console.screen;
    console.type("module show\r");
    EXPECT_TRUE(console.wait_for("1 modules loaded")) << console.screen; // the console survived, the module is still there
    ASSERT_TRUE(console.wait_for_prompt()) << console.screen;
    EXPECT_EQ(console.screen.find("No such command"), std::string::npos) << console.screen;
    console.type("exit\r");
    EXPECT_EQ(console.exit_status(), 0) << console.screen;
}

// Tab completes the file names file convert takes; an unterminated quote is
// named; Ctrl-C while a long conversion runs cancels it, leaves OUT as it
// was, and the console carries on.
TEST_F(Corvane, InteractiveConsoleCompletesFileNamesAndCtrlCCancelsALongConversion) {
#ifndef CORVANE_WITH_LIBEDIT
    GTEST_SKIP() << "built without libedit: the console reads plain lines";
#endif
    write_silent_hour(dir + "/an hour.raw");
    std::ofstream(dir + "/out.g729") << "old";
    console_session console(dir);
    ASSERT_TRUE(console.started());
    ASSERT_TRUE(console.wait_for_prompt()) << console.screen;

    console.type("file convert an\t");
    EXPECT_TRUE(console.wait_for("an\\ hour.raw ")) << console.screen; // completed and escaped
    console.type("ou\t");
    EXPECT_TRUE(console.wait_for("out.g729 ")) << console.screen;
    console.type("\r");
    // Once it is under way the line has been read, and the terminal turns
    // Ctrl-C into SIGINT again.
    ASSERT_TRUE(conversion_started(dir + "/out.g729")) << console.screen;
    console.type("\x03");
    EXPECT_TRUE(console.wait_for("Cancelled; out.g729 is left as it was")) << console.screen;
    ASSERT_TRUE(console.wait_for_prompt()) << console.screen;
    EXPECT_EQ(console.screen.find("Converted"), std::string::npos) << console.screen;
    EXPECT_EQ(std::string(read_file(dir + "/out.g729").data(), 3), "old");
    EXPECT_NE(access((dir + "/out.g729.part").c_str(), F_OK), 0) << "no partial file is left";

    console.forget_seen();
    console.type("file convert 'an hour.raw out.g729\r");
    EXPECT_TRUE(console.wait_for("Unterminated ' quote")) << console.screen;
    ASSERT_TRUE(console.wait_for_prompt()) << console.screen;
    EXPECT_EQ(console.screen.find("Usage"), std::string::npos) << console.screen;
    console.type("module show\r");
    EXPECT_TRUE(console.wait_for("1 modules loaded")) << console.screen;
    ASSERT_TRUE(console.wait_for_prompt()) << console.screen;
    console.type("exit\r");
    EXPECT_EQ(console.exit_status(), 1) << "a command failed: " << console.screen;
}

} // namespace
