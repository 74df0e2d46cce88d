// Measures how the decoder's concealment of lost packets compares with the
// loss-free decode, beside Opus's own concealment fed the same loss patterns.
// Not a timed benchmark: it prints figures.
//
// Each bundled speech clip is coded by our encoder (10 ms frames, two to a
// 20 ms packet) and by Opus (8 kbit/s, narrowband, 20 ms frames). Every
// condition (random loss of 3, 5, 10 and 20% of the packets; bursty loss of
// 5 and 10% from a two-state Gilbert model whose bursts last 3 packets on
// average) draws several seeded patterns per clip, and both codecs lose the
// same packets. Each codec's lossy decode is compared with its own loss-free
// decode:
// - level-envelope and log-spectral distance (audio/loss_measures.h), the
//   mean over the patterns and clips;
// - recovery profile: the level of the lossy decode minus the loss-free
//   decode, per 10 ms frame at offsets -1 (the last concealed frame), 0 (the
//   first frame received after a loss), 2, 4 and 7; median over every loss
//   whose frame is active speech in the loss-free decode and comes before
//   the next loss;
// - spectral recovery profile: the log-spectral distance of each of the
//   first eight 10 ms frames received after a loss (frame 1 is the first),
//   the mean over every loss whose frame is active speech in the loss-free
//   decode and comes before the next loss, and over frames 1-4 together;
//   beside it the same distance over the concealed frames themselves;
// - bursts: the share of losses in which a concealed frame is more than 6 dB
//   above the last good frame (both levels floored at the -50 dBFS of
//   active speech, so that noise under a silence does not count), and the
//   largest such excess.
// "silence" is our decoder never told of the losses, with silence in their
// place: what a receiver without concealment plays.
#include <opus/opus.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "audio/loss_measures.h"
#include "g729a.h"

namespace {

constexpr int kFrame = G729A_FRAME_SAMPLES;

constexpr int kFramesPerPacket = 2;
constexpr int kPacket = kFramesPerPacket * kFrame; // 20 ms
constexpr int kOpusBitrate = 8000;
constexpr double kMeanBurstPackets = 3.0;
constexpr double kBurstExcessDb = 6.0;
constexpr int kProfileOffsets[] = {-1, 0, 2, 4, 7};
constexpr int kOffsets = int(std::size(kProfileOffsets));
constexpr int kSpectralFrames = 8;
constexpr int kFirstFrames = 4; // the hand-over: 40 ms, two packets

struct condition {
    const char* name;
    double loss;
    bool bursty;
};

constexpr condition kConditions[] = {
    {"random 3%", 0.03, false}, {"random 5%", 0.05, false},  {"random 10%", 0.10, false},
    {"random 20%", 0.20, false}, {"bursty 5%", 0.05, true}, {"bursty 10%", 0.10, true},
};

const char* const kClips[] = {"speech_male_librivox.raw", "speech_male_espeak.raw", "speech_female_espeak.raw"};

std::vector<int16_t> read_clip(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "concealment_bench: cannot open %s\n", path.c_str());
        std::exit(1);
    }
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<int16_t> samples(bytes.size() / 2 / kPacket * kPacket);
    std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
    return samples;
}

// Lost packets: independent draws, or the two-state model whose bad state
// loses every packet and is left with probability 1/3 per packet.
std::vector<bool> loss_pattern(size_t packets, const condition& c, uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    std::vector<bool> lost(packets, false);
    const double leave_bad = 1.0 / kMeanBurstPackets;
    const double enter_bad = c.loss * leave_bad / (1.0 - c.loss);
    bool bad = false;
    // The first packet always arrives: there is nothing to conceal from yet.
    for (size_t p = 1; p < packets; ++p) {
        if (c.bursty) {
            bad = bad ? uniform(rng) >= leave_bad : uniform(rng) < enter_bad;
            lost[p] = bad;
        } else {
            lost[p] = uniform(rng) < c.loss;
        }
    }
    return lost;
}

// One codec's packets and decoder, behind the calls the measurement needs.
class codec {
public:
    virtual ~codec() = default;
    virtual const char* name() const = 0;
    // Decodes the whole stream; lost[p] marks packet p as missing.
    virtual std::vector<int16_t> decode(const std::vector<bool>& lost) = 0;
};

class ours : public codec {
public:
    ours(const std::vector<int16_t>& clip, bool conceal) : conceal_(conceal) {
        int error = 0;
        g729a_encoder* encoder = g729a_encoder_create(&error);
        frames_.resize(clip.size() / kFrame * G729A_SPEECH_FRAME_BYTES);
        for (size_t f = 0; f < clip.size() / kFrame; ++f) {
            g729a_encode(encoder, &clip[f * kFrame], kFrame, &frames_[f * G729A_SPEECH_FRAME_BYTES],
                         G729A_SPEECH_FRAME_BYTES);
        }
        g729a_encoder_destroy(encoder);
    }
    const char* name() const override { return conceal_ ? "ours" : "silence"; }
    std::vector<int16_t> decode(const std::vector<bool>& lost) override {
        const size_t frames = frames_.size() / G729A_SPEECH_FRAME_BYTES;
        std::vector<int16_t> out(frames * kFrame, 0);
        int error = 0;
        g729a_decoder* decoder = g729a_decoder_create(&error);
        for (size_t f = 0; f < frames; ++f) {
            int16_t* pcm = &out[f * kFrame];
            if (!lost.empty() && lost[f / kFramesPerPacket]) {
                if (conceal_) g729a_decode(decoder, nullptr, 0, pcm, kFrame);
            } else {
                g729a_decode(decoder, &frames_[f * G729A_SPEECH_FRAME_BYTES], G729A_SPEECH_FRAME_BYTES, pcm,
                             kFrame);
            }
        }
        g729a_decoder_destroy(decoder);
        return out;
    }

private:
    bool conceal_;
    std::vector<uint8_t> frames_;
};

class opus : public codec {
public:
    explicit opus(const std::vector<int16_t>& clip) {
        int error = 0;
        OpusEncoder* encoder = opus_encoder_create(G729A_SAMPLE_RATE, 1, OPUS_APPLICATION_VOIP, &error);
        opus_encoder_ctl(encoder, OPUS_SET_BITRATE(kOpusBitrate));
        opus_encoder_ctl(encoder, OPUS_SET_BANDWIDTH(OPUS_BANDWIDTH_NARROWBAND));
        for (size_t p = 0; p < clip.size() / kPacket; ++p) {
            unsigned char packet[1500];
            const int bytes = opus_encode(encoder, &clip[p * kPacket], kPacket, packet, sizeof packet);
            packets_.emplace_back(packet, packet + (bytes > 0 ? bytes : 0));
        }
        opus_encoder_destroy(encoder);
    }
    const char* name() const override { return "Opus"; }
    std::vector<int16_t> decode(const std::vector<bool>& lost) override {
        std::vector<int16_t> out(packets_.size() * kPacket, 0);
        int error = 0;
        OpusDecoder* decoder = opus_decoder_create(G729A_SAMPLE_RATE, 1, &error);
        for (size_t p = 0; p < packets_.size(); ++p) {
            int16_t* pcm = &out[p * kPacket];
            const bool missing = !lost.empty() && lost[p];
            const int samples = missing ? opus_decode(decoder, nullptr, 0, pcm, kPacket, 0)
                                        : opus_decode(decoder, packets_[p].data(),
                                                      opus_int32(packets_[p].size()), pcm, kPacket, 0);
            if (samples != kPacket) {
                std::fprintf(stderr, "concealment_bench: Opus decoded %d samples of a packet\n", samples);
                std::exit(1);
            }
        }
        opus_decoder_destroy(decoder);
        return out;
    }

private:
    std::vector<std::vector<unsigned char>> packets_;
};

// What one codec gathers over all patterns of one condition.
struct tally {
    double level_envelope = 0.0;
    double log_spectral = 0.0;
    int runs = 0;
    std::vector<double> profile[kOffsets];
    std::vector<double> spectral[kSpectralFrames];
    std::vector<double> concealed;
    int losses = 0;
    int bursts = 0;
    double worst_excess = -1e9;
};

void measure(const std::vector<int16_t>& clean, const std::vector<int16_t>& lossy, const std::vector<bool>& lost,
             tally& t) {
    t.level_envelope += audio::level_envelope_distance(clean, lossy);
    t.log_spectral += audio::log_spectral_distance(clean, lossy);
    ++t.runs;

    std::vector<bool> lost_frames(lost.size() * kFramesPerPacket);
    for (size_t f = 0; f < lost_frames.size(); ++f) lost_frames[f] = lost[f / kFramesPerPacket];
    const std::vector<audio::loss_span> losses = audio::loss_spans(lost_frames);
    for (const audio::loss_span& loss : losses) {
        const double excess = audio::concealed_excess(lossy, loss);
        t.worst_excess = std::max(t.worst_excess, excess);
        if (excess > kBurstExcessDb) ++t.bursts;
        ++t.losses;
    }
    for (int k = 0; k < kOffsets; ++k) audio::recovery_differences(clean, lossy, losses, kProfileOffsets[k], t.profile[k]);
    for (int k = 0; k < kSpectralFrames; ++k) audio::recovery_spectral_distances(clean, lossy, losses, k, t.spectral[k]);
    audio::concealed_spectral_distances(clean, lossy, losses, t.concealed);
}

// The mean log-spectral distance of frames 1 .. kFirstFrames after a loss,
// every such frame counted once.
double first_frames_distance(const tally& t) {
    std::vector<double> all;
    for (int k = 0; k < kFirstFrames; ++k) all.insert(all.end(), t.spectral[k].begin(), t.spectral[k].end());
    return audio::mean(all);
}

} // namespace

int main(int argc, char** argv) {
    int patterns = 20;
    const char* only = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--patterns") == 0 && i + 1 < argc) {
            patterns = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--condition") == 0 && i + 1 < argc) {
            only = argv[++i];
        } else {
            std::fprintf(stderr, "usage: %s [--patterns N] [--condition NAME]\n", argv[0]);
            return 2;
        }
    }
    if (patterns < 1) patterns = 1;

    constexpr int kCodecs = 3;
    std::vector<std::vector<int16_t>> clips;
    for (const char* clip : kClips) clips.push_back(read_clip(std::string(G729A_TEST_DATA) + "/vectors/" + clip));

    std::printf("Concealment of lost 20 ms packets: %zu clips, %d patterns per clip and condition.\n", clips.size(),
                patterns);
    std::printf("Distances in dB to each codec's own loss-free decode; profile: median level difference per\n"
                "10 ms frame from the first frame received after a loss; >6 dB: share of losses with a\n"
                "concealed frame more than 6 dB above the last good frame, and the largest excess.\n\n");
    std::printf("| condition | codec | level-envelope | log-spectral | frame -1 | frame 0 | frame 2 | frame 4 | "
                "frame 7 | >6 dB | largest |\n");
    std::printf("|---|---|---|---|---|---|---|---|---|---|---|\n");
    std::string recovery;
    for (size_t c = 0; c < std::size(kConditions); ++c) {
        const condition& cond = kConditions[c];
        if (only != nullptr && std::strcmp(only, cond.name) != 0) continue;
        tally tallies[kCodecs];
        const char* names[kCodecs] = {};
        for (size_t k = 0; k < clips.size(); ++k) {
            ours concealing(clips[k], true);
            ours silent(clips[k], false);
            opus other(clips[k]);
            codec* codecs[kCodecs] = {&concealing, &other, &silent};
            std::vector<int16_t> clean[kCodecs];
            for (int i = 0; i < kCodecs; ++i) {
                clean[i] = codecs[i]->decode({});
                names[i] = codecs[i]->name();
            }
            for (int n = 0; n < patterns; ++n) {
                const uint32_t seed = uint32_t(1000 * (c + 1) + 100 * k + n);
                const std::vector<bool> lost = loss_pattern(clips[k].size() / kPacket, cond, seed);
                for (int i = 0; i < kCodecs; ++i) measure(clean[i], codecs[i]->decode(lost), lost, tallies[i]);
            }
        }
        for (int i = 0; i < kCodecs; ++i) {
            const tally& t = tallies[i];
            std::printf("| %s | %s | %.2f | %.2f |", cond.name, names[i], t.level_envelope / t.runs,
                        t.log_spectral / t.runs);
            for (int k = 0; k < kOffsets; ++k) std::printf(" %+.1f |", audio::median(t.profile[k]));
            std::printf(" %.1f%% | %+.1f dB |\n", t.losses ? 100.0 * t.bursts / t.losses : 0.0, t.worst_excess);
            char line[256];
            int n = std::snprintf(line, sizeof line, "| %s | %s | %.2f | %.2f |", cond.name, names[i],
                                  audio::mean(t.concealed), first_frames_distance(t));
            for (int k = 0; k < kSpectralFrames; ++k) {
                n += std::snprintf(line + n, sizeof line - size_t(n), " %.2f |", audio::mean(t.spectral[k]));
            }
            recovery += line;
            recovery += "\n";
        }
    }
    std::printf("\nRecovery: log-spectral distance (dB) of the concealed frames, and of each 10 ms frame\n"
                "received after a loss, frame 1 the first; mean over the losses, and over frames 1-%d\n"
                "together.\n\n", kFirstFrames);
    std::printf("| condition | codec | concealed | frames 1-%d |", kFirstFrames);
    for (int k = 0; k < kSpectralFrames; ++k) std::printf(" frame %d |", k + 1);
    std::printf("\n|---|---|---|---|");
    for (int k = 0; k < kSpectralFrames; ++k) std::printf("---|");
    std::printf("\n%s", recovery.c_str());
    return 0;
}
