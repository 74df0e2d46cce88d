/* A dot product compiled with contraction on: the fused multiply-add check
 * must find the fused instructions the compiler makes of it. */
double fma_fixture_dot(const double *a, const double *b, int n) {
    double sum = 0.0;
    int i;
    for (i = 0; i < n; i++) sum += a[i] * b[i];
    return sum;
}

/* A plain product, which the check needs to see before it believes it read
 * floating-point code at all. */
double fma_fixture_product(double a, double b) { return a * b; }
