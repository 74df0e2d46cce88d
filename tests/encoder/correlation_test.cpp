#include "codec/encoder/correlation.h"

#include <gtest/gtest.h>

#include <cmath>

namespace g729 {
namespace {

// Side by side or one by one, every lag is the same sum to the last bit,
// whatever the block structure leaves over: short signals, partial blocks.
TEST(ShiftedCorrelations, EveryLagIsThePlainSum) {
    double a[240], b[240];
    for (int i = 0; i < 240; ++i) {
        a[i] = 1000.0 * std::sin(0.37 * i) + 1e-3 * i;
        b[i] = 700.0 * std::cos(0.11 * i * i) - 3.0;
    }
    const int shapes[][2] = {{240, 11}, {240, 13}, {40, 40}, {40, 1}, {9, 9}, {5, 3}, {1, 1}, {17, 16}};
    for (const auto& shape : shapes) {
        const int n = shape[0], count = shape[1];
        double out[240];
        out[count] = 12345.0; // nothing is stored past count
        shifted_correlations(a, b, n, count, out);
        for (int k = 0; k < count; ++k) {
            double want = 0.0;
            for (int i = 0; i < n - k; ++i) want += a[i] * b[i + k];
            EXPECT_EQ(out[k], want) << "n " << n << " lag " << k;
        }
        EXPECT_EQ(out[count], 12345.0);
    }
}

} // namespace
} // namespace g729
