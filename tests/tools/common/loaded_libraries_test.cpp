// The libraries g729a loads only when a command needs them: libsndfile,
// libsoxr, libpcap (and libosipparser2 for the SIP in a capture), cairo and
// fontconfig. Raw samples, .g729 and .bit files,
// --help and --version go without any of them; every command that needs one
// still works; one that cannot be loaded is an error naming it.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "tests/tools/tool_test_support.h"

namespace g729::tool {
namespace {

using testing::contains;
using testing::run_result;

// The six, by the start of their file names (the SONAME's version differs
// between systems).
const char* const kLibraries[] = {"libsndfile.so", "libsoxr.so", "libpcap.so", "libcairo.so", "libfontconfig.so", "libosipparser2.so"};

// The environment variables that name another file to load for each.
const char* const kOverrides[] = {"G729A_LIBSNDFILE", "G729A_LIBSOXR", "G729A_LIBPCAP", "G729A_LIBCAIRO",
                                  "G729A_LIBFONTCONFIG", "G729A_LIBOSIPPARSER2"};

class LoadedLibraries : public testing::ToolTest {
protected:
    void SetUp() override {
        ToolTest::SetUp();
        const std::vector<int16_t> samples = testing::speech_samples(4000); // 50 frames
        testing::write_file(path("in.raw"), testing::raw_bytes(samples));
        testing::write_file(path("in.g729"), testing::encode_in_process(samples));
        testing::write_pcm(path("in.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 8000, samples);
        ASSERT_EQ(run({"encode", "-q", path("in.raw"), path("in.bit")}).status, 0);
        testing::write_file(path("second.bit"), testing::read_file(path("in.bit")));
    }

    // g729a with `environment` (NAME=value words) before it.
    run_result run_in(const std::string& environment, const std::vector<std::string>& args) const {
        std::string command = environment + " '" G729A_TOOL_PATH "'";
        for (const std::string& a : args) command += " '" + a + "'";
        command += " </dev/null >" + path(".stdout") + " 2>" + path(".stderr");
        return run_shell(command);
    }

    // Which of the five the dynamic loader was asked for during the run, by
    // its own report (LD_DEBUG=libs, on standard error).
    static std::set<std::string> loaded(const run_result& r) {
        std::set<std::string> names;
        for (const char* library : kLibraries)
            if (contains(r.err, library)) names.insert(library);
        return names;
    }

    // Standard error less the loader's report.
    static std::string own_lines(const std::string& err) {
        std::string kept;
        std::size_t start = 0;
        while (start < err.size()) {
            std::size_t end = err.find('\n', start);
            if (end == std::string::npos) end = err.size();
            const std::string line = err.substr(start, end - start);
            const std::size_t digits = line.find_first_not_of(' ');
            const std::size_t colon = line.find(":\t");
            const bool loader = digits != std::string::npos && colon != std::string::npos &&
                                line.find_first_not_of("0123456789", digits) == colon;
            if (!loader) kept += line + "\n";
            start = end + 1;
        }
        return kept;
    }

    // Every one of the five pointed at a file that does not exist.
    static std::string all_missing() {
        std::string environment;
        for (const char* variable : kOverrides) environment += std::string(variable) + "=/nonexistent/" + variable + ".so ";
        return environment;
    }
};

TEST_F(LoadedLibraries, EachCommandLoadsOnlyWhatItNeeds) {
    // A loader that reports nothing (not glibc's) cannot tell us anything.
    if (!contains(run_in("LD_DEBUG=libs", {"--version"}).err, "libg729a.so")) GTEST_SKIP() << "LD_DEBUG=libs reports nothing here";

    const std::set<std::string> none;
    struct Case {
        std::vector<std::string> args;
        std::set<std::string> expected;
        std::string output; // a file the command makes, if any
    } cases[] = {
        {{"--version"}, none, ""},
        {{"--help"}, none, ""},
        {{"decode", "--help"}, none, ""},
        {{"decode", path("in.g729"), path("g729.raw")}, none, "g729.raw"},
        {{"decode", path("in.bit"), path("bit.raw")}, none, "bit.raw"},
        {{"encode", path("in.raw"), path("out.g729")}, none, "out.g729"},
        {{"encode", path("in.raw"), path("out.bit")}, none, "out.bit"},
        {{"convert", path("in.g729"), path("converted.bit")}, none, "converted.bit"},
        {{"info", path("in.g729"), path("in.bit")}, none, ""},
        {{"dump", path("in.bit")}, none, ""},
        {{"decode", "-j", "2", "--to", "raw", "-d", path("raw"), path("in.g729"), path("second.bit")}, none, "raw/in.raw"},
        {{"decode", path("in.g729"), path("out.wav")}, {"libsndfile.so"}, "out.wav"},
        {{"encode", path("in.wav"), path("from_wav.g729")}, {"libsndfile.so"}, "from_wav.g729"},
        {{"decode", "--rate", "16000", path("in.g729"), path("out16k.wav")}, {"libsndfile.so", "libsoxr.so"}, "out16k.wav"},
        // Workers of a batch reach for the library at once.
        {{"decode", "-j", "2", "--to", "flac", "-d", path("flac"), path("in.g729"), path("second.bit")}, {"libsndfile.so"}, "flac/in.flac"},
        // The sample call holds its SIP signalling.
        {{"info", G729A_SAMPLE_CALL}, {"libpcap.so", "libosipparser2.so"}, ""},
        {{"plot", path("in.g729"), path("out.png")}, {"libcairo.so", "libfontconfig.so"}, "out.png"},
    };
    for (const Case& c : cases) {
        std::string joined;
        for (const std::string& a : c.args) joined += a + " ";
        const run_result r = run_in("LD_DEBUG=libs", c.args);
        EXPECT_EQ(r.status, 0) << joined << own_lines(r.err);
        EXPECT_EQ(loaded(r), c.expected) << joined;
        if (!c.output.empty()) {
            EXPECT_FALSE(testing::read_file(path(c.output)).empty()) << joined;
        }
    }
    EXPECT_EQ(testing::read_audio(path("out16k.wav")).info.samplerate, 16000);
}

TEST_F(LoadedLibraries, CommandsWithoutThemRunWhereNoneCanBeLoaded) {
    const std::string missing = all_missing();
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"--version"},
             {"decode", "-q", path("in.g729"), path("g729.raw")},
             {"decode", "-q", path("in.bit"), path("bit.raw")},
             {"encode", "-q", path("in.raw"), path("out.bit")},
             {"info", path("in.g729")},
         }) {
        const run_result r = run_in(missing, args);
        EXPECT_EQ(r.status, 0) << args[0] << " " << args.back() << ": " << r.err;
    }
    EXPECT_EQ(testing::read_file(path("g729.raw")), testing::read_file(path("bit.raw")));
}

TEST_F(LoadedLibraries, ALibraryThatCannotBeLoadedIsNamedAndNothingIsWritten) {
    ASSERT_EQ(mkdir(path("out").c_str(), 0755), 0); // the batch's
    const std::set<std::string> before = files();
    struct Case {
        std::string environment;
        std::vector<std::string> args;
        std::string message; // after "g729a: "
    } cases[] = {
        {"G729A_LIBSNDFILE=/nonexistent/libsndfile.so.1",
         {"decode", path("in.g729"), path("out.wav")},
         "/nonexistent/libsndfile.so.1: reading and writing audio formats other than raw samples needs this library, which "
         "cannot be loaded: cannot open shared object file"},
        {"G729A_LIBSNDFILE=/nonexistent/libsndfile.so.1",
         {"encode", path("in.wav"), path("out.g729")},
         "/nonexistent/libsndfile.so.1: reading and writing audio formats other than raw samples needs this library"},
        {"G729A_LIBSOXR=/nonexistent/libsoxr.so.0",
         {"decode", "-r", "16000", path("in.g729"), path("out.wav")},
         "/nonexistent/libsoxr.so.0: resampling needs this library, which cannot be loaded"},
        {"G729A_LIBPCAP=/nonexistent/libpcap.so",
         {"info", G729A_SAMPLE_CALL},
         "/nonexistent/libpcap.so: reading packet captures needs this library, which cannot be loaded"},
        {"G729A_LIBOSIPPARSER2=/nonexistent/libosipparser2.so",
         {"info", G729A_SAMPLE_CALL},
         "/nonexistent/libosipparser2.so: reading SIP signalling needs this library, which cannot be loaded"},
        {"G729A_LIBCAIRO=/nonexistent/libcairo.so",
         {"plot", path("in.g729"), path("out.png")},
         "/nonexistent/libcairo.so: drawing pictures needs this library, which cannot be loaded"},
        // A library that loads but is not the one asked for.
        {"G729A_LIBPCAP=libm.so.6",
         {"info", G729A_SAMPLE_CALL},
         "libm.so.6: reading packet captures needs this library, and it has no pcap_fopen_offline_with_tstamp_precision"},
        // Every file of a batch fails alike.
        {"G729A_LIBSNDFILE=/nonexistent/libsndfile.so.1",
         {"decode", "-q", "-j", "2", "--to", "wav", "-d", path("out"), path("in.g729"), path("second.bit")},
         "/nonexistent/libsndfile.so.1: reading and writing audio formats"},
    };
    for (const Case& c : cases) {
        const run_result r = run_in(c.environment, c.args);
        EXPECT_EQ(r.status, 1) << c.environment << " " << c.args[0] << ": " << r.err;
        EXPECT_TRUE(contains(r.err, "g729a: " + c.message)) << c.environment << "\nexpected: " << c.message << "\ngot: " << r.err;
        EXPECT_EQ(files(), before) << c.environment << " " << c.args[0];
    }
    EXPECT_EQ(rmdir(path("out").c_str()), 0) << "the batch left files in its directory";
}

} // namespace
} // namespace g729::tool
