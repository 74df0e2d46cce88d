// The corvane executable as an operator runs it.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
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

} // namespace
