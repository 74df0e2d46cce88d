#include "codec/dsp/gain.h"

#include <gtest/gtest.h>

#include <cmath>

namespace g729 {
namespace {

TEST(PredictFixedGain, FourUnitPulsesWithTheInitialHistory) {
    energy_memory history;
    reset_energy_history(history);
    double code[kSubframe] = {};
    code[0] = 1.0;
    code[11] = -1.0;
    code[22] = 1.0;
    code[33] = -1.0;
    EXPECT_NEAR(predict_fixed_gain(history, code, kSubframe), 11.12904, 5e-6);
}

TEST(DecodeGains, IndicesMapThroughThePermutations) {
    struct Case {
        int index;
        double pitch, correction, newest_db;
    };
    const Case cases[] = {
        {0, 0.511772, 1.286869, 2.19069},     // GA row 5, GB row 2
        {127, 0.812873, 1.057359, 0.484449}, // GA row 3, GB row 8
    };
    double code[kSubframe] = {};
    code[5] = 1.0;
    for (const Case& c : cases) {
        energy_memory history;
        reset_energy_history(history);
        const double g0 = predict_fixed_gain(history, code, kSubframe);
        double pitch, fixed;
        decode_gains(history, c.index, code, kSubframe, pitch, fixed);
        EXPECT_NEAR(pitch, c.pitch, 1e-12) << c.index;
        EXPECT_NEAR(fixed / g0, c.correction, 1e-12) << c.index;
        EXPECT_NEAR(history[0], c.newest_db, 5e-6) << c.index;
        EXPECT_EQ(history[1], -14.0);
    }
}

TEST(DecodeGains, HistoryHoldsTheLastFourCorrectionsNewestFirst) {
    energy_memory history;
    reset_energy_history(history);
    double code[kSubframe] = {};
    code[0] = 1.0;
    const int indices[] = {0, 127, 5, 64, 33};
    double pitch, fixed;
    for (int index : indices) decode_gains(history, index, code, kSubframe, pitch, fixed);
    auto db = [](int index) {
        const double c = gain_codebook_ga[ga_index_to_row[index >> 4]].correction +
                          gain_codebook_gb[gb_index_to_row[index & 15]].correction;
        return 20.0 * std::log10(c);
    };
    EXPECT_EQ(history[0], db(33));
    EXPECT_EQ(history[1], db(64));
    EXPECT_EQ(history[2], db(5));
    EXPECT_EQ(history[3], db(127));
}

// A lost subframe pushes the concealment's estimate, never below the -14 dB
// of a fresh history, and shifts the rest as a decoded one does.
TEST(PushConcealedEnergy, PushesTheEstimateDownToTheFloor) {
    struct Case {
        energy_memory history;
        double estimate;
        double newest;
    };
    const Case cases[] = {
        {{10.0, 6.0, 2.0, -2.0}, 0.0, 0.0},
        {{20.0, 20.0, 20.0, 20.0}, 16.0, 16.0},
        {{-8.0, -10.0, -12.0, -14.0}, -15.0, -14.0},   // below the floor
        {{-14.0, -14.0, -14.0, -14.0}, -14.0, -14.0},  // a fresh history stays as it is
        {{-14.65, -14.65, -14.65, -14.65}, -14.65, -14.0}, // the lowest decoded entries
    };
    for (const Case& c : cases) {
        energy_memory history = c.history;
        push_concealed_energy(history, c.estimate);
        EXPECT_EQ(history[0], c.newest) << c.history[0];
        EXPECT_EQ(history[1], c.history[0]);
        EXPECT_EQ(history[2], c.history[1]);
        EXPECT_EQ(history[3], c.history[2]);
    }
}

TEST(GainPermutations, EncoderTablesInvertDecoderTables) {
    for (int i = 0; i < kGainCodebookGaSize; ++i) EXPECT_EQ(ga_row_to_index[ga_index_to_row[i]], i);
    for (int i = 0; i < kGainCodebookGbSize; ++i) EXPECT_EQ(gb_row_to_index[gb_index_to_row[i]], i);
}

} // namespace
} // namespace g729
