#include "codec/encoder/gain_quantizer.h"

#include <gtest/gtest.h>

#include <cmath>

#include "codec/dsp/gain.h"

namespace g729 {
namespace {

// A code vector as the fixed-codebook search leaves it: four unit pulses,
// optionally sharpened.
void four_pulses(double* code, double sharpening) {
    for (int n = 0; n < kSubframe; ++n) code[n] = 0.0;
    code[0] = 1.0;
    code[11] = -1.0;
    code[17] = 1.0;
    code[33] = -1.0;
    for (int n = 25; n < kSubframe; ++n) code[n] += sharpening * code[n - 25];
}

// Correlations of a subframe whose best unquantized gains are near (gp, gc).
gain_correlations correlations_for(double energy_y, double gp, double energy_z, double gc, double cross) {
    return {energy_y, -2.0 * gp * energy_y + 0.01, energy_z, -2.0 * gc * energy_z, 2.0 * cross};
}

TEST(GainQuantizer, PredictionFromTheInitialHistory) {
    energy_memory history;
    reset_energy_history(history);
    double code[kSubframe];
    four_pulses(code, 0.0);
    EXPECT_NEAR(predict_fixed_gain(history, code, kSubframe), 11.12904, 1e-5);
}

struct gain_case {
    gain_correlations correlations;
    bool taming;
    double sharpening;
};

// The decoder rebuilds exactly the gains the encoder chose and keeps the
// same energy history, including for degenerate correlations.
TEST(GainQuantizer, DecodingTheIndexReproducesGainsAndHistory) {
    const gain_case cases[] = {
        {correlations_for(5000.0, 0.6, 4.0, 300.0, 100.0), 0, 0.2},
        {correlations_for(5000.0, 0.6, 4.0, 300.0, 100.0), 1, 0.2},
        {correlations_for(800.0, 1.15, 4.0, 40.0, -50.0), 0, 0.7945},
        {correlations_for(800.0, 1.15, 4.0, 40.0, -50.0), 1, 0.7945},
        {correlations_for(0.01, 0.0, 4.01, 2000.0, 0.0), 0, 0.0},
        {correlations_for(300.0, 0.2, 6.0, 5.0, 30.0), 1, 0.5},
        // 4*c0*c2 == c4*c4: the unquantized optimum is not a number.
        {{1.0, -2.0, 1.0, -2.0, 2.0}, 0, 0.2},
        {{1.0, -2.0, 1.0, -2.0, 2.0}, 1, 0.2},
    };
    energy_memory encoder_history, decoder_history;
    reset_energy_history(encoder_history);
    reset_energy_history(decoder_history);
    for (const gain_case& c : cases) {
        double code[kSubframe];
        four_pulses(code, c.sharpening);
        double gp = -1.0, gc = -1.0;
        const int index = quantize_gains(encoder_history, code, c.correlations, kSubframe, c.taming, gp, gc);
        ASSERT_GE(index, 0);
        ASSERT_LT(index, 128);
        double decoded_gp = -1.0, decoded_gc = -1.0;
        decode_gains(decoder_history, index, code, kSubframe, decoded_gp, decoded_gc);
        EXPECT_EQ(gp, decoded_gp) << "index " << index;
        EXPECT_EQ(gc, decoded_gc) << "index " << index;
        EXPECT_EQ(encoder_history, decoder_history) << "index " << index;
    }
}

// Under taming the pitch gain must stay clear of 1 even when the subframe
// asks for more; without taming the same subframe gets a gain above 1.
TEST(GainQuantizer, TamingKeepsThePitchGainBelowOne) {
    double code[kSubframe];
    four_pulses(code, 0.2);
    const gain_correlations wants_high_pitch = correlations_for(20000.0, 1.2, 4.0, 10.0, 0.0);
    for (bool flag : {false, true}) {
        energy_memory history;
        reset_energy_history(history);
        double gp, gc;
        quantize_gains(history, code, wants_high_pitch, kSubframe, flag, gp, gc);
        if (flag) {
            EXPECT_LT(gp, 0.9999);
        } else {
            EXPECT_GE(gp, 0.9999);
        }
    }
}

// The quantized pair lies close to a reachable unquantized optimum.
TEST(GainQuantizer, QuantizedGainsFollowTheOptimum) {
    double code[kSubframe];
    four_pulses(code, 0.0);
    energy_memory history;
    reset_energy_history(history);
    const double g0 = predict_fixed_gain(history, code, kSubframe);
    const struct {
        double gp, correction;
    } targets[] = {{0.3, 0.7}, {0.8, 1.2}, {0.6, 2.5}};
    for (const auto& t : targets) {
        energy_memory h = history;
        double gp, gc;
        quantize_gains(h, code, correlations_for(4000.0, t.gp, 4.0, t.correction * g0, 0.0), kSubframe, false, gp, gc);
        EXPECT_NEAR(gp, t.gp, 0.1);
        EXPECT_NEAR(gc / g0, t.correction, 0.25 * t.correction);
    }
}

} // namespace
} // namespace g729
