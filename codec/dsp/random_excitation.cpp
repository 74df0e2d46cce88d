#include "codec/dsp/random_excitation.h"

#include <cmath>

#include "codec/dsp/interpolation.h"

namespace g729 {

namespace {

constexpr int kGaussianDraws = 12;
constexpr double kNoiseScale = 3.16227766; // sqrt(40) / 2
constexpr double kMaxPulseAmplitude = 5000.0;

double sign_of_bit(int word, int bit) { return ((word >> bit) & 1) != 0 ? 1.0 : -1.0; }

} // namespace

int16_t random_word(int16_t& seed) {
    const int32_t next = int32_t(seed) * 31821 + 13849;
    seed = int16_t(uint16_t(uint32_t(next) & 0xFFFFu));
    return seed;
}

noise_subframe_parameters draw_noise_parameters(int16_t& seed) {
    noise_subframe_parameters q;
    const int w1 = random_word(seed);
    const int low = w1 & 3;
    q.frac = low == 3 ? 0 : low - 1;
    q.t0 = ((w1 >> 2) & 63) + 40;
    q.positions[0] = 5 * ((w1 >> 8) & 7);
    q.signs[0] = sign_of_bit(w1, 11);
    q.positions[1] = 5 * ((w1 >> 12) & 7) + 1;
    q.signs[1] = sign_of_bit(w1, 15);

    const int w2 = random_word(seed);
    q.positions[2] = 5 * (w2 & 7) + 2;
    q.signs[2] = sign_of_bit(w2, 3);
    q.positions[3] = 5 * ((w2 >> 5) & 7) + 3 + ((w2 >> 4) & 1);
    q.signs[3] = sign_of_bit(w2, 8);

    const int w3 = random_word(seed);
    q.adaptive_gain = double(w3 & 0x1FFF) / 16384.0;
    return q;
}

void random_excitation(double* excitation, int16_t& seed, double gain) {
    for (int s = 0; s < kSubframes; ++s) {
        double* x = excitation + s * kSubframe;

        const noise_subframe_parameters q = draw_noise_parameters(seed);
        const int* pos = q.positions;
        const double* sign = q.signs;

        // Roughly Gaussian samples: sums of twelve uniform words.
        double g[kSubframe];
        double noise_energy = 0.0;
        for (int i = 0; i < kSubframe; ++i) {
            int32_t sum = 0;
            for (int d = 0; d < kGaussianDraws; ++d) sum += random_word(seed);
            g[i] = double(sum >> 7) / 512.0;
            noise_energy += g[i] * g[i];
        }
        const double scale = (kNoiseScale * gain) / std::sqrt(noise_energy);
        for (int i = 0; i < kSubframe; ++i) g[i] = g[i] * scale;

        interpolate_excitation(x, q.t0, q.frac, kSubframe);
        double energy = 0.0;
        for (int i = 0; i < kSubframe; ++i) {
            x[i] = x[i] * q.adaptive_gain + g[i];
            energy += x[i] * x[i];
        }

        // The pulse amplitude A solves 4A^2 + 2BA + (E - K) = 0, which brings
        // the subframe energy to 40 G^2.
        auto pulse_correlation = [&]() {
            double b = 0.0;
            for (int k = 0; k < 4; ++k) b += sign[k] * x[pos[k]];
            return b;
        };
        double b = pulse_correlation();
        const double target = 40.0 * (gain * gain);
        double delta = b * b - 4.0 * (energy - target);
        if (delta < 0.0) {
            // No real root: drop the adaptive part.
            for (int i = 0; i < kSubframe; ++i) x[i] = g[i];
            b = pulse_correlation();
            delta = b * b + 3.0 * target;
        }
        const double root = std::sqrt(delta);
        const double x1 = (root - b) * 0.25;
        const double x2 = -(b + root) * 0.25;
        double amplitude = std::fabs(x1) < std::fabs(x2) ? x1 : x2;
        if (amplitude > kMaxPulseAmplitude) amplitude = kMaxPulseAmplitude;
        if (amplitude < -kMaxPulseAmplitude) amplitude = -kMaxPulseAmplitude;
        for (int k = 0; k < 4; ++k) x[pos[k]] = x[pos[k]] + sign[k] * amplitude;
    }
}

} // namespace g729
