// The per-packet table of info --packets, on captures built here with known
// arrivals and read by the real g729a: a row for every packet in capture
// order (copies and reordered ones too), the delta and jitter columns equal
// to an independent computation from the arrivals, and the columns adding
// up to the stream figures info prints beside them.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "tests/tools/capture/capture_info.h"
#include "tests/tools/capture/capture_writer.h"
#include "tests/tools/tool_test_support.h"
#include "tools/capture/packet_table.h"

namespace g729::tool {
namespace {

using testing::contains;
using testing::run_result;
using namespace capture_writer;

// `count` packets of two frames from A to B, 20 ms apart in sender time,
// each arriving `transit_ms(i)` after it was sent.
std::vector<sent_packet> jittered_call(std::size_t count, double (*transit_ms)(std::size_t)) {
    const std::vector<std::vector<uint8_t>> speech = coded_frames("speech_male_librivox.g729", 2 * count);
    std::vector<sent_packet> packets = send(speech, 2, kA, kB, 0x1a2b3c4d, kStart, 100);
    for (std::size_t i = 0; i < packets.size(); ++i)
        packets[i].time_ns = kStart + int64_t(i) * 20 * kMs + int64_t(std::llround(transit_ms(i) * 1e6));
    return packets;
}

// A transit that wanders between 30 and 45 ms, with a spike now and then.
double wandering(std::size_t i) { return 30.0 + double((i * 7) % 11) * 1.5 + (i % 37 == 36 ? 60.0 : 0.0); }

// RFC 3550's interarrival jitter and the arrival deltas, computed here from
// the packets in capture order: a copy of a sequence number seen before
// counts in neither, and its delta is from the last packet that did.
struct expected_timing {
    double delta_ms = 0.0;
    double jitter_ms = 0.0;
};

std::vector<expected_timing> independent_timing(const std::vector<sent_packet>& captured) {
    std::vector<expected_timing> out;
    std::set<uint16_t> seen;
    const sent_packet* previous = nullptr;
    double jitter_ticks = 0.0;
    for (const sent_packet& p : captured) {
        // The capture holds microseconds.
        const int64_t arrival_us = p.time_ns / 1000;
        expected_timing t;
        if (previous) t.delta_ms = double(arrival_us - previous->time_ns / 1000) / 1000.0;
        if (!seen.insert(p.sequence).second) {
            t.jitter_ms = jitter_ticks / 8.0;
            out.push_back(t);
            continue;
        }
        if (previous) {
            const double d = double(arrival_us - previous->time_ns / 1000) * 8.0 / 1000.0 -
                             double(int32_t(p.timestamp - previous->timestamp));
            jitter_ticks += (std::fabs(d) - jitter_ticks) / 16.0;
        }
        t.jitter_ms = jitter_ticks / 8.0;
        out.push_back(t);
        previous = &p;
    }
    return out;
}

std::size_t count_true(const nlohmann::json& rows, const char* column) {
    std::size_t n = 0;
    for (const nlohmann::json& r : rows) n += r[column].get<bool>() ? 1 : 0;
    return n;
}

class PacketTableTest : public testing::CaptureInfoTest {};

TEST_F(PacketTableTest, RowsAreThePacketsAndAddUpToTheStreamFigures) {
    struct Case {
        const char* what;
        std::vector<std::string> options;
        // Changes to the clean call: applied to the packets as sent.
        void (*impair)(std::vector<sent_packet>&);
        // What the case must show at least, or the sums below prove nothing.
        std::size_t lost, reordered, copies, late, discarded;
    };
    const Case cases[] = {
        {"a clean jittered call", {}, [](std::vector<sent_packet>&) {}, 0, 0, 0, 0, 0},
        {"two lost, one reordered, two copies",
         {},
         [](std::vector<sent_packet>& p) {
             p.erase(p.begin() + 40, p.begin() + 42);
             p[60].time_ns += 45 * kMs; // behind the two after it
             sent_packet copy = p[80];
             copy.time_ns += 3 * kMs;
             p.push_back(copy);
             copy = p[100];
             copy.time_ns += 70 * kMs;
             p.push_back(copy);
         },
         2, 1, 2, 0, 0},
        {"a fixed 20 ms buffer: the spikes come late", {"--jitter-buffer", "20"}, [](std::vector<sent_packet>&) {}, 0, 0, 0, 3, 0},
        {"a fixed 20 ms buffer: packets far ahead of the rest are discarded",
         {"--jitter-buffer", "20"},
         [](std::vector<sent_packet>& p) {
             for (int i : {50, 90}) p[std::size_t(i)].time_ns -= 25 * kMs;
             p[0].time_ns += 40 * kMs; // the buffer starts from a slow packet
         },
         0, 1, 0, 0, 2},
        {"the adaptive buffer, a marker bit, a copy last",
         {"--jitter-buffer", "adaptive"},
         [](std::vector<sent_packet>& p) {
             p[70].marker = true;
             sent_packet copy = p.back();
             copy.time_ns += 200 * kMs;
             p.push_back(copy);
         },
         0, 0, 1, 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<sent_packet> packets = jittered_call(150, wandering);
        c.impair(packets);
        std::stable_sort(packets.begin(), packets.end(), [](const sent_packet& a, const sent_packet& b) { return a.time_ns < b.time_ns; });
        write_pcap(path("call.pcap"), DLT_EN10MB, on_link(link::ethernet, packets));
        std::vector<std::string> options = c.options;
        options.push_back("--packets");
        const nlohmann::json s = info_stream(options, "call.pcap");
        const nlohmann::json& rows = s["packet_table"];
        ASSERT_EQ(rows.size(), packets.size());
        EXPECT_EQ(s["packets"], packets.size());
        EXPECT_EQ(s["packet_rows_not_listed"], 0);

        // Every packet in capture order, as it was sent.
        const std::vector<expected_timing> expected = independent_timing(packets);
        double max_delta = 0.0, max_jitter = 0.0, jitter_sum = 0.0;
        std::size_t jitter_count = 0, lost = 0, markers = 0;
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const nlohmann::json& r = rows[i];
            EXPECT_EQ(r["sequence"], packets[i].sequence) << i;
            EXPECT_EQ(r["timestamp"], packets[i].timestamp) << i;
            EXPECT_EQ(r["marker"], packets[i].marker) << i;
            EXPECT_EQ(r["size"], packets[i].payload.size()) << i;
            EXPECT_EQ(r["payload_type"], 18) << i;
            EXPECT_EQ(r["number"], i + 1) << i;
            EXPECT_NEAR(r["delta_ms"].get<double>(), expected[i].delta_ms, 0.0006) << i;
            EXPECT_NEAR(r["jitter_ms"].get<double>(), expected[i].jitter_ms, 0.0006) << i;
            EXPECT_NEAR(r["skew_ms"].get<double>(), -r["transit_ms"].get<double>(), 1e-9) << i;
            lost += r["lost_before"].get<std::size_t>();
            markers += r["marker"].get<bool>() && !r["duplicate"].get<bool>() ? 1 : 0;
            max_jitter = std::max(max_jitter, r["jitter_ms"].get<double>());
            if (r["duplicate"].get<bool>()) continue;
            max_delta = std::max(max_delta, r["delta_ms"].get<double>());
            if (i > 0) {
                jitter_sum += r["jitter_ms"].get<double>();
                ++jitter_count;
            }
        }
        // The transit of the first packet is the reference.
        EXPECT_EQ(rows[0]["transit_ms"], 0.0);
        EXPECT_NEAR(rows[1]["transit_ms"].get<double>(),
                    double(packets[1].time_ns / 1000 - packets[0].time_ns / 1000) / 1e3 -
                        double(int32_t(packets[1].timestamp - packets[0].timestamp)) / 8.0,
                    0.0006);

        EXPECT_NEAR(max_delta, s["max_delta_ms"].get<double>(), 0.0006);
        EXPECT_NEAR(max_jitter, s["jitter_max_ms"].get<double>(), 0.0006);
        EXPECT_NEAR(jitter_sum / double(jitter_count), s["jitter_mean_ms"].get<double>(), 0.001);
        EXPECT_EQ(lost, s["lost_packets"].get<std::size_t>());
        EXPECT_EQ(markers, s["marker_bits"].get<std::size_t>());
        EXPECT_EQ(count_true(rows, "reordered"), s["reordered"].get<std::size_t>());
        EXPECT_EQ(count_true(rows, "duplicate"), s["duplicated"].get<std::size_t>());
        EXPECT_EQ(count_true(rows, "stale"), s["stale"].get<std::size_t>());
        if (s.contains("jitter_buffer")) {
            EXPECT_EQ(count_true(rows, "late"), s["jitter_buffer"]["late_packets"].get<std::size_t>());
            EXPECT_EQ(count_true(rows, "discarded"), s["jitter_buffer"]["discarded_packets"].get<std::size_t>());
        } else {
            EXPECT_EQ(count_true(rows, "late") + count_true(rows, "discarded"), 0u);
        }
        EXPECT_GE(lost, c.lost);
        EXPECT_GE(count_true(rows, "reordered"), c.reordered);
        EXPECT_GE(count_true(rows, "duplicate"), c.copies);
        EXPECT_GE(count_true(rows, "late"), c.late);
        EXPECT_GE(count_true(rows, "discarded"), c.discarded);
        std::printf("%s: %zu rows, %zu lost before, %zu reordered, %zu copies, %zu late, %zu discarded; max delta %.3f ms, "
                    "jitter max %.3f ms\n",
                    c.what, rows.size(), lost, count_true(rows, "reordered"), count_true(rows, "duplicate"),
                    count_true(rows, "late"), count_true(rows, "discarded"), max_delta, max_jitter);
    }
}

TEST_F(PacketTableTest, TheCsvHasABlockForEachStreamNamedAboveIt) {
    std::vector<sent_packet> forth = jittered_call(30, wandering);
    std::vector<sent_packet> back = send(coded_frames("speech_male_librivox.g729", 40), 2, kB, kA, 0x55667788, kStart + 5 * kMs, 7);
    back[3].time_ns += 50 * kMs; // reordered
    std::vector<frame_record> records = on_link(link::ethernet, forth);
    const std::vector<frame_record> other = on_link(link::ethernet, back);
    records.insert(records.end(), other.begin(), other.end());
    write_pcap(path("both.pcap"), DLT_EN10MB, by_time(records));

    const run_result r = run({"info", "--packets", path("both.pcap")});
    ASSERT_EQ(r.status, 0) << r.err;
    const nlohmann::json streams = nlohmann::json::parse(run({"info", "--packets", "--json", path("both.pcap")}).out)["streams"];
    ASSERT_EQ(streams.size(), 2u);
    // The blocks: a comment line naming the stream, the header, its rows.
    std::vector<std::vector<std::string>> blocks;
    std::vector<std::string> names;
    std::size_t at = 0;
    while (at < r.out.size()) {
        const std::size_t end = r.out.find('\n', at);
        const std::string line = r.out.substr(at, end - at);
        at = end == std::string::npos ? r.out.size() : end + 1;
        if (line.empty()) continue;
        if (line[0] == '#') {
            names.push_back(line);
            blocks.emplace_back();
        } else {
            ASSERT_FALSE(blocks.empty()) << r.out;
            blocks.back().push_back(line);
        }
    }
    ASSERT_EQ(blocks.size(), 2u) << r.out;
    for (std::size_t k = 0; k < 2; ++k) {
        const nlohmann::json& s = streams[k];
        EXPECT_EQ(names[k], "# stream " + std::to_string(k + 1) + ": " + s["ssrc"].get<std::string>() + " " +
                                s["source"].get<std::string>() + " -> " + s["destination"].get<std::string>());
        const std::vector<std::string>& lines = blocks[k];
        ASSERT_EQ(lines.size(), s["packet_table"].size() + 1);
        EXPECT_EQ(lines[0], "number,time,time_utc,sequence,timestamp,marker,payload_type,size,delta_ms,transit_ms,jitter_ms,"
                            "skew_ms,lost_before,late,discarded,reordered,duplicate,stale");
        // Each row the JSON's, column by column.
        for (std::size_t i = 0; i < s["packet_table"].size(); ++i) {
            const nlohmann::json& row = s["packet_table"][i];
            std::vector<std::string> cells;
            std::size_t from = 0;
            for (std::size_t comma; (comma = lines[i + 1].find(',', from)) != std::string::npos; from = comma + 1)
                cells.push_back(lines[i + 1].substr(from, comma - from));
            cells.push_back(lines[i + 1].substr(from));
            ASSERT_EQ(cells.size(), 18u) << lines[i + 1];
            EXPECT_EQ(cells[0], std::to_string(row["number"].get<int>()));
            EXPECT_EQ(cells[2], row["time_utc"].get<std::string>());
            EXPECT_EQ(cells[3], std::to_string(row["sequence"].get<int>()));
            EXPECT_NEAR(std::stod(cells[8]), row["delta_ms"].get<double>(), 1e-9);
            EXPECT_NEAR(std::stod(cells[10]), row["jitter_ms"].get<double>(), 1e-9);
            EXPECT_EQ(cells[15], row["reordered"].get<bool>() ? "1" : "0");
        }
    }
    for (const nlohmann::json& s : streams)
        EXPECT_EQ(count_true(s["packet_table"], "reordered"), s["ssrc"] == "0x55667788" ? 1u : 0u) << s["ssrc"];
    // Without --packets the JSON has no table.
    const nlohmann::json plain = nlohmann::json::parse(run({"info", "--json", path("both.pcap")}).out);
    for (const nlohmann::json& s : plain["streams"]) EXPECT_FALSE(s.contains("packet_table"));
}

// The table as text and as written to a file are the same, and a figure
// that is not a number leaves its cell empty (CSV) or null (JSON), never
// "nan" that no JSON reader takes.
TEST(PacketTableText, TheStringAndTheFileAgreeAndNoFigureIsNan) {
    packet_table t;
    packet_row first;
    first.number = 3;
    first.arrival_ns = kStart + 1234567;
    first.sequence = 65535;
    first.timestamp = 4294967295u;
    first.marker = true;
    first.size = 20;
    first.skew_ms = -0.0001;
    packet_row odd = first;
    odd.number = 4;
    odd.delta_ms = std::nan("");
    odd.jitter_ms = HUGE_VAL;
    odd.duplicate = true;
    t.rows = {first, odd};

    const nlohmann::json rows = nlohmann::json::parse(packet_table_json(t));
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0]["time"].get<double>(), 1700000000.001234);
    EXPECT_EQ(rows[0]["time_utc"], "2023-11-14 22:13:20.001234 UTC");
    EXPECT_EQ(rows[0]["sequence"], 65535);
    EXPECT_EQ(rows[0]["timestamp"], 4294967295u);
    EXPECT_EQ(rows[0]["marker"], true);
    EXPECT_EQ(rows[0]["skew_ms"], 0.0);
    EXPECT_TRUE(rows[1]["delta_ms"].is_null());
    EXPECT_TRUE(rows[1]["jitter_ms"].is_null());
    EXPECT_EQ(rows[1]["duplicate"], true);
    const std::string csv = packet_table_csv(t);
    EXPECT_TRUE(contains(csv, "\n4,1700000000.001234,2023-11-14 22:13:20.001234 UTC,65535,4294967295,1,0,20,,0.000,,0.000,0,0,0,0,1,0\n"))
        << csv;
    EXPECT_FALSE(contains(csv, "nan") || contains(csv, "inf") || contains(csv, "-0.000")) << csv;

    auto written = [&](void (*write)(const packet_table&, std::FILE*)) {
        std::FILE* f = std::tmpfile();
        write(t, f);
        std::string text(std::size_t(std::ftell(f)), '\0');
        std::rewind(f);
        EXPECT_EQ(std::fread(text.data(), 1, text.size(), f), text.size());
        std::fclose(f);
        return text;
    };
    EXPECT_EQ(written(write_packet_table_csv), csv);
    EXPECT_EQ(written(write_packet_table_json), packet_table_json(t));
    EXPECT_EQ(packet_table_json(packet_table{}), "[]");
}

} // namespace
} // namespace g729::tool
