// Correlations of one signal with shifted copies of another, computed side
// by side.
#pragma once

namespace g729 {

// out[k] = sum over i = 0 .. n-1-k of a[i] * b[i + k], for k = 0 .. count-1
// (count <= n). Every sum starts at 0 and adds its products in increasing i,
// exactly as when the lags are taken one by one.
// Runs the widest variant this processor has (see cpu.h).
void shifted_correlations(const double* a, const double* b, int n, int count, double* out);

namespace portable {
// The baseline evaluation every variant is tested against.
void shifted_correlations(const double* a, const double* b, int n, int count, double* out);
} // namespace portable

} // namespace g729
