// Silence suppression measured: speech with pauses built from the bundled
// recordings, clean and under babble, car and white noise at 20 and 10 dB
// SNR, coded with and without suppression. Prints, per condition, the share
// of frames sent as speech, as SID and not at all; the detector's misses
// against a ground truth from the clean speech's level; clipped word onsets;
// the decoded speech with suppression against without; and the comfort
// noise against the real background in the pauses. Then times the encoder
// with suppression on and off.
//
// Ground truth: a frame (on the encoder's grid, its 80 coded samples) is
// active when the clean speech's level there is at most 40 dB under the
// loudest frames (the 99th percentile of frame levels). A talk spurt starts
// at an active frame after at least 100 ms of inactive ones; its onset is
// clipped when the first frame of the spurt within 25 dB of the loudest is
// not sent as speech, or any active frame before it in the spurt is missed
// by more than one frame.
//
// Measures of the decoded signal (frame = 80 output samples):
// - level-envelope distance: mean over active frames of the absolute
//   difference of frame levels (10 log10 mean square), dB;
// - log-spectral distance: over the same frames, Hann-windowed, the RMS over
//   the 40 bins (100 ... 4000 Hz) of the difference of the power spectra in
//   dB (each floored at 0 dB), averaged over the frames;
// - comfort noise: the level difference and the RMS difference of the
//   long-term power spectra (dB, 40 bins) between the decoded output with
//   suppression and, over the frames not sent as speech, first the output
//   without suppression (the background as the codec carries it, past its
//   140 Hz high-pass), then the noise that was added to the speech.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <speex/speex.h>

#include "audio/frame_measures.h"
#include "g729a.h"

namespace {

constexpr int kFrame = G729A_FRAME_SAMPLES;
constexpr int kDelay = 40; // the encoder's look-ahead
constexpr int kBins = kFrame / 2;

std::vector<int16_t> read_raw(const std::string& name) {
    std::ifstream in(std::string(G729A_TEST_DATA) + "/vectors/" + name, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<int16_t> samples(bytes.size() / 2);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = int16_t(uint16_t(uint8_t(bytes[2 * i])) | uint16_t(uint8_t(bytes[2 * i + 1])) << 8);
    return samples;
}

using audio::level_db;

// A mean square against full scale (RMS 10 is -70 dBFS).
double dbfs(double mean_square) { return 10.0 * std::log10(mean_square / (32768.0 * 32768.0) + 1e-12); }

double mean_power(const double* x, int n) {
    double s = 0.0;
    for (int i = 0; i < n; ++i) s += x[i] * x[i];
    return s / n;
}

// Mean squares of 80-sample frames of x starting at offset (negative reads
// are zeros).
std::vector<double> frame_mean_squares(const std::vector<double>& x, int offset) {
    std::vector<double> squares(x.size() / kFrame);
    for (size_t f = 0; f < squares.size(); ++f) {
        double s = 0.0;
        for (int n = 0; n < kFrame; ++n) {
            const long i = long(f) * kFrame + n + offset;
            if (i >= 0 && size_t(i) < x.size()) s += x[size_t(i)] * x[size_t(i)];
        }
        squares[f] = s / kFrame;
    }
    return squares;
}

// Their levels in dB.
std::vector<double> frame_levels(const std::vector<double>& x, int offset) {
    std::vector<double> levels = frame_mean_squares(x, offset);
    for (double& l : levels) l = level_db(l);
    return levels;
}

// Utterances of the bundled recordings, cut at their quietest frames near
// every 1.5 s, with pauses of 0.4 to 1.3 s between them.
std::vector<double> speech_with_pauses() {
    const char* files[] = {"speech_male_librivox.raw", "speech_female_espeak.raw", "speech_male_espeak.raw"};
    const int pauses[] = {400, 700, 1000, 1300};
    std::vector<double> out(8000, 0.0);
    int p = 0;
    for (const char* name : files) {
        const std::vector<int16_t> s = read_raw(name);
        std::vector<double> x(s.begin(), s.end());
        const std::vector<double> levels = frame_levels(x, 0);
        size_t start = 0;
        while (start < levels.size()) {
            size_t end = std::min(levels.size(), start + 150);
            if (end < levels.size()) {
                size_t best = end;
                for (size_t f = end - 30; f < std::min(levels.size(), end + 30); ++f)
                    if (levels[f] < levels[best]) best = f;
                end = best;
            }
            out.insert(out.end(), x.begin() + long(start * kFrame), x.begin() + long(end * kFrame));
            out.insert(out.end(), size_t(pauses[p++ % 4]) * 8, 0.0);
            start = end;
        }
    }
    return out;
}

uint32_t next_random(uint32_t& state) {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
}
double uniform(uint32_t& state) { return double(next_random(state)) / double(1u << 24) - 0.5; }

std::vector<double> white_noise(size_t n, uint32_t seed) {
    std::vector<double> v(n);
    for (double& x : v) x = uniform(seed) + uniform(seed) + uniform(seed) + uniform(seed);
    return v;
}

// Brown noise (leaky integration) through a one-pole low-pass at about
// 150 Hz: the rumble of a car.
std::vector<double> car_noise(size_t n) {
    std::vector<double> w = white_noise(n, 7);
    double brown = 0.0, low = 0.0;
    for (double& x : w) {
        brown = 0.995 * brown + x;
        low = 0.89 * low + 0.11 * brown;
        x = low;
    }
    return w;
}

// Six talkers: the recordings back to back without pauses, shifted by 0.0,
// 1.7, 3.9, 6.1, 8.3 and 10.9 s and summed.
std::vector<double> babble(size_t n) {
    std::vector<double> talk;
    for (const char* name : {"speech_male_librivox.raw", "speech_female_espeak.raw", "speech_male_espeak.raw"}) {
        const std::vector<int16_t> s = read_raw(name);
        talk.insert(talk.end(), s.begin(), s.end());
    }
    std::vector<double> b(n, 0.0);
    for (double shift : {0.0, 1.7, 3.9, 6.1, 8.3, 10.9}) {
        const size_t d = size_t(shift * 8000);
        for (size_t i = 0; i < b.size(); ++i) b[i] += talk[(i + d) % talk.size()];
    }
    return b;
}

struct ground_truth {
    std::vector<bool> active;       // per coded frame
    std::vector<size_t> onsets;     // first frame of each talk spurt
    std::vector<size_t> word_start; // first loud frame of each spurt
    std::vector<size_t> word_ends;  // the active frames among the last 10 of each spurt
    std::vector<bool> in_pause;     // inactive frames of a pause of at least 100 ms
};

// Frame k holds input samples 80k - delay ... 80k - delay + 79 (our coded
// frames lag the input by the look-ahead, Speex's do not).
ground_truth truth_of(const std::vector<double>& clean, int delay = kDelay) {
    const std::vector<double> levels = frame_levels(clean, -delay);
    std::vector<double> sorted = levels;
    std::sort(sorted.begin(), sorted.end());
    const double peak = sorted[sorted.size() * 99 / 100];
    ground_truth t;
    t.active.resize(levels.size());
    int quiet = 100;
    for (size_t f = 0; f < levels.size(); ++f) {
        t.active[f] = levels[f] > peak - 40.0;
        if (t.active[f] && quiet >= 10) {
            t.onsets.push_back(f);
            size_t w = f;
            while (w < levels.size() && levels[w] < peak - 25.0) ++w;
            t.word_start.push_back(w);
        }
        quiet = t.active[f] ? 0 : quiet + 1;
    }
    // Pauses and spurt ends: runs of at least 10 inactive frames.
    t.in_pause.assign(levels.size(), false);
    for (size_t f = 0; f < levels.size();) {
        if (t.active[f]) {
            ++f;
            continue;
        }
        size_t end = f;
        while (end < levels.size() && !t.active[end]) ++end;
        if (end - f >= 10 || end == levels.size()) {
            for (size_t k = f; k < end; ++k) t.in_pause[k] = true;
            for (size_t k = f >= 10 ? f - 10 : 0; k < f; ++k)
                if (t.active[k]) t.word_ends.push_back(k);
        }
        f = end;
    }
    // A pause ends one frame before its spurt: an encoder decides on its
    // look-ahead too (ours 5 ms, Speex's 10 ms), so the frame whose
    // look-ahead holds the spurt's first sound may rightly go out as
    // speech. That is the onset seen early, not a change inside the pause.
    for (size_t f : t.onsets)
        if (f > 0) t.in_pause[f - 1] = false;
    return t;
}

double active_power(const std::vector<double>& clean, const ground_truth& t) {
    double s = 0.0;
    size_t n = 0;
    for (size_t f = 0; f < t.active.size(); ++f) {
        if (!t.active[f]) continue;
        for (int i = 0; i < kFrame; ++i) {
            const long k = long(f) * kFrame + i - kDelay;
            if (k >= 0 && size_t(k) < clean.size()) s += clean[size_t(k)] * clean[size_t(k)];
        }
        n += kFrame;
    }
    return s / double(n);
}

std::vector<int16_t> to_pcm(const std::vector<double>& x) {
    std::vector<int16_t> out(x.size() / kFrame * kFrame);
    for (size_t i = 0; i < out.size(); ++i) out[i] = int16_t(std::lround(std::clamp(x[i], -32768.0, 32767.0)));
    return out;
}

struct coded {
    std::vector<int> lengths; // 10, 2 or 0 per frame
    std::vector<int16_t> decoded;
};

coded code_and_decode(const std::vector<int16_t>& pcm, bool dtx) {
    coded c;
    g729a_encoder* enc = g729a_encoder_create(nullptr);
    g729a_decoder* dec = g729a_decoder_create(nullptr);
    g729a_encoder_set_dtx(enc, dtx ? 1 : 0);
    c.decoded.resize(pcm.size());
    uint8_t frame[G729A_SPEECH_FRAME_BYTES];
    for (size_t f = 0; f < pcm.size() / kFrame; ++f) {
        const int n = g729a_encode(enc, &pcm[f * kFrame], kFrame, frame, sizeof frame);
        c.lengths.push_back(n);
        g729a_decode(dec, n > 0 ? frame : nullptr, size_t(n), &c.decoded[f * kFrame], kFrame);
    }
    g729a_decoder_destroy(dec);
    g729a_encoder_destroy(enc);
    return c;
}

struct quality {
    double envelope = 0.0, spectral = 0.0;
};

// The comfort noise against the background as it sounds without
// suppression: the same frames of the decoded stream coded all as speech.
quality comfort_noise_match(const std::vector<double>& background, int delay, const coded& c,
                            const audio::frame_spectrum& spectrum) {
    std::array<double, kBins + 1> real{}, made{}, r_power{}, x_power{};
    double real_ms = 0.0, made_ms = 0.0;
    int counted = 0;
    for (size_t f = 1; f < c.lengths.size(); ++f) {
        if (c.lengths[f] == G729A_SPEECH_FRAME_BYTES) continue;
        int16_t r[kFrame];
        for (int n = 0; n < kFrame; ++n)
            r[n] = int16_t(std::lround(std::clamp(background[f * kFrame + size_t(n) - size_t(delay)], -32768.0, 32767.0)));
        const int16_t* x = &c.decoded[f * kFrame];
        real_ms += audio::mean_square(r, kFrame);
        made_ms += audio::mean_square(x, kFrame);
        spectrum.power(r, r_power);
        spectrum.power(x, x_power);
        for (int k = 1; k <= kBins; ++k) {
            real[k] += r_power[k];
            made[k] += x_power[k];
        }
        ++counted;
    }
    quality q;
    if (counted == 0) return q;
    q.envelope = level_db(made_ms / counted) - level_db(real_ms / counted);
    double sum = 0.0;
    for (int k = 1; k <= kBins; ++k) {
        const double d = level_db(made[k] / counted) - level_db(real[k] / counted);
        sum += d * d;
    }
    q.spectral = std::sqrt(sum / kBins);
    return q;
}

std::vector<double> mix(const std::vector<double>& clean, const std::vector<double>& noise, double snr_db,
                        const ground_truth& t, std::vector<double>* added = nullptr) {
    std::vector<double> mixed = clean;
    if (added) added->assign(clean.size(), 0.0);
    if (noise.empty()) return mixed;
    const double gain = std::sqrt(active_power(clean, t) / std::pow(10.0, snr_db / 10.0) /
                                  mean_power(noise.data(), int(noise.size())));
    for (size_t i = 0; i < mixed.size(); ++i) {
        mixed[i] += gain * noise[i];
        if (added) (*added)[i] = gain * noise[i];
    }
    return mixed;
}

void measure(const char* name, const std::vector<double>& clean, const std::vector<double>& noise, double snr_db,
             const ground_truth& t, const audio::frame_spectrum& spectrum) {
    std::vector<double> added;
    const std::vector<int16_t> pcm = to_pcm(mix(clean, noise, snr_db, t, &added));
    const coded with = code_and_decode(pcm, true);
    const coded without = code_and_decode(pcm, false);

    size_t speech = 0, sid = 0, none = 0, active = 0, missed = 0;
    for (size_t f = 0; f < with.lengths.size(); ++f) {
        const int n = with.lengths[f];
        speech += n == G729A_SPEECH_FRAME_BYTES;
        sid += n == G729A_SID_FRAME_BYTES;
        none += n == 0;
        if (f < t.active.size() && t.active[f]) {
            ++active;
            missed += n != G729A_SPEECH_FRAME_BYTES;
        }
    }
    int clipped = 0;
    for (size_t s = 0; s < t.onsets.size(); ++s) {
        bool cut = false;
        for (size_t f = t.onsets[s]; f <= t.word_start[s] && f < with.lengths.size(); ++f) {
            if (with.lengths[f] == G729A_SPEECH_FRAME_BYTES) continue;
            // One frame late at the very start of a soft onset is allowed.
            if (f == t.word_start[s] || f > t.onsets[s]) cut = true;
        }
        clipped += cut;
    }
    const double frames = double(with.lengths.size());
    quality q;
    q.envelope = audio::level_envelope_distance(without.decoded, with.decoded, t.active);
    q.spectral = audio::log_spectral_distance(without.decoded, with.decoded, t.active);
    std::printf("%-12s %5.1f%% %5.1f%% %5.1f%% | %5.2f%% (%zu of %zu) | %2d of %zu | %5.2f %5.2f", name,
                100.0 * speech / frames, 100.0 * sid / frames, 100.0 * none / frames, 100.0 * missed / active,
                missed, active, clipped, t.onsets.size(), q.envelope, q.spectral);
    if (noise.empty()) {
        // Over digital silence there is no background to match: how loud
        // the comfort noise plays, on average and at its loudest 40 ms.
        double sum = 0.0, loudest = 0.0;
        size_t counted = 0;
        for (size_t f = 0; f + 4 <= with.lengths.size(); ++f) {
            bool pause = true;
            for (size_t k = f; k < f + 4; ++k) pause = pause && with.lengths[k] != G729A_SPEECH_FRAME_BYTES;
            if (!pause) continue;
            const double ms = audio::mean_square(&with.decoded[f * kFrame], 4 * kFrame);
            sum += audio::mean_square(&with.decoded[f * kFrame], kFrame);
            loudest = std::max(loudest, ms);
            ++counted;
        }
        std::printf(" | digital silence: comfort noise %.0f dBFS, loudest 40 ms %.0f dBFS\n",
                    dbfs(counted ? sum / double(counted) : 0.0), dbfs(loudest));
    } else {
        const std::vector<double> decoded(without.decoded.begin(), without.decoded.end());
        const quality coded_noise = comfort_noise_match(decoded, 0, with, spectrum);
        const quality real_noise = comfort_noise_match(added, kDelay, with, spectrum);
        std::printf(" | %+5.2f %5.2f | %+5.2f %5.2f\n", coded_noise.envelope, coded_noise.spectral,
                    real_noise.envelope, real_noise.spectral);
    }
}

// One side of the comparison with Speex: per 10 ms frame whether it went
// out as speech, and the decoded output.
struct suppression_run {
    std::vector<bool> speech;
    std::vector<int16_t> decoded;
};

suppression_run our_run(const coded& c) {
    suppression_run r;
    for (int n : c.lengths) r.speech.push_back(n == G729A_SPEECH_FRAME_BYTES);
    r.decoded = c.decoded;
    return r;
}

// Speex narrowband (quality 8) with its VAD and DTX, 20 ms frames. A frame
// counts as speech when it goes out in a speech mode; the noise frames
// (mode 1, Speex's description of the background) and the frames DTX holds
// back are not. The decoder gets every frame that went out and NULL for the
// others, as a receiver does.
suppression_run speex_run(const std::vector<int16_t>& pcm) {
    void* enc = speex_encoder_init(&speex_nb_mode);
    void* dec = speex_decoder_init(&speex_nb_mode);
    spx_int32_t on = 1, quality = 8, frame = 0;
    speex_encoder_ctl(enc, SPEEX_SET_QUALITY, &quality);
    speex_encoder_ctl(enc, SPEEX_SET_VAD, &on);
    speex_encoder_ctl(enc, SPEEX_SET_DTX, &on);
    speex_encoder_ctl(enc, SPEEX_GET_FRAME_SIZE, &frame);
    SpeexBits bits, received;
    speex_bits_init(&bits);
    speex_bits_init(&received);
    suppression_run r;
    r.decoded.assign(pcm.size() / size_t(frame) * size_t(frame), 0);
    std::vector<spx_int16_t> in(static_cast<size_t>(frame));
    char bytes[200];
    for (size_t f = 0; f + size_t(frame) <= pcm.size(); f += size_t(frame)) {
        std::copy(pcm.begin() + long(f), pcm.begin() + long(f) + frame, in.begin());
        speex_bits_reset(&bits);
        const bool sent = speex_encode_int(enc, in.data(), &bits) != 0;
        bool speech = false;
        if (sent) {
            const int n = speex_bits_write(&bits, bytes, sizeof bytes);
            speex_bits_read_from(&received, bytes, n);
            speech = speex_bits_peek_unsigned(&received, 5) > 1; // wideband flag, then the mode
            speex_decode_int(dec, &received, &r.decoded[f]);
        } else {
            speex_decode_int(dec, nullptr, &r.decoded[f]);
        }
        for (int k = 0; k < frame / kFrame; ++k) r.speech.push_back(speech);
    }
    speex_bits_destroy(&bits);
    speex_bits_destroy(&received);
    speex_decoder_destroy(dec);
    speex_encoder_destroy(enc);
    return r;
}

struct suppression_figures {
    double saved = 0.0;           // % of frames not sent as speech
    double clipped = 0.0;         // % of active frames not sent as speech
    double word_ends = 0.0;       // % of word-end frames not sent as speech
    int onsets = 0;               // onsets clipped
    double step = 0.0;            // median background step at hand-overs, dB
    int hand_overs = 0;           // hand-overs measured
    double changes = 0.0;         // decision changes per minute of pause
};

// The hand-over step: where speech frames give way to comfort noise with the
// clean speech inactive for 40 ms on both sides, the decoded level of the 4
// frames after against the 4 frames before (median over the hand-overs where
// either side is audible; "n/a" where none is). It is a step of the
// background, so it is taken only where the input has one: where the noise
// added to the speech is audible over those 8 frames. Over digital silence
// the frames before a hand-over hold only the fading tail of a word (under
// the ground truth's 40 dB, still decaying), and the comfort noise after it
// would be compared with that decay, not with a background level.
// background: the added noise's mean square per frame, on the run's grid.
suppression_figures figures_of(const suppression_run& r, const ground_truth& t,
                               const std::vector<double>& background) {
    suppression_figures g;
    const size_t n = std::min(r.speech.size(), t.active.size());
    size_t not_speech = 0, active = 0, missed = 0, ends_missed = 0, pause_frames = 0, changes = 0;
    for (size_t f = 0; f < n; ++f) {
        not_speech += !r.speech[f];
        if (t.active[f]) {
            ++active;
            missed += !r.speech[f];
        }
        if (t.in_pause[f]) {
            ++pause_frames;
            if (f > 0 && t.in_pause[f - 1] && r.speech[f] != r.speech[f - 1]) ++changes;
        }
    }
    for (size_t f : t.word_ends) ends_missed += f < n && !r.speech[f];
    for (size_t s = 0; s < t.onsets.size(); ++s) {
        bool cut = false;
        for (size_t f = t.onsets[s]; f <= t.word_start[s] && f < n; ++f)
            if (!r.speech[f] && (f == t.word_start[s] || f > t.onsets[s])) cut = true;
        g.onsets += cut;
    }
    std::vector<double> steps;
    constexpr size_t kSide = 4;
    constexpr double kInaudible = 100.0;
    for (size_t f = kSide; f + kSide <= n; ++f) {
        if (!r.speech[f - 1] || r.speech[f]) continue;
        bool quiet = true;
        for (size_t k = f - kSide; k < f + kSide; ++k)
            quiet = quiet && !t.active[k] && r.speech[k] == (k < f);
        if (!quiet) continue;
        double noise = 0.0;
        for (size_t k = f - kSide; k < f + kSide; ++k) noise += k < background.size() ? background[k] : 0.0;
        if (noise / double(2 * kSide) < kInaudible) continue;
        const double before = audio::mean_square(&r.decoded[(f - kSide) * kFrame], int(kSide) * kFrame);
        const double after = audio::mean_square(&r.decoded[f * kFrame], int(kSide) * kFrame);
        // Under RMS 10 (-70 dBFS) on both sides nothing steps audibly.
        if (before < kInaudible && after < kInaudible) continue;
        steps.push_back(level_db(after) - level_db(before));
    }
    if (!steps.empty()) {
        std::sort(steps.begin(), steps.end());
        g.step = steps.size() % 2 ? steps[steps.size() / 2]
                                  : 0.5 * (steps[steps.size() / 2 - 1] + steps[steps.size() / 2]);
    }
    g.hand_overs = int(steps.size());
    g.saved = 100.0 * double(not_speech) / double(n);
    g.clipped = active ? 100.0 * double(missed) / double(active) : 0.0;
    g.word_ends = t.word_ends.empty() ? 0.0 : 100.0 * double(ends_missed) / double(t.word_ends.size());
    g.changes = pause_frames ? double(changes) / (double(pause_frames) / 6000.0) : 0.0;
    return g;
}

void compare_with_speex(const char* name, const std::vector<double>& clean, const std::vector<double>& noise,
                        double snr_db, const ground_truth& ours_truth, const ground_truth& speex_truth) {
    std::vector<double> added;
    const std::vector<int16_t> pcm = to_pcm(mix(clean, noise, snr_db, ours_truth, &added));
    const suppression_figures a = figures_of(our_run(code_and_decode(pcm, true)), ours_truth,
                                             frame_mean_squares(added, -kDelay));
    const suppression_figures b = figures_of(speex_run(pcm), speex_truth, frame_mean_squares(added, 0));
    char steps[2][16];
    const suppression_figures* both[2] = {&a, &b};
    for (int k = 0; k < 2; ++k) {
        if (both[k]->hand_overs > 0) {
            std::snprintf(steps[k], sizeof steps[k], "%+5.1f", both[k]->step);
        } else {
            std::snprintf(steps[k], sizeof steps[k], "  n/a");
        }
    }
    std::printf("%-13s %5.1f / %5.1f | %5.1f / %5.1f | %5.1f / %5.1f | %2d / %2d | %s / %s (%2d/%2d) | %4.0f / %4.0f\n",
                name, a.saved, b.saved, a.clipped, b.clipped, a.word_ends, b.word_ends, a.onsets, b.onsets, steps[0],
                steps[1], a.hand_overs, b.hand_overs, a.changes, b.changes);
}

void print_figures() {
    const std::vector<double> clean = speech_with_pauses();
    const ground_truth t = truth_of(clean);
    const audio::frame_spectrum spectrum;
    std::printf("Silence suppression on %.1f s of speech with pauses (%zu talk spurts)\n", clean.size() / 8000.0,
                t.onsets.size());
    std::printf("%-12s %6s %6s %6s | %-20s | %-10s | %-11s | %s\n", "condition", "speech", "SID", "none",
                "missed active frames", "clipped", "env.  LSD", "comfort noise vs coded | vs input noise (dB)");
    measure("clean", clean, {}, 0.0, t, spectrum);
    const std::vector<double> kinds[] = {babble(clean.size()), car_noise(clean.size()), white_noise(clean.size(), 3)};
    const char* names[] = {"babble", "car", "white"};
    for (int k = 0; k < 3; ++k) {
        for (double snr : {20.0, 10.0}) {
            char label[32];
            std::snprintf(label, sizeof label, "%s %.0f dB", names[k], snr);
            measure(label, clean, kinds[k], snr, t, spectrum);
        }
    }

    const ground_truth speex_truth = truth_of(clean, 0);
    std::printf("\nBeside Speex (narrowband, quality 8, VAD and DTX): ours / Speex. %zu onsets, %zu word-end frames\n",
                t.onsets.size(), t.word_ends.size());
    std::printf("%-13s %-13s | %-13s | %-13s | %-7s | %-21s | %s\n", "input", "saved %", "clipped %",
                "word ends %", "onsets", "hand-over step dB (n)", "changes/min of pause");
    compare_with_speex("clean", clean, {}, 0.0, t, speex_truth);
    for (int k = 2; k >= 0; --k) {
        for (double snr : {20.0, 10.0}) {
            char label[32];
            std::snprintf(label, sizeof label, "%s %.0f dB", names[k], snr);
            compare_with_speex(label, clean, kinds[k], snr, t, speex_truth);
        }
    }
}

void encode_speech_with_pauses(benchmark::State& state) {
    const std::vector<int16_t> pcm = to_pcm(speech_with_pauses());
    g729a_encoder* enc = g729a_encoder_create(nullptr);
    g729a_encoder_set_dtx(enc, int(state.range(0)));
    uint8_t frame[G729A_SPEECH_FRAME_BYTES];
    size_t f = 0;
    const size_t frames = pcm.size() / kFrame;
    for (auto _ : state) {
        benchmark::DoNotOptimize(g729a_encode(enc, &pcm[f * kFrame], kFrame, frame, sizeof frame));
        f = f + 1 < frames ? f + 1 : 0;
    }
    state.SetLabel(state.range(0) != 0 ? "silence suppression on" : "off");
    g729a_encoder_destroy(enc);
}
BENCHMARK(encode_speech_with_pauses)->Arg(0)->Arg(1);

} // namespace

int main(int argc, char** argv) {
    print_figures();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
