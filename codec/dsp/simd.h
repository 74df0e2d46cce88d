// Vector lanes of doubles for the kernels that run independent sums or
// independent recursions side by side. Every lane carries its own chain of
// operations in the order the plain loop would use; lanes never mix, so a
// result is bit for bit the one-at-a-time value. These are the compiler's
// generic vectors: they build for any target, as SSE2 on baseline x86-64,
// NEON on 64-bit ARM, or pairs of registers where the target is narrower.
#pragma once

// The helpers are inline and never cross a library boundary, so GCC's note
// that four-lane vectors pass differently without AVX does not apply.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpsabi"
#endif

namespace g729 {
namespace simd {

typedef double lanes2 __attribute__((vector_size(16)));
typedef double lanes4 __attribute__((vector_size(32)));
// What comparisons of lanes2 give: all ones where true, zero where false.
typedef long long masks2 __attribute__((vector_size(16)));

// Unaligned loads and stores of whole vectors; memcpy of the exact size is
// what the compiler turns into a single vector move.
template <class V>
inline V load(const double* p) {
    V v;
    __builtin_memcpy(&v, p, sizeof v);
    return v;
}

template <class V>
inline void store(double* p, const V& v) {
    __builtin_memcpy(p, &v, sizeof v);
}

// Every lane set to x.
inline lanes2 splat2(double x) { return lanes2{x, x}; }

} // namespace simd
} // namespace g729

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
