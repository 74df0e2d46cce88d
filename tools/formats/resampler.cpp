#include "tools/formats/resampler.h"

#include <cmath>

#include "tools/common/tool_error.h"

namespace g729::tool {

const soxr_functions& soxr() {
    static const soxr_functions functions(shared_library(G729A_LIBSOXR_SONAME, "G729A_LIBSOXR", "resampling"));
    return functions;
}

// A high-quality resampler of interleaved doubles; throws tool_error naming
// `name` when there is none.
soxr_t make_resampler(int from_rate, int to_rate, unsigned channels, const std::string& name) {
    const soxr_functions& x = soxr();
    soxr_error_t error = nullptr;
    const soxr_io_spec_t io = x.soxr_io_spec(SOXR_FLOAT64_I, SOXR_FLOAT64_I);
    const soxr_quality_spec_t quality = x.soxr_quality_spec(SOXR_HQ, 0);
    const soxr_t resampler = x.soxr_create(double(from_rate), double(to_rate), channels, &error, &io, &quality, nullptr);
    if (!resampler) throw tool_error(name, std::string("cannot resample: ") + soxr_strerror(error));
    return resampler;
}

int16_t to_sample(double x, std::size_t& clipped) {
    const double r = std::round(x);
    if (r > 32767.0) {
        ++clipped;
        return 32767;
    }
    if (r < -32768.0) {
        ++clipped;
        return -32768;
    }
    if (std::isnan(r)) return 0;
    return int16_t(r);
}

} // namespace g729::tool
