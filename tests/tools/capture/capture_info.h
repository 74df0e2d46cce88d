// A tool test that reads a capture's one stream through the real g729a's
// info, as JSON or as text.
#pragma once

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "tests/tools/tool_test_support.h"

namespace g729::tool::testing {

class CaptureInfoTest : public ToolTest {
protected:
    // The JSON of the capture's one stream (a test failure when it has
    // another number of streams).
    nlohmann::json info_stream(const std::vector<std::string>& options, const std::string& capture) {
        const nlohmann::json streams = nlohmann::json::parse(info({"info", "--json"}, options, capture))["streams"];
        EXPECT_EQ(streams.size(), 1u) << streams.dump();
        return streams.empty() ? nlohmann::json() : streams[0];
    }

    std::string info_text(const std::vector<std::string>& options, const std::string& capture) {
        return info({"info"}, options, capture);
    }

private:
    std::string info(std::vector<std::string> args, const std::vector<std::string>& options, const std::string& capture) {
        args.insert(args.end(), options.begin(), options.end());
        args.push_back(path(capture));
        const run_result r = run(args);
        EXPECT_EQ(r.status, 0) << r.err;
        return r.out;
    }
};

} // namespace g729::tool::testing
