#include "codec/encoder/vad.h"

#include <cmath>

namespace g729 {
namespace {

constexpr int kFeatureSamples = 120;
// A window of the minimum statistics lasts 200 ms, so the noise floor
// follows a rising background within 1.6 s; a talk spurt shorter than that
// never lifts it.
constexpr int kWindowFrames = 20;
// Until the windows have seen real frames the floor is this level (RMS about
// 40): a loud start is taken as speech rather than as noise.
constexpr double kInitialFloorDb = 32.0;
// Frames far enough above the floor are speech whatever their spectrum. The
// floor is the minimum of the noise, which lies under its mean by about
// what the noise's energy strays from frame to frame: a steady noise lets
// the margin shrink to the smallest one, a fluctuating one (babble) widens
// it, up to the largest.
constexpr double kSmallestMarginDb = 4.0;
constexpr double kLargestMarginDb = 9.0;
constexpr double kMarginPerFluctuation = 2.0;
constexpr double kLargestBandMarginDb = 12.0;
constexpr double kContinuationShare = 0.5;
constexpr double kSteadyMarginDb = 8.0;
constexpr double kInitialFluctuationDb = 3.0;
// Smaller rises (this share of the margin) count when the spectrum or the
// zero crossings changed too: the fricatives and nasals of a word start in
// steady noise.
constexpr double kSpectralMarginShare = 0.4;
constexpr double kSpectralDistance = 0.06; // squared radians over the ten LSFs
constexpr double kZeroCrossingChange = 0.2;
// Nothing quieter than this is speech (RMS about 5.6 of 32768): in digital
// silence the floor sits at 0 dB and every click would pass the margins.
constexpr double kAbsoluteMinimumDb = 15.0;
// Speech is held on after a spurt: long enough to cover the fading end of a
// word, longer after a real spurt than after an isolated blip.
constexpr int kHangoverFrames = 12;
// Where noise fills the band above 1 kHz (white noise, babble) a word's
// fading end sinks into it long before it ends: speech is held longer there,
// when the talk spurts' high band rose less than this over its floor.
constexpr int kMaskedHangoverFrames = 24;
constexpr double kPeakDecay = 0.999;
constexpr double kMaskingHighBandSnrDb = 40.0;
constexpr int kShortHangoverFrames = 4;
constexpr int kRealSpurtFrames = 4;
// The noise's spectrum follows the frames taken as noise with this weight.
constexpr double kNoiseSpectrumStep = 0.1;

double level_db(double sum, int n) { return 10.0 * std::log10(1.0 + sum / double(n)); }

double margin_for(double fluctuation_db, double largest) {
    const double margin = kSmallestMarginDb + kMarginPerFluctuation * fluctuation_db;
    return margin > largest ? largest : margin;
}

// A band's margin; while speech is held, a band whose noise is steady lets
// smaller rises continue it, so that the fading end of a word is followed.
double band_margin(const vad_state& state, double fluctuation_db) {
    const double margin = margin_for(fluctuation_db, kLargestBandMarginDb);
    return state.hangover > 0 && margin < kSteadyMarginDb ? kContinuationShare * margin : margin;
}

double minimum_of(const std::array<double, kNoiseFloorWindows>& minima, double current) {
    double m = current;
    for (double v : minima) m = v < m ? v : m;
    return m;
}

void track_noise_floor(vad_state& state, const vad_features& f) {
    if (f.energy_db < state.window_energy_minimum) state.window_energy_minimum = f.energy_db;
    if (f.low_band_db < state.window_low_band_minimum) state.window_low_band_minimum = f.low_band_db;
    if (f.high_band_db < state.window_high_band_minimum) state.window_high_band_minimum = f.high_band_db;
    if (++state.window_frames < kWindowFrames) return;
    for (int w = 0; w + 1 < kNoiseFloorWindows; ++w) {
        state.energy_minima[w] = state.energy_minima[w + 1];
        state.low_band_minima[w] = state.low_band_minima[w + 1];
        state.high_band_minima[w] = state.high_band_minima[w + 1];
    }
    state.energy_minima[kNoiseFloorWindows - 1] = state.window_energy_minimum;
    state.low_band_minima[kNoiseFloorWindows - 1] = state.window_low_band_minimum;
    state.high_band_minima[kNoiseFloorWindows - 1] = state.window_high_band_minimum;
    state.window_energy_minimum = 1e9;
    state.window_low_band_minimum = 1e9;
    state.window_high_band_minimum = 1e9;
    state.window_frames = 0;
}

double spectral_distance(const lsf_vector& a, const lsf_vector& b) {
    double d = 0.0;
    for (int i = 0; i < kOrder; ++i) d += (a[i] - b[i]) * (a[i] - b[i]);
    return d;
}

} // namespace

void vad_reset(vad_state& state) {
    state.energy_minima.fill(kInitialFloorDb);
    state.low_band_minima.fill(kInitialFloorDb);
    state.high_band_minima.fill(kInitialFloorDb);
    state.window_energy_minimum = 1e9;
    state.window_low_band_minimum = 1e9;
    state.window_high_band_minimum = 1e9;
    state.window_frames = 0;
    state.noise_lsf.fill(0.0);
    state.noise_zero_crossings = 0.0;
    state.noise_fluctuation_db = kInitialFluctuationDb;
    state.low_band_fluctuation_db = kInitialFluctuationDb;
    state.high_band_fluctuation_db = kInitialFluctuationDb;
    state.noise_spectrum_known = false;
    state.hangover = 0;
    state.speech_run = 0;
    state.high_band_peak_rise = 0.0;
}

void vad_frame_features(const double* x, const lsf_vector& lsf, vad_features& features) {
    double energy = 0.0, low = 0.0, high = 0.0;
    int crossings = 0;
    for (int n = 0; n < kFeatureSamples; ++n) {
        energy += x[n] * x[n];
        // A four-sample mean: zeros at 2 and 4 kHz, little loss below 1 kHz.
        const double l = 0.25 * (((x[n] + x[n - 1]) + x[n - 2]) + x[n - 3]);
        low += l * l;
        high += (x[n] - l) * (x[n] - l);
        if ((x[n] >= 0.0) != (x[n - 1] >= 0.0)) ++crossings;
    }
    features.energy_db = level_db(energy, kFeatureSamples);
    features.low_band_db = level_db(low, kFeatureSamples);
    features.high_band_db = level_db(high, kFeatureSamples);
    features.zero_crossings = double(crossings) / double(kFeatureSamples);
    features.lsf = lsf;
}

bool vad_decide(vad_state& state, const vad_features& f, bool& raw_speech) {
    track_noise_floor(state, f);
    const double energy_floor = minimum_of(state.energy_minima, state.window_energy_minimum);
    const double low_floor = minimum_of(state.low_band_minima, state.window_low_band_minimum);
    const double high_floor = minimum_of(state.high_band_minima, state.window_high_band_minimum);
    const double rise = f.energy_db - energy_floor;
    const double low_rise = f.low_band_db - low_floor;
    const double high_rise = f.high_band_db - high_floor;
    const double margin = margin_for(state.noise_fluctuation_db, kLargestMarginDb);
    const double low_margin = band_margin(state, state.low_band_fluctuation_db);
    const double high_margin = band_margin(state, state.high_band_fluctuation_db);

    bool speech = low_rise > low_margin || high_rise > high_margin;
    if (!speech && state.noise_spectrum_known && rise > kSpectralMarginShare * margin) {
        speech = spectral_distance(f.lsf, state.noise_lsf) > kSpectralDistance ||
                 std::fabs(f.zero_crossings - state.noise_zero_crossings) > kZeroCrossingChange;
    }
    if (f.energy_db < kAbsoluteMinimumDb) speech = false;
    raw_speech = speech;

    if (speech) {
        ++state.speech_run;
        const double high_snr = f.high_band_db - high_floor;
        state.high_band_peak_rise = high_snr > state.high_band_peak_rise ? high_snr : state.high_band_peak_rise;
        const int hangover = state.high_band_peak_rise < kMaskingHighBandSnrDb ? kMaskedHangoverFrames : kHangoverFrames;
        state.hangover = state.speech_run >= kRealSpurtFrames ? hangover : kShortHangoverFrames;
        return true;
    }
    state.speech_run = 0;
    state.high_band_peak_rise *= kPeakDecay;
    if (!state.noise_spectrum_known) {
        state.noise_lsf = f.lsf;
        state.noise_zero_crossings = f.zero_crossings;
        state.noise_spectrum_known = true;
    } else {
        for (int i = 0; i < kOrder; ++i) state.noise_lsf[i] += kNoiseSpectrumStep * (f.lsf[i] - state.noise_lsf[i]);
        state.noise_zero_crossings += kNoiseSpectrumStep * (f.zero_crossings - state.noise_zero_crossings);
    }
    state.noise_fluctuation_db += kNoiseSpectrumStep * (rise - state.noise_fluctuation_db);
    state.low_band_fluctuation_db += kNoiseSpectrumStep * (low_rise - state.low_band_fluctuation_db);
    state.high_band_fluctuation_db += kNoiseSpectrumStep * (high_rise - state.high_band_fluctuation_db);
    if (state.hangover > 0) {
        --state.hangover;
        return true;
    }
    return false;
}

} // namespace g729
