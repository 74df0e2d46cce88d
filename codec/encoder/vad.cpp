#include "codec/encoder/vad.h"

#include <algorithm>
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
// Frames far enough above the floor, in either band, are speech whatever
// their spectrum. The floor is the minimum of the noise, which lies under
// its mean by about what the noise's level strays from frame to frame: a
// steady noise lets the margin shrink to the smallest one, a fluctuating one
// (babble, the rumble of a car below 1 kHz) widens it, up to the largest.
constexpr double kSmallestMarginDb = 4.0;
constexpr double kLargestMarginDb = 14.0;
constexpr double kMarginPerFluctuation = 2.0;
// While speech is held, a band whose margin is under kSteadyMarginDb (a
// steady noise) continues it at this share of its margin: the fading end of
// a word in a hiss is followed further than its loud part would carry it.
constexpr double kContinuationShare = 0.5;
constexpr double kSteadyMarginDb = 8.0;
// In a noise steady in both bands, a frame whose two rises together make up
// a margin (each band's rise as a share of its margin, summed over this) is
// speech too: a weak sound spread over the spectrum, each band alone short
// of its margin.
constexpr double kJointRise = 1.0;
constexpr double kJointMarginDb = 9.5;
constexpr double kInitialFluctuationDb = 3.0;
// Smaller rises (this share of the margin) count when the spectrum or the
// zero crossings changed too: the fricatives and nasals of a word start in
// steady noise.
constexpr double kSpectralMarginShare = 0.4;
constexpr double kSpectralDistance = 0.06; // squared radians over the ten LSFs
constexpr double kZeroCrossingChange = 0.2;
// ... and moved well beyond what the noise's own spectrum strays.
constexpr double kSpreadShare = 2.0;
// Frames taken as speech with nothing learnt as noise before the background
// is taken to hide under the margins (3 s: longer than most talk spurts).
constexpr int kStarvedFrames = 300;
// Nothing quieter than this is speech (RMS about 5.6 of 32768): in digital
// silence the floor sits at 0 dB and every click would pass the margins.
constexpr double kAbsoluteMinimumDb = 15.0;
// Speech is held on after a spurt: long enough to cover the fading end of a
// word, longer after a real spurt than after an isolated blip.
constexpr int kHangoverFrames = 12;
// Where noise fills the band above 1 kHz as much as the band below (a flat,
// hissing noise) a word's fading end sinks into it long before it ends:
// speech is held longer there.
constexpr int kMaskedHangoverFrames = 20;
constexpr double kMaskingTiltDb = -3.0;
// Talkers behind the speaker fluctuate in both bands nearly as much as
// speech does (margins of 12 dB or more) and fill the band above 1 kHz a
// little less than the band below, as speech does (a car's rumble, which
// fluctuates as much, leaves it 10 dB emptier; a hiss fills it more). A
// word's end drops under their widest margins early, and their own louder
// moments rise over those margins now and then: speech is held long enough
// there to bridge both, so that the pauses do not break into short gaps
// between such moments.
constexpr double kBabbleMarginDb = 12.0;
constexpr double kBabbleLeastTiltDb = -8.0;
constexpr double kBabbleMostTiltDb = 0.0;
constexpr int kBabbleHangoverFrames = 46;
// Their spectrum moves as speech does, so a rise has to be larger before a
// moved spectrum makes it speech.
constexpr double kBabbleSpectralMarginShare = 0.7;
constexpr int kShortHangoverFrames = 4;
// Over digital silence (both floors under the absolute minimum) nothing
// buries a word's end: it is seen as speech down to its last audible frame,
// and a short hold bridges only the stops within words.
constexpr int kSilentHangoverFrames = 4;
constexpr int kRealSpurtFrames = 4;
// The noise's spectrum follows the frames taken as noise with this weight.
constexpr double kNoiseSpectrumStep = 0.1;

double level_db(double sum, int n) { return 10.0 * std::log10(1.0 + sum / double(n)); }

void floor_reset(level_floor& floor) {
    floor.minima.fill(kInitialFloorDb);
    floor.window_minimum = 1e9;
    floor.fluctuation_db = kInitialFluctuationDb;
}

void floor_add(level_floor& floor, double level_db) {
    if (level_db < floor.window_minimum) floor.window_minimum = level_db;
}

void floor_close_window(level_floor& floor) {
    for (int w = 0; w + 1 < kNoiseFloorWindows; ++w) floor.minima[w] = floor.minima[w + 1];
    floor.minima[kNoiseFloorWindows - 1] = floor.window_minimum;
    floor.window_minimum = 1e9;
}

double floor_of(const level_floor& floor) {
    double m = floor.window_minimum;
    for (double v : floor.minima) m = v < m ? v : m;
    return m;
}

// The margin of a level over its floor. While speech is held, a band whose
// noise is steady lets smaller rises continue it, so that the fading end of
// a word is followed.
double margin_of(const level_floor& floor, bool held) {
    double margin = kSmallestMarginDb + kMarginPerFluctuation * floor.fluctuation_db;
    if (margin > kLargestMarginDb) margin = kLargestMarginDb;
    return held && margin < kSteadyMarginDb ? kContinuationShare * margin : margin;
}

void track_noise_floor(vad_state& state, const vad_features& f) {
    floor_add(state.low_band, f.low_band_db);
    floor_add(state.high_band, f.high_band_db);
    if (++state.window_frames < kWindowFrames) return;
    floor_close_window(state.low_band);
    floor_close_window(state.high_band);
    state.window_frames = 0;
}

// How far the background's level strays over its floor, band by band.
void learn_fluctuation(vad_state& state, double low_rise, double high_rise) {
    state.low_band.fluctuation_db += kNoiseSpectrumStep * (low_rise - state.low_band.fluctuation_db);
    state.high_band.fluctuation_db += kNoiseSpectrumStep * (high_rise - state.high_band.fluctuation_db);
}

double spectral_distance(const lsf_vector& a, const lsf_vector& b) {
    double d = 0.0;
    for (int i = 0; i < kOrder; ++i) d += (a[i] - b[i]) * (a[i] - b[i]);
    return d;
}

} // namespace

void vad_reset(vad_state& state) {
    floor_reset(state.low_band);
    floor_reset(state.high_band);
    state.window_frames = 0;
    state.noise_lsf.fill(0.0);
    state.noise_zero_crossings = 0.0;
    state.noise_spectrum_known = false;
    state.noise_spectral_spread = 0.0;
    state.noise_crossing_spread = 0.0;
    state.frames_since_noise = 0;
    state.hangover = 0;
    state.speech_run = 0;
}

void vad_frame_features(const double* x, const lsf_vector& lsf, vad_features& features) {
    double low = 0.0, high = 0.0;
    int crossings = 0;
    for (int n = 0; n < kFeatureSamples; ++n) {
        // A four-sample mean: zeros at 2 and 4 kHz, little loss below 1 kHz.
        const double l = 0.25 * (((x[n] + x[n - 1]) + x[n - 2]) + x[n - 3]);
        low += l * l;
        high += (x[n] - l) * (x[n] - l);
        if ((x[n] >= 0.0) != (x[n - 1] >= 0.0)) ++crossings;
    }
    features.low_band_db = level_db(low, kFeatureSamples);
    features.high_band_db = level_db(high, kFeatureSamples);
    features.zero_crossings = double(crossings) / double(kFeatureSamples);
    features.lsf = lsf;
}

bool vad_decide(vad_state& state, const vad_features& f, bool& raw_speech) {
    track_noise_floor(state, f);
    const double low_floor = floor_of(state.low_band), high_floor = floor_of(state.high_band);
    const double low_rise = f.low_band_db - low_floor;
    const double high_rise = f.high_band_db - high_floor;
    const bool held = state.hangover > 0;
    const double low_margin = margin_of(state.low_band, held);
    const double high_margin = margin_of(state.high_band, held);

    // Either band rising over its margin: speech in a rumble shows above
    // 1 kHz, voiced speech in a hiss below it. Or both rising together in a
    // steady noise.
    const double low_noise_margin = margin_of(state.low_band, false);
    const double high_noise_margin = margin_of(state.high_band, false);
    const bool steady = low_noise_margin < kJointMarginDb && high_noise_margin < kJointMarginDb;
    const bool talkers = low_noise_margin >= kBabbleMarginDb && high_noise_margin >= kBabbleMarginDb &&
                         high_floor - low_floor > kBabbleLeastTiltDb && high_floor - low_floor < kBabbleMostTiltDb;
    bool speech = low_rise > low_margin || high_rise > high_margin ||
                  (steady && low_rise / low_margin + high_rise / high_margin > kJointRise);
    const double share = talkers ? kBabbleSpectralMarginShare : kSpectralMarginShare;
    if (!speech && state.noise_spectrum_known && (low_rise > share * low_margin || high_rise > share * high_margin)) {
        speech = spectral_distance(f.lsf, state.noise_lsf) >
                     std::max(kSpectralDistance, kSpreadShare * state.noise_spectral_spread) ||
                 std::fabs(f.zero_crossings - state.noise_zero_crossings) >
                     std::max(kZeroCrossingChange, kSpreadShare * state.noise_crossing_spread);
    }
    if (f.low_band_db < kAbsoluteMinimumDb && f.high_band_db < kAbsoluteMinimumDb) speech = false;
    raw_speech = speech;

    // A background that never falls under the margins (talkers behind the
    // speaker) would never teach its fluctuation: after a long stretch of
    // speech with nothing learnt, the frames under the widest margin in both
    // bands (the background's louder moments, or the quietest of speech)
    // teach it. The count stops there, however long the stretch.
    if (speech && state.frames_since_noise < kStarvedFrames) {
        ++state.frames_since_noise;
    } else if (speech && low_rise < kLargestMarginDb && high_rise < kLargestMarginDb) {
        learn_fluctuation(state, low_rise, high_rise);
    }
    if (speech) {
        ++state.speech_run;
        const bool hiss = high_floor > kAbsoluteMinimumDb && high_floor - low_floor > kMaskingTiltDb;
        const bool silent = low_floor < kAbsoluteMinimumDb && high_floor < kAbsoluteMinimumDb;
        const int hangover = talkers ? kBabbleHangoverFrames
                             : hiss  ? kMaskedHangoverFrames
                             : silent ? kSilentHangoverFrames
                                      : kHangoverFrames;
        const int wanted = state.speech_run >= kRealSpurtFrames ? hangover : kShortHangoverFrames;
        // A blip within the hold continues the word: it never shortens it.
        if (wanted > state.hangover) state.hangover = wanted;
        return true;
    }
    state.speech_run = 0;
    if (!state.noise_spectrum_known) {
        state.noise_lsf = f.lsf;
        state.noise_zero_crossings = f.zero_crossings;
        state.noise_spectrum_known = true;
    } else {
        const double d = spectral_distance(f.lsf, state.noise_lsf);
        const double z = std::fabs(f.zero_crossings - state.noise_zero_crossings);
        state.noise_spectral_spread += kNoiseSpectrumStep * (d - state.noise_spectral_spread);
        state.noise_crossing_spread += kNoiseSpectrumStep * (z - state.noise_crossing_spread);
        for (int i = 0; i < kOrder; ++i) state.noise_lsf[i] += kNoiseSpectrumStep * (f.lsf[i] - state.noise_lsf[i]);
        state.noise_zero_crossings += kNoiseSpectrumStep * (f.zero_crossings - state.noise_zero_crossings);
    }
    // The fading end of a word held as speech is not noise to learn from.
    if (!held) {
        state.frames_since_noise = 0;
        learn_fluctuation(state, low_rise, high_rise);
    }
    if (held) {
        --state.hangover;
        return true;
    }
    return false;
}

} // namespace g729
