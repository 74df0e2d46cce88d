// g729a as a new user reaches for it: batch folders that do not exist yet,
// .ogg output, shell globs that must not cost a file, .raw's one rate, info
// and dump over several files, encode to a pipe, and the bash completion.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "tests/tools/tool_test_support.h"

namespace g729::tool {
namespace {

using testing::contains;
using testing::read_file;
using testing::run_result;
using testing::speech_samples;
using testing::write_file;

class G729aUser : public testing::ToolTest {
protected:
    void SetUp() override {
        ToolTest::SetUp();
        samples_ = speech_samples(4000); // 50 frames
        write_file(path("in.raw"), testing::raw_bytes(samples_));
        coded_ = testing::encode_in_process(samples_);
        write_file(path("in.g729"), coded_);
    }
    // The one line g729a wrote to standard error starts with this message.
    void expect_error(const run_result& r, int status, const std::string& message, const std::string& what) const {
        EXPECT_EQ(r.status, status) << what << ": " << r.err;
        EXPECT_EQ(r.err.rfind("g729a: " + message, 0), 0u) << what << "\nexpected: " << message << "\ngot: " << r.err;
    }
    std::vector<int16_t> samples_;
    std::vector<uint8_t> coded_;
};

TEST_F(G729aUser, DirectoryOfABatchIsMadeWithItsParents) {
    const run_result r = run({"encode", "-q", path("in.raw"), "-d", path("new/deep/er")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(path("new/deep/er/in.g729")), coded_);
    // An existing directory as OUT, and a trailing slash, are the same thing.
    ASSERT_EQ(run({"decode", "-q", path("in.g729"), "--to", "wav", "-d", path("new/deep/er/")}).status, 0);
    EXPECT_EQ(testing::read_audio(path("new/deep/er/in.wav")).samples.size(), samples_.size());
}

TEST_F(G729aUser, ADirectoryThatCannotBeUsedIsNamedForWhatItIs) {
    write_file(path("file"), {1});
    const std::set<std::string> before = files();
    struct Case {
        std::string dir;
        std::string message;
    };
    const Case cases[] = {
        {path("file"), path("file") + ": not a directory\n"},
        {path("file/sub"), path("file/sub") + ": " + path("file") + " is not a directory\n"},
    };
    for (const Case& c : cases) {
        expect_error(run({"encode", path("in.raw"), "-d", c.dir}), 1, c.message, c.dir);
        EXPECT_EQ(files(), before) << c.dir;
    }

    // A read-only file system refuses everyone, root included; where no
    // file system can be mounted, a read-only mode refuses all but root.
    ASSERT_EQ(mkdir(path("locked").c_str(), 0755), 0);
    const bool mounted = mount("tmpfs", path("locked").c_str(), "tmpfs", MS_RDONLY, "size=64k") == 0;
    if (!mounted) {
        if (geteuid() == 0) GTEST_SKIP() << "cannot mount a read-only tmpfs, and root writes into any folder";
        ASSERT_EQ(chmod(path("locked").c_str(), 0555), 0);
    }
    const std::string reason = mounted ? "Read-only file system\n" : "Permission denied\n";
    expect_error(run({"encode", path("in.raw"), "-d", path("locked")}), 1,
                 path("locked") + ": cannot write into this directory: " + reason, "locked");
    expect_error(run({"encode", path("in.raw"), "-d", path("locked/sub")}), 1,
                 path("locked/sub") + ": cannot create directory: " + reason, "locked/sub");
    if (mounted) umount(path("locked").c_str());
}

TEST_F(G729aUser, OggIsWrittenAsVorbisAt8kHzAsOgaIs) {
    ASSERT_EQ(run({"decode", "-q", path("in.g729"), path("out.wav")}).status, 0);
    const std::vector<int16_t> decoded = testing::read_audio(path("out.wav")).samples;
    for (const std::string name : {"out.ogg", "out.oga", "OUT.OGG"}) {
        const run_result r = run({"decode", "-q", path("in.g729"), path(name)});
        ASSERT_EQ(r.status, 0) << name << ": " << r.err;
        const testing::audio_file ogg = testing::read_audio(path(name));
        EXPECT_EQ(ogg.info.format, SF_FORMAT_OGG | SF_FORMAT_VORBIS) << name;
        EXPECT_EQ(ogg.info.samplerate, 8000) << name;
        EXPECT_EQ(ogg.info.channels, 1) << name;
        ASSERT_EQ(ogg.samples.size(), decoded.size()) << name;
        // Vorbis is lossy: the decoded speech, within 15 dB.
        double error = 0.0, energy = 0.0;
        for (std::size_t i = 0; i < decoded.size(); ++i) {
            error += std::pow(double(ogg.samples[i]) - decoded[i], 2.0);
            energy += std::pow(double(decoded[i]), 2.0);
        }
        EXPECT_LT(10.0 * std::log10(error / energy), -15.0) << name;
    }
    // A batch takes --to ogg as well.
    ASSERT_EQ(run({"decode", "-q", path("in.g729"), "--to", "ogg", "-d", path("batch")}).status, 0);
    EXPECT_EQ(testing::read_audio(path("batch/in.ogg")).info.format, SF_FORMAT_OGG | SF_FORMAT_VORBIS);
}

// A glob hands g729a names it did not choose: "convert *.g729" over a.g729
// and b.g729 reads as "convert a.g729 into b.g729".
TEST_F(G729aUser, AGlobOverTwoFilesOfOneKindNeverReplacesTheSecond) {
    const std::vector<uint8_t> other(coded_.begin(), coded_.begin() + 100);
    testing::write_pcm(path("a.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 8000, samples_);
    testing::write_pcm(path("b.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 8000, std::vector<int16_t>(800, 7));
    ASSERT_EQ(run({"convert", "-q", path("in.g729"), path("in.bit")}).status, 0);
    const std::vector<uint8_t> bit = read_file(path("in.bit"));
    const std::vector<uint8_t> b_wav = read_file(path("b.wav"));

    struct Case {
        std::vector<std::string> args;
        std::string out;
        std::string kind;
    };
    const Case cases[] = {
        {{"convert", path("in.g729"), path("b.g729")}, "b.g729", "a coded stream"},
        {{"convert", path("in.bit"), path("b.g729")}, "b.g729", "a coded stream"},
        {{"convert", path("in.g729"), path("b.bit")}, "b.bit", "a coded stream"},
        {{"roundtrip", path("a.wav"), path("b.wav")}, "b.wav", "audio"},
        {{"roundtrip", path("in.raw"), path("b.wav")}, "b.wav", "audio"},
    };
    for (const Case& c : cases) {
        write_file(path("b.g729"), other);
        write_file(path("b.bit"), other);
        expect_error(run(c.args), 1,
                     path(c.out) + ": exists and holds " + c.kind +
                         ", as IN does; not replaced without --force (-y) (for several inputs give -d DIR or --to FMT)\n",
                     c.out);
        EXPECT_EQ(read_file(path(c.out)), c.out == "b.wav" ? b_wav : other) << c.out;
    }
    // --force and -y replace it.
    ASSERT_EQ(run({"convert", "-q", "--force", path("in.bit"), path("b.g729")}).status, 0);
    EXPECT_EQ(read_file(path("b.g729")), coded_);
    ASSERT_EQ(run({"convert", "-q", "-y", path("in.g729"), path("b.bit")}).status, 0);
    EXPECT_EQ(read_file(path("b.bit")), bit);
    ASSERT_EQ(run({"roundtrip", "-q", "-y", path("a.wav"), path("b.wav")}).status, 0);
    EXPECT_EQ(testing::read_audio(path("b.wav")).samples.size(), samples_.size());

    // Scripts that write outputs of the other kind go on replacing them.
    write_file(path("old.g729"), other);
    write_file(path("old.wav"), other);
    ASSERT_EQ(run({"encode", "-q", path("in.raw"), path("old.g729")}).status, 0);
    EXPECT_EQ(read_file(path("old.g729")), coded_);
    ASSERT_EQ(run({"decode", "-q", path("in.g729"), path("old.wav")}).status, 0);
    EXPECT_EQ(testing::read_audio(path("old.wav")).samples.size(), samples_.size());
}

TEST_F(G729aUser, ABatchKeepsExistingOutputsOfTheKindItReadsAndNeverWritesOverItsInputs) {
    const std::vector<uint8_t> other(coded_.begin(), coded_.begin() + 100);
    write_file(path("a.g729"), coded_);
    write_file(path("c.g729"), coded_);
    write_file(path("a.bit"), other);
    const run_result kept = run({"convert", "--to", "bit", path("a.g729"), path("c.g729")});
    EXPECT_EQ(kept.status, 1) << kept.err;
    EXPECT_TRUE(contains(kept.err, "failed: " + path("a.bit") + ": exists and holds a coded stream, as IN does; not replaced "
                                    "without --force (-y)\n")) << kept.err;
    EXPECT_EQ(read_file(path("a.bit")), other);
    ASSERT_EQ(run({"convert", "-q", path("c.bit"), path("c.again.g729")}).status, 0) << "the other file was done";
    EXPECT_EQ(read_file(path("c.again.g729")), coded_);
    ASSERT_EQ(run({"convert", "-q", "-y", "--to", "bit", path("a.g729"), path("c.g729")}).status, 0);
    EXPECT_EQ(read_file(path("a.bit")), read_file(path("c.bit")));

    // a.g729 would become d/a.bit, which the same run is to read.
    ASSERT_EQ(mkdir(path("d").c_str(), 0755), 0);
    write_file(path("d/a.bit"), other);
    const std::set<std::string> before = files();
    for (const bool force : {false, true}) {
        std::vector<std::string> args{"convert", "-d", path("d"), path("a.g729"), path("d/a.bit")};
        if (force) args.push_back("--force");
        expect_error(run(args), 2, path("a.g729") + ": its output " + path("d") + "/a.bit is another input of this run\n",
                     force ? "forced" : "plain");
        EXPECT_EQ(read_file(path("d/a.bit")), other);
        EXPECT_EQ(files(), before);
    }
}

TEST_F(G729aUser, HeaderlessOutputKeepsItsOneRateAndTheRefusalSaysWhereOtherRatesGo) {
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const std::string any_rate = "a format with a header, such as .wav or .flac, holds any rate)\n";
    const Case cases[] = {
        {{"decode", "--rate", "16000", path("in.g729"), path("x.raw")},
         "--rate 16000 does not fit .raw, which holds 8000 Hz only (.sln16 holds 16000 Hz; " + any_rate},
        {{"decode", "-r", "44100", path("in.g729"), path("x.sln")}, "--rate 44100 does not fit .sln, which holds 8000 Hz only (" + any_rate},
        {{"decode", "--rate", "16000", path("in.g729"), "-t", "raw", "-"},
         "--rate 16000 does not fit .raw, which holds 8000 Hz only (.sln16 holds 16000 Hz; " + any_rate},
        {{"roundtrip", "--rate", "16000", path("in.raw"), path("x.raw")},
         "--rate 16000 does not fit .raw, which holds 8000 Hz only (.sln16 holds 16000 Hz; " + any_rate},
        {{"decode", "--rate", "8000", path("in.g729"), path("x.sln16")},
         "--rate 8000 does not fit .sln16, which holds 16000 Hz only (.raw holds 8000 Hz; " + any_rate},
        {{"decode", "--rate", "16000", "--to", "raw", path("in.g729"), "-d", path("batch")},
         "--rate 16000 does not fit .raw, which holds 8000 Hz only (.sln16 holds 16000 Hz; " + any_rate},
    };
    const std::set<std::string> before = files();
    for (const Case& c : cases) {
        const run_result r = run(c.args);
        expect_error(r, 2, c.message, c.message);
        EXPECT_TRUE(r.out.empty()) << c.message;
        EXPECT_EQ(files(), before) << c.message;
    }
    // The rate a headerless format holds is no conflict.
    ASSERT_EQ(run({"decode", "-q", "--rate", "8000", path("in.g729"), path("x.raw")}).status, 0);
    ASSERT_EQ(run({"decode", "-q", path("in.g729"), path("y.raw")}).status, 0);
    EXPECT_EQ(read_file(path("x.raw")), read_file(path("y.raw")));
}

TEST_F(G729aUser, InfoAndDumpReadSeveralFilesInTurn) {
    ASSERT_EQ(run({"convert", "-q", path("in.g729"), path("in.bit")}).status, 0);
    write_file(path("short.g729"), std::vector<uint8_t>(23, 0x55));

    const run_result info = run({"info", path("in.g729"), path("short.g729"), path("in.bit")});
    EXPECT_EQ(info.status, 1) << "one of them is malformed";
    const std::size_t first = info.out.find("file:                 " + path("in.g729") + "\n");
    const std::size_t second = info.out.find("\n\nfile:                 " + path("short.g729") + "\n");
    const std::size_t third = info.out.find("\n\nfile:                 " + path("in.bit") + "\n");
    EXPECT_EQ(first, 0u) << info.out;
    EXPECT_TRUE(second != std::string::npos && third != std::string::npos && second < third) << info.out;
    EXPECT_TRUE(contains(info.err, "g729a: " + path("short.g729") + ": malformed at byte offset 20")) << info.err;
    EXPECT_TRUE(contains(info.err, "g729a: info: " + path("in.bit") + ": 50 frames, 0.50 s of audio\n")) << info.err;

    // A file that cannot be opened prints no block, and leaves no gap.
    const run_result missing = run({"info", "-q", path("missing.g729"), path("in.g729"), path("missing.g729"), path("in.bit")});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.out.find("file:"), 0u) << missing.out;
    EXPECT_EQ(missing.out.find("\n\n\n"), std::string::npos) << missing.out;
    EXPECT_NE(missing.out.find("\n\nfile:                 " + path("in.bit")), std::string::npos) << missing.out;
    EXPECT_EQ(std::count(missing.err.begin(), missing.err.end(), '\n'), 2) << missing.err;

    const run_result json = run({"info", "--json", path("in.bit"), path("in.g729")});
    ASSERT_EQ(json.status, 0) << json.err;
    std::vector<nlohmann::json> objects;
    for (std::size_t at = 0; at < json.out.size();) {
        const std::size_t end = json.out.find('\n', at);
        objects.push_back(nlohmann::json::parse(json.out.substr(at, end - at)));
        at = end + 1;
    }
    ASSERT_EQ(objects.size(), 2u) << json.out;
    EXPECT_EQ(objects[0]["file"], path("in.bit"));
    EXPECT_EQ(objects[1]["file"], path("in.g729"));
    EXPECT_EQ(objects[1]["frames"], 50);

    // One -t before the first file names them all.
    write_file(path("in.frames"), coded_);
    write_file(path("again.frames"), coded_);
    const run_result dump = run({"dump", "-t", "g729", path("in.frames"), path("again.frames")});
    ASSERT_EQ(dump.status, 0) << dump.err;
    EXPECT_TRUE(contains(dump.out, "# " + path("in.frames") + ": one line per 10 ms frame")) << dump.out;
    EXPECT_TRUE(contains(dump.out, "# " + path("again.frames") + ": one line per 10 ms frame")) << dump.out;
    EXPECT_EQ(std::count(dump.out.begin(), dump.out.end(), '\n'), 2 * (4 + 50)) << "4 header lines and 50 frames each";
}

TEST_F(G729aUser, EncodeWritesG729ToStandardOutputUnlessToldBit) {
    const run_result g729 = run({"encode", "-q", path("in.raw"), "-"});
    ASSERT_EQ(g729.status, 0) << g729.err;
    EXPECT_EQ(std::vector<uint8_t>(g729.out.begin(), g729.out.end()), coded_);
    const run_result bit = run({"encode", "-q", path("in.raw"), "-t", "bit", "-"});
    ASSERT_EQ(bit.status, 0) << bit.err;
    ASSERT_EQ(run({"convert", "-q", path("in.g729"), path("in.bit")}).status, 0);
    EXPECT_EQ(std::vector<uint8_t>(bit.out.begin(), bit.out.end()), read_file(path("in.bit")));
    // A pipe at both ends, as sox users write it.
    const run_result piped = run({"encode", "-q", "-t", "raw", "-", "-"}, "in.raw");
    ASSERT_EQ(piped.status, 0) << piped.err;
    EXPECT_EQ(std::vector<uint8_t>(piped.out.begin(), piped.out.end()), coded_);
}

// The completion as bash-completion loads it from a prefix named in
// XDG_DATA_DIRS, asked what it offers after each command line, in a folder
// holding one file of each kind.
TEST_F(G729aUser, BashCompletionLoadsFromACustomPrefixAndOffersWhatEachCommandTakes) {
    const std::string loader = "/usr/share/bash-completion/bash_completion";
    if (access(loader.c_str(), R_OK) != 0) GTEST_SKIP() << "bash-completion is not installed";
    ASSERT_EQ(std::system(("mkdir -p '" + path("prefix/share/bash-completion/completions") + "' '" + path("work/sub") + "' && cp '" G729A_TEST_DATA
                           "/../../tools/completion/g729a' '" + path("prefix/share/bash-completion/completions/") + "'")
                              .c_str()),
              0);
    for (const std::string name : {"a.g729", "a.bit", "a.wav", "B.WAV", "a.ogg", "a.raw", "a.flac", "a.pcap", "a.pcapng", "a.txt", "a.html"})
        write_file(path("work/" + name), {});
    struct Case {
        std::string line;
        std::string offered;
    };
    const std::string audio = "B.WAV a.flac a.ogg a.raw a.wav sub";
    const std::string audio_or_coded = "B.WAV a.bit a.flac a.g729 a.ogg a.raw a.wav sub";
    const Case cases[] = {
        {"g729a ", "convert decode dump encode help info plot report roundtrip"},
        {"g729a dump ", "a.bit a.g729 a.pcap a.pcapng sub"},
        {"g729a convert ", "a.bit a.g729 a.pcap a.pcapng sub"},
        {"g729a convert a.g729 ", "a.bit a.g729 sub"},
        {"g729a convert a.pcap ", "a.bit a.g729 sub"},
        {"g729a convert --s", "--stream"},
        {"g729a info ", "a.bit a.g729 a.pcap a.pcapng sub"},
        {"g729a info a.bit ", "a.bit a.g729 a.pcap a.pcapng sub"},
        {"g729a decode ", "a.bit a.g729 a.pcap a.pcapng sub"},
        {"g729a decode a.g729 ", audio_or_coded},
        {"g729a decode -d sub ", "a.bit a.g729 a.pcap a.pcapng sub"},
        {"g729a encode ", audio},
        {"g729a encode a.wav ", audio_or_coded},
        {"g729a encode --to bit ", audio},
        {"g729a roundtrip a.wav ", audio},
        {"g729a encode --to ", "bit g729"},
        {"g729a -q decode --to o", "oga ogg opus"},
        {"g729a convert --f", "--force --format"},
        {"g729a info --", "--format --help --jitter-buffer --json --max-gap --one-way-delay --packets --pt --quiet"},
        {"g729a plot ", "a.bit a.g729 a.pcap a.pcapng sub"},
        {"g729a dump --", "--format --help --jitter-buffer --max-audio --max-gap --pt --quiet --stream"},
        {"g729a plot --", "--from --help --jitter-buffer --max-audio --max-gap --max-streams --one-way-delay --pt --quiet --to"},
        {"g729a info --one-way-delay 1", "100 150"},
        {"g729a plot --one-way-delay 150 ", "a.bit a.g729 a.pcap a.pcapng sub"},
        {"g729a report ", "a.bit a.g729 a.pcap a.pcapng sub"},
        {"g729a report a.pcap ", "a.html sub"},
        {"g729a report --max-", "--max-audio --max-calls --max-gap --max-packets --max-streams"},
        // plot's --to ends its window: no format offered, and no batch after it.
        {"g729a plot --to ", ""},
        {"g729a plot --from 1 --to 3 ", "a.bit a.g729 a.pcap a.pcapng sub"},
        {"g729a plot --to 3 a.pcap ", "sub"},
    };
    std::string script = "source " + loader + "\nexport XDG_DATA_DIRS='" + path("prefix/share") + "':/usr/share\n" +
                         "__load_completion g729a || exit 3\ncd '" + path("work") + "'\n" +
                         "offer() {\n"
                         "  COMP_LINE=$1; COMP_POINT=${#1}; read -r -a COMP_WORDS <<< \"$1\"\n"
                         "  [[ $1 == *' ' ]] && COMP_WORDS+=('')\n"
                         "  COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); COMPREPLY=()\n"
                         "  _g729a g729a \"${COMP_WORDS[COMP_CWORD]}\" \"${COMP_WORDS[COMP_CWORD-1]}\"\n"
                         "  printf '%s\\n' \"${COMPREPLY[@]}\" | LC_ALL=C sort | paste -sd ' '\n"
                         "}\n";
    for (const Case& c : cases) script += "offer '" + c.line + "'\n";
    write_file(path("offer.sh"), std::vector<uint8_t>(script.begin(), script.end()));
    const run_result r = run_shell("bash '" + path("offer.sh") + "' >" + path(".stdout") + " 2>" + path(".stderr"));
    ASSERT_EQ(r.status, 0) << "not loaded from the prefix: " << r.err;
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < r.out.size();) {
        const std::size_t end = r.out.find('\n', at);
        lines.push_back(r.out.substr(at, end - at));
        at = end + 1;
    }
    ASSERT_EQ(lines.size(), std::size(cases)) << r.out << r.err;
    for (std::size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(lines[i], cases[i].offered) << "'" << cases[i].line << "'";
}

} // namespace
} // namespace g729::tool
