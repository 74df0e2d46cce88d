// The console's word splitting and Tab completion, with the module loaded.
#include <gtest/gtest.h>

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
        {"file convert a", {}},       // file names are not command words
        {"nothing", {}},
    };
    for (const auto& c : cases) EXPECT_EQ(corvane::complete_command(c.line), c.expected) << c.line;
}

} // namespace
} // namespace g729_test
