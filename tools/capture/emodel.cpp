#include "tools/capture/emodel.h"

#include <algorithm>
#include <cmath>

namespace g729::tool {

double rating_to_mos(double r) {
    if (r <= 0.0) return 1.0;
    if (r >= 100.0) return 4.5;
    return 1.0 + 0.035 * r + r * (r - 60.0) * (100.0 - r) * 7e-6;
}

// Delays up to 100 ms cost nothing; beyond, the impairment grows with the
// doubling of the delay and approaches 25 per doubling.
double delay_impairment(double one_way_delay_ms) {
    if (!(one_way_delay_ms > 100.0)) return 0.0;
    const double x = std::log(one_way_delay_ms / 100.0) / std::log(2.0);
    return 25.0 * (std::pow(1.0 + std::pow(x, 6.0), 1.0 / 6.0) - 3.0 * std::pow(1.0 + std::pow(x / 3.0, 6.0), 1.0 / 6.0) +
                   2.0);
}

double burst_ratio(double loss_fraction, double mean_burst_length) {
    if (!(loss_fraction > 0.0) || !(mean_burst_length > 0.0) || loss_fraction >= 1.0) return 1.0;
    // A random loss of rate p has bursts of mean length 1 / (1 - p).
    return std::max(1.0, mean_burst_length * (1.0 - loss_fraction));
}

emodel_result estimate_quality(const emodel_input& input) {
    emodel_result out;
    const double loss = std::clamp(input.loss_percent, 0.0, 100.0);
    const double burst = std::max(1.0, input.burst_ratio);
    out.delay_impairment = delay_impairment(input.one_way_delay_ms);
    out.equipment_impairment = kG729aEquipmentImpairment + (95.0 - kG729aEquipmentImpairment) * loss /
                                                               (loss / burst + kG729aLossRobustness);
    // The rating's range is 0 to 100: impairments beyond what makes a call
    // useless do not make it less than useless.
    out.r = std::clamp(kDefaultRating - out.delay_impairment - out.equipment_impairment, 0.0, 100.0);
    out.mos = rating_to_mos(out.r);
    return out;
}

} // namespace g729::tool
