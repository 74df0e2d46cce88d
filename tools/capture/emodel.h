// A listening-quality estimate from network figures: the E-model's
// transmission rating R and the MOS it maps to, for G.729 Annex A with the
// loss, delay and packetization that a stream analysis measured. It
// estimates what a typical listener would rate from the network's figures
// alone; it does not listen to the audio.
#pragma once

namespace g729::tool {

struct emodel_input {
    double one_way_delay_ms = 0.0; // mouth to ear: packetization, network, jitter buffer, codec
    double loss_percent = 0.0;     // packets lost or discarded late, 0-100
    double burst_ratio = 1.0;      // 1 for random loss, above 1 for bursty loss
};

struct emodel_result {
    double delay_impairment = 0.0;     // Id
    double equipment_impairment = 0.0; // Ie,eff
    double r = 0.0;                    // transmission rating
    double mos = 0.0;                  // conversational quality estimate, 1 to 4.5
};

// The codec's own impairment and its robustness to random packet loss.
constexpr double kG729aEquipmentImpairment = 11.0;
constexpr double kG729aLossRobustness = 19.0;
// R with every other parameter at its default value and no delay or loss.
constexpr double kDefaultRating = 93.2;

emodel_result estimate_quality(const emodel_input& input);

// R to the estimated mean opinion score.
double rating_to_mos(double r);

// The burst ratio of a loss pattern seen as a two-state Markov chain: the
// mean length of the observed loss bursts over the mean length a random
// loss of the same rate would give. 1 when there is no loss.
double burst_ratio(double loss_fraction, double mean_burst_length);

// The delay impairment of a one-way delay with echo perfectly controlled.
double delay_impairment(double one_way_delay_ms);

} // namespace g729::tool
