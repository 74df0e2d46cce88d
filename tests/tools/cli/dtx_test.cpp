// g729a encode --dtx: silence suppression into .bit, what info says of such
// a stream, and the refusal of .g729, which cannot hold it.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "g729a.h"
#include "tests/tools/tool_test_support.h"

namespace {

using namespace g729::tool::testing;

// An info line: the count and its share of all frames.
std::string format_share(const char* label, size_t n, double frames) {
    char text[96];
    std::snprintf(text, sizeof text, "%s%zu (%.1f%%)\n", label, n, 100.0 * double(n) / frames);
    return text;
}

// Speech, a second of silence, speech, a second of silence.
std::vector<int16_t> speech_with_pauses() {
    const std::vector<int16_t> speech = speech_samples(2 * 8000);
    std::vector<int16_t> out;
    for (int part = 0; part < 2; ++part) {
        out.insert(out.end(), speech.begin(), speech.end());
        out.insert(out.end(), 8000, int16_t(0));
    }
    return out;
}

class DtxTool : public ToolTest {};

TEST_F(DtxTool, EncodeWithDtxWritesWhatTheLibrarySendsAndDecodesLikeIt) {
    const std::vector<int16_t> input = speech_with_pauses();
    write_file(path("in.raw"), raw_bytes(input));
    run_result r = run({"encode", "--dtx", path("in.raw"), path("out.bit")});
    ASSERT_EQ(r.status, 0) << r.err;
    r = run({"decode", path("out.bit"), path("out.raw")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(r.err, "not transmitted, decoded as missing")) << r.err;

    // The same in process: the library with silence suppression, gaps
    // decoded as untransmitted frames.
    g729a_encoder* enc = g729a_encoder_create(nullptr);
    g729a_encoder_set_dtx(enc, 1);
    g729a_decoder* dec = g729a_decoder_create(nullptr);
    std::vector<int16_t> want(input.size());
    size_t kinds[3] = {0, 0, 0};
    for (size_t f = 0; f + 80 <= input.size(); f += 80) {
        uint8_t frame[G729A_SPEECH_FRAME_BYTES];
        const int n = g729a_encode(enc, &input[f], 80, frame, sizeof frame);
        ++kinds[n == 0 ? 0 : n == 2 ? 1 : 2];
        g729a_decode(dec, n > 0 ? frame : nullptr, size_t(n), &want[f], 80);
    }
    g729a_decoder_destroy(dec);
    g729a_encoder_destroy(enc);
    ASSERT_GT(kinds[0], 0u);
    ASSERT_GT(kinds[1], 0u);
    EXPECT_EQ(raw_samples(read_file(path("out.raw"))), want);

    r = run({"info", path("out.bit")});
    ASSERT_EQ(r.status, 0) << r.err;
    const double frames = double(input.size() / 80);
    for (const std::string& line :
         {format_share("speech frames:        ", kinds[2], frames), format_share("SID frames:           ", kinds[1], frames),
          format_share("untransmitted frames: ", kinds[0], frames)})
        EXPECT_TRUE(contains(r.out, line)) << line << " in:\n" << r.out;
}

TEST_F(DtxTool, AFullScaleConstantInputDecodesNoLouderWithDtxThanWithout) {
    // Both high-passes leave almost nothing of an offset; the comfort noise
    // must not play what the first one lets through.
    write_file(path("dc.raw"), raw_bytes(std::vector<int16_t>(5 * 8000, int16_t(32767))));
    for (const char* name : {"dtx", "plain"}) {
        std::vector<std::string> encode = {"encode", path("dc.raw"), path(std::string(name) + ".bit")};
        if (std::string(name) == "dtx") encode.insert(encode.begin() + 1, "--dtx");
        run_result r = run(encode);
        ASSERT_EQ(r.status, 0) << r.err;
        r = run({"decode", path(std::string(name) + ".bit"), path(std::string(name) + ".raw")});
        ASSERT_EQ(r.status, 0) << r.err;
    }
    auto level_db = [&](const char* file) {
        const std::vector<int16_t> x = raw_samples(read_file(path(file)));
        double sum = 0.0;
        for (size_t i = 8000; i < x.size(); ++i) sum += double(x[i]) * double(x[i]);
        return 10.0 * std::log10(1.0 + sum / double(x.size() - 8000));
    };
    EXPECT_LE(level_db("dtx.raw"), level_db("plain.raw") + 10.0);
}

TEST_F(DtxTool, DtxIntoG729IsRefusedAndWritesNothing) {
    write_file(path("in.raw"), raw_bytes(speech_with_pauses()));
    const run_result r = run({"encode", "--dtx", path("in.raw"), path("out.g729")});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.err, "out.g729")) << r.err;
    EXPECT_TRUE(contains(r.err, "--dtx needs the .bit format")) << r.err;
    EXPECT_EQ(files(), (std::set<std::string>{"in.raw"}));
    expect_usage_errors({{"decode", "--dtx", path("in.raw"), path("out.raw")}});
}

} // namespace
