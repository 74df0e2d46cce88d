// Text from a capture or a file name on its way out: printable_text keeps
// what a terminal shows as letters and writes the rest as \xNN, so no
// escape sequence reaches the terminal; json_string always gives JSON a
// parser accepts, whatever bytes it is handed.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <string>

#include "tests/tools/capture/capture_writer.h"
#include "tools/common/json.h"
#include "tools/common/text.h"

namespace g729::tool {
namespace {

using namespace capture_writer;

TEST(PrintableText, ControlCharactersAndBytesThatAreNoUtf8AreWrittenOut) {
    struct Case {
        std::string in, out;
    } cases[] = {
        {"\"Alice\" <sip:alice@10.0.0.1>", "\"Alice\" <sip:alice@10.0.0.1>"},
        {"Jos\xc3\xa9 \xe2\x82\xac \xf0\x9f\x93\x9e", "Jos\xc3\xa9 \xe2\x82\xac \xf0\x9f\x93\x9e"}, // é € and a telephone
        {"a\x1b[2Jb", "a\\x1b[2Jb"},
        {"bell\x07 tab\t nl\n cr\r del\x7f", "bell\\x07 tab\\x09 nl\\x0a cr\\x0d del\\x7f"},
        {"csi \xc2\x9b" "31m", "csi \\xc2\\x9b31m"},           // C1 control, U+009B
        {"nbsp \xc2\xa0", "nbsp \xc2\xa0"},                    // U+00A0 is a letter's neighbour, not a control
        {"latin1 \xff\xe9", "latin1 \\xff\\xe9"},
        {"cut \xe2\x82", "cut \\xe2\\x82"},                    // a sequence cut short
        {"overlong \xc0\xaf \xe0\x80\xaf", "overlong \\xc0\\xaf \\xe0\\x80\\xaf"},
        {"surrogate \xed\xa0\x80", "surrogate \\xed\\xa0\\x80"},
        {"past U+10FFFF \xf4\x90\x80\x80", "past U+10FFFF \\xf4\\x90\\x80\\x80"},
        {std::string("nul \0 end", 9), "nul \\x00 end"},
    };
    for (const Case& c : cases) EXPECT_EQ(printable_text(c.in), c.out) << c.in;
}

TEST(JsonString, AnyBytesGiveJsonThatParsesToTheirTextOrTheirLatin1Reading) {
    struct Case {
        std::string in;
        std::string parsed; // as UTF-8
    } cases[] = {
        {"plain", "plain"},
        {"quote \" backslash \\ nl \n tab \t esc \x1b", "quote \" backslash \\ nl \n tab \t esc \x1b"},
        {"Jos\xc3\xa9 \xf0\x9f\x93\x9e", "Jos\xc3\xa9 \xf0\x9f\x93\x9e"},
        {"bad\xff" "file.pcap", "bad\xc3\xbf" "file.pcap"},
        {"cut \xe2\x82", "cut \xc3\xa2\xc2\x82"},
        {"surrogate \xed\xa0\x80", "surrogate \xc3\xad\xc2\xa0\xc2\x80"},
    };
    for (const Case& c : cases) {
        nlohmann::json j;
        ASSERT_NO_THROW(j = nlohmann::json::parse(json_string(c.in))) << json_string(c.in);
        EXPECT_EQ(j.get<std::string>(), c.parsed) << c.in;
    }
}

TEST_F(CaptureTest, InfoJsonOfACaptureWhoseNameIsNoUtf8Parses) {
    const std::string name = "call-\xff\xfe.pcap";
    write_pcap(path(name), DLT_EN10MB, on_link(link::ethernet, send(talk(), 2, kA, kB, 0x1a2b3c4d, kStart, 1)));
    const testing::run_result r = run({"info", "--json", path(name)});
    ASSERT_EQ(r.status, 0) << r.err;
    nlohmann::json j;
    ASSERT_NO_THROW(j = nlohmann::json::parse(r.out)) << r.out.substr(0, 300);
    EXPECT_TRUE(testing::contains(j["file"].get<std::string>(), "call-\xc3\xbf\xc3\xbe.pcap"));
}

} // namespace
} // namespace g729::tool
