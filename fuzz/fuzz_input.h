// Shared pieces of the fuzz targets: a reader that takes the fuzzer's bytes
// apart into operations, the check that stops a target on a broken
// invariant, and finiteness checks over the codec's state.
#pragma once

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace g729_fuzz {

// A broken invariant is a finding: say which and stop, so that libFuzzer
// keeps the input and the replay test fails.
#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition);     \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)

// Reads the input front to back; past the end everything reads as zero, so
// that any prefix of an input is itself a meaningful input.
class input_reader {
public:
    input_reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    bool empty() const { return position_ >= size_; }
    size_t remaining() const { return empty() ? 0 : size_ - position_; }

    uint8_t byte() { return empty() ? 0 : data_[position_++]; }
    uint16_t word() {
        const uint16_t low = byte();
        return uint16_t(low | uint16_t(byte()) << 8);
    }
    // Up to n bytes in place; *taken says how many there were.
    const uint8_t* bytes(size_t n, size_t* taken) {
        const size_t k = n < remaining() ? n : remaining();
        const uint8_t* p = data_ + position_;
        position_ += k;
        *taken = k;
        return p;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t position_ = 0;
};

// Inputs that open with a selector byte: takes it off the front; false for
// an empty input.
inline bool take_selector(const uint8_t*& data, size_t& size, uint8_t& selector) {
    if (size == 0) return false;
    selector = data[0];
    ++data;
    --size;
    return true;
}

inline bool finite(double x) { return std::isfinite(x); }
template <typename T, size_t N> bool finite(const std::array<T, N>& a) {
    for (const T& x : a)
        if (!finite(x)) return false;
    return true;
}
template <typename T, size_t N> bool finite(const T (&a)[N]) {
    for (const T& x : a)
        if (!finite(x)) return false;
    return true;
}

} // namespace g729_fuzz
