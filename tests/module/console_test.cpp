// The console's word splitting and Tab completion, with the module loaded.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "host/host.h"
#include "tests/module/host_fixture.h"

namespace g729_test {
namespace {

using words = std::vector<std::string>;

TEST(ConsoleWords, QuotesAndBackslashesKeepSpacesInAWord) {
    const struct {
        std::string line;
        words expected;
    } cases[] = {
        {"  file   convert a.raw\tb.g729 ", {"file", "convert", "a.raw", "b.g729"}},
        {"file convert \"my file.raw\" 'it''s.g729'", {"file", "convert", "my file.raw", "its.g729"}},
        {"file compare a\\ b.raw \"say \\\"hi\\\".wav\"", {"file", "compare", "a b.raw", "say \"hi\".wav"}},
        {"x '' y", {"x", "", "y"}},
        {"x 'unterminated quote", {"x", "unterminated quote"}},
        {"", {}},
    };
    for (const auto& c : cases) EXPECT_EQ(corvane::split_words(c.line), c.expected) << c.line;
}

class ConsoleCompletion : public LoadedModule {};

TEST_F(ConsoleCompletion, OffersTheCommandWordsThatCanFollow) {
    const struct {
        std::string line;
        words expected;
    } cases[] = {
        {"core sh", {"show"}},
        {"core show ", {"translation"}},
        {"mod", {"module"}},
        {"module ", {"load", "reload", "show", "unload"}},
        {"module re", {"reload"}},
        {"g", {"g729"}},              // the module's own command
        {"g729 show v", {"version"}},
        {"f", {"file"}},
        {"file c", {"compare", "convert"}},
        {"help file co", {"compare", "convert"}},
        {"e", {"exit"}},
        {"nothing", {}},
    };
    for (const auto& c : cases) EXPECT_EQ(corvane::complete_command(c.line), c.expected) << c.line;
}

// Completion in a scratch folder made the current one for the test.
class ConsoleNames : public LoadedModule {
protected:
    void SetUp() override {
        LoadedModule::SetUp();
        char pattern[] = "/tmp/console-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        ASSERT_NE(getcwd(home_, sizeof home_), nullptr);
        ASSERT_EQ(chdir(dir_.c_str()), 0);
    }
    void TearDown() override {
        if (chdir(home_) != 0) ADD_FAILURE() << "cannot go back to " << home_;
        std::system(("rm -rf '" + dir_ + "'").c_str());
        LoadedModule::TearDown();
    }
    static void touch(const std::string& name) { close(open(name.c_str(), O_WRONLY | O_CREAT, 0644)); }
    std::string dir_;
    char home_[PATH_MAX] = {};
};

TEST_F(ConsoleNames, TabOffersFileNamesWhereFileConvertAndCompareTakeThem) {
    for (const char* name : {"speech.raw", "speech.g729", "my file.wav", "it's.wav", ".hidden"}) touch(name);
    ASSERT_EQ(mkdir("calls", 0755), 0);
    touch("calls/a.wav");
    const struct {
        std::string line;
        words expected;
    } cases[] = {
        {"file convert sp", {"speech.g729", "speech.raw"}},
        {"file convert ", {"calls/", "it's.wav", "my file.wav", "speech.g729", "speech.raw"}},
        {"file convert .h", {".hidden"}},
        {"file convert calls/", {"calls/a.wav"}},
        {"file convert ca", {"calls/"}},
        {"file compare speech.raw sp", {"speech.g729", "speech.raw"}},
        {"file convert 'my f", {"my file.wav"}},
        {"file convert my\\ f", {"my file.wav"}},
        {"file convert " + dir_ + "/calls/", {dir_ + "/calls/a.wav"}},
        {"file convert nothing", {}},
        {"file convert a.raw b.g729 ", {}}, // file convert takes two
        {"help file convert sp", {}},
    };
    for (const auto& c : cases) EXPECT_EQ(corvane::complete_command(c.line), c.expected) << c.line;
}

TEST_F(ConsoleNames, TabInsertsTheRestOfTheWordEscapedForTheConsole) {
    for (const char* name : {"speech.raw", "speech.g729", "my file.wav", "it's.wav"}) touch(name);
    ASSERT_EQ(mkdir("calls", 0755), 0);
    const struct {
        std::string line;
        std::string insert;
    } cases[] = {
        {"core sh", "ow "},
        {"file convert sp", "eech."},          // as far as both agree
        {"file convert speech.r", "aw "},
        {"file convert my", "\\ file.wav "},
        {"file convert 'my", " file.wav' "},  // the quote closed
        {"file convert \"it", "'s.wav\" "},
        {"file convert it", "\\'s.wav "},
        {"file convert ca", "lls/"},          // a folder stays open
        {"file convert speech.", ""},         // nothing to add: the editor lists them
    };
    for (const auto& c : cases) EXPECT_EQ(corvane::complete_line(c.line).insert, c.insert) << c.line;
    // What the editor inserts reads back as the file's name.
    const std::string line = "file convert my" + corvane::complete_line("file convert my").insert;
    EXPECT_EQ(corvane::split_words(line), (words{"file", "convert", "my file.wav"}));
}

TEST_F(ConsoleNames, TabOffersModuleFilesToLoadAndLoadedModulesToUnload) {
    // The folder of the module is one of the module directories while it is
    // the current one.
    const std::string module_path = G729A_MODULE_PATH;
    ASSERT_EQ(chdir(module_path.substr(0, module_path.rfind('/')).c_str()), 0);
    const words load = corvane::complete_command("module load co");
    EXPECT_NE(std::find(load.begin(), load.end(), "codec_g729a"), load.end()) << "found in the current folder";
    for (const std::string& name : corvane::complete_command("module load ")) {
        EXPECT_NE(name.rfind("lib", 0), 0u) << name << ": a library, not a module";
    }
    EXPECT_EQ(corvane::complete_command("module unload "), words{"codec_g729a"});
    EXPECT_EQ(corvane::complete_command("module reload codec"), words{"codec_g729a"});
    EXPECT_EQ(corvane::complete_command("module unload x"), words{});
}

TEST_F(ConsoleNames, AnUnterminatedQuoteIsNamedInsteadOfTheUsage) {
    touch("a b.raw");
    for (const std::string line : {"file convert 'a b.raw out.g729", "file convert \"a b.raw out.g729", "module load 'x"}) {
        int status = 0;
        const std::string out = corvane::execute(line, &status);
        EXPECT_EQ(status, 1) << line;
        EXPECT_EQ(out.rfind("Unterminated ", 0), 0u) << line << ": " << out;
        EXPECT_TRUE(out.find(line.find('"') != std::string::npos ? "\" quote" : "' quote") != std::string::npos) << out;
        EXPECT_EQ(out.find("Usage"), std::string::npos) << out;
    }
    struct stat st;
    EXPECT_NE(stat("out.g729", &st), 0) << "nothing was converted";
}

// Ctrl-C just after Enter: the cancel comes before the command starts, and
// the command must still be the one cancelled; a cancel forgotten at the
// next prompt stops nothing.
TEST_F(ConsoleNames, ACancelRequestedBeforeACommandStartsStopsItAndOutStaysAsItWas) {
    {
        std::ofstream in("in.raw", std::ios::binary);
        const std::string second_of_silence(16000, '\0');
        in << second_of_silence;
    }
    {
        std::ofstream out("out.g729", std::ios::binary);
        out << "old";
    }
    corvane::request_cancel();
    int status = 0;
    std::string out = corvane::execute("file convert in.raw out.g729", &status);
    EXPECT_EQ(status, 1) << out;
    EXPECT_NE(out.find("Cancelled; out.g729 is left as it was"), std::string::npos) << out;
    std::ifstream kept("out.g729", std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "old");

    corvane::clear_cancel();
    out = corvane::execute("file convert in.raw out.g729", &status);
    EXPECT_EQ(status, 0) << out;
    struct stat st;
    ASSERT_EQ(stat("out.g729", &st), 0);
    EXPECT_EQ(st.st_size, 1000) << "a second of frames, 10 bytes each";
}

} // namespace
} // namespace g729_test
