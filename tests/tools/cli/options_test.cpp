// The one table of options: every option given to a command it does not
// fit, or to an input it does not fit, is refused the same way (exit
// status 2, one message form, nothing written), where some were once
// accepted and ignored.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/tools/tool_test_support.h"

namespace g729::tool {
namespace {

using testing::run_result;
using testing::write_file;

class OptionTable : public testing::ToolTest {
protected:
    void SetUp() override {
        testing::ToolTest::SetUp();
        write_file(path("in.raw"), raw);
        write_file(path("in.g729"), testing::encode_in_process(testing::speech_samples(1600)));
        write_file(path("call.pcap"), testing::read_file(G729A_SAMPLE_CALL));
    }
    const std::vector<uint8_t> raw = testing::raw_bytes(testing::speech_samples(1600));
};

TEST_F(OptionTable, AnOptionGivenToACommandItDoesNotFitIsRefused) {
    const std::string g729 = path("in.g729"), raw = path("in.raw"), call = path("call.pcap");
    expect_refused({
        // Once accepted and ignored.
        {{"info", "--dtx", g729}, 2, "g729a: --dtx is for encode\n"},
        {{"dump", "-j", "2", g729}, 2, "g729a: --jobs is for encode, decode, roundtrip and convert\n"},
        {{"plot", "-y", g729, path("p.svg")}, 2, "g729a: --force is for roundtrip and convert\n"},
        {{"info", "--max-files", "3", call}, 2, "g729a: --max-files is for decode and convert\n"},
        {{"encode", "-y", raw, path("out.g729")}, 2, "g729a: --force is for roundtrip and convert\n"},
        // The same form wherever the option stands and however it is spelled.
        {{"decode", "--dtx", g729, path("out.wav")}, 2, "g729a: --dtx is for encode\n"},
        {{"encode", raw, path("out.g729"), "--json"}, 2, "g729a: --json is for info\n"},
        {{"convert", "--float", g729, path("out.bit")}, 2, "g729a: --float is for decode and roundtrip\n"},
        {{"info", "-r16000", g729}, 2, "g729a: --rate is for decode and roundtrip\n"},
        {{"info", "--strict", g729}, 2, "g729a: --strict is for decode\n"},
        {{"encode", "--bad-frames=decode", raw, path("out.g729")}, 2, "g729a: --bad-frames is for decode\n"},
        {{"info", "-d", path("dir"), g729}, 2, "g729a: --directory is for encode, decode, roundtrip and convert\n"},
        {{"info", "--to", "wav", g729}, 2, "g729a: --to is for encode, decode, roundtrip, plot and convert\n"},
        {{"plot", "-t", "g729", g729, path("p.svg")}, 2, "g729a: --format is for encode, decode, roundtrip, info, dump and convert\n"},
        {{"info", "--stream", "1a2b3c4d", call}, 2, "g729a: --stream is for decode, dump and convert\n"},
        {{"dump", "--mix", path("mix.wav"), call}, 2, "g729a: --mix is for decode\n"},
        {{"plot", "--mix", path("mix.wav"), call, path("p.svg")}, 2, "g729a: --mix is for decode\n"},
        {{"roundtrip", "--jitter-buffer", "40", raw, path("out.wav")}, 2, "g729a: --jitter-buffer is for decode, info, dump, plot, convert and report\n"},
        {{"decode", "-y", call, path("out")}, 2, "g729a: --force is for roundtrip and convert\n"},
        {{"decode", "--packets", call, path("out")}, 2, "g729a: --packets is for info\n"},
        {{"dump", "--one-way-delay", "150", call}, 2, "g729a: --one-way-delay is for info, plot and report\n"},
    });
}

TEST_F(OptionTable, AnOptionForCapturesIsRefusedOnFilesAndOneForFilesOnCaptures) {
    const std::string g729 = path("in.g729"), call = path("call.pcap");
    expect_refused({
        {{"decode", "--pt", "96", g729, path("out.wav")}, 2, "g729a: --pt applies to packet captures (.pcap, .pcapng) only\n"},
        {{"dump", "--jitter-buffer", "40", g729}, 2, "g729a: --jitter-buffer applies to packet captures (.pcap, .pcapng) only\n"},
        {{"info", "--max-gap", "5", g729}, 2, "g729a: --max-gap applies to packet captures (.pcap, .pcapng) only\n"},
        {{"info", "--packets", g729}, 2, "g729a: --packets applies to packet captures (.pcap, .pcapng) only\n"},
        {{"plot", "--one-way-delay", "150", g729, path("p.svg")}, 2,
         "g729a: --one-way-delay applies to packet captures (.pcap, .pcapng) only\n"},
        {{"plot", "--jitter-buffer", "adaptive", g729, path("p.svg")}, 2,
         "g729a: --jitter-buffer applies to packet captures (.pcap, .pcapng) only\n"},
        {{"decode", "--bad-frames=decode", call, path("out")}, 2,
         "g729a: --bad-frames applies to .bit files; a capture has no frames marked bad\n"},
    });
}

TEST_F(OptionTable, AValueOutsideItsRangeIsRefusedNamingTheRange) {
    const std::string call = path("call.pcap");
    const char* const delay_range = "g729a: --one-way-delay needs a number from 0 to 10000, not '";
    expect_refused({
        {{"info", "--one-way-delay", "-5", call}, 2, std::string(delay_range) + "-5'\n"},
        {{"info", "--one-way-delay", "10001", call}, 2, std::string(delay_range) + "10001'\n"},
        {{"plot", "--one-way-delay=1e3", call, path("p.svg")}, 2, std::string(delay_range) + "1e3'\n"},
        {{"info", "--one-way-delay=", call}, 2, std::string(delay_range) + "'\n"},
        {{"info", "--jitter-buffer", "1001", call}, 2,
         "g729a: --jitter-buffer takes a delay in ms from 0 to 1000, or adaptive, not '1001'\n"},
    });
}

TEST_F(OptionTable, AnOptionThatFitsIsTakenAsBefore) {
    const std::string g729 = path("in.g729"), call = path("call.pcap");
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"info", "-q", "--json", g729},
             {"dump", "--stream", "0x1a2b3c4d", "--jitter-buffer", "adaptive", call},
             {"info", "-q", "--pt", "96", "--max-gap", "5", "--jitter-buffer=40", call},
             {"plot", "-q", "--jitter-buffer", "40", "--max-audio", "100", call, path("p.svg")},
             {"plot", "-q", "--one-way-delay", "150", call, path("p.svg")},
             {"convert", "-q", "-y", g729, path("in.bit")},
         }) {
        const run_result r = run(args);
        EXPECT_EQ(r.status, 0) << args[0] << " " << args[1] << ": " << r.err;
    }
}

} // namespace
} // namespace g729::tool
