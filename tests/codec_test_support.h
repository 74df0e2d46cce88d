// Reference vectors and decoder objects for the codec's own tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "codec/decoder/decoder_object.h"

namespace g729::testing {

// The bytes of a file in the shared reference vectors.
inline std::vector<uint8_t> read_vector(const std::string& name) {
    const std::string path = std::string(G729A_TEST_DATA) + "/vectors/" + name;
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in.good()) << "cannot open " << path;
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// 16-bit little-endian samples of a vector file's bytes.
inline std::vector<int16_t> as_samples(const std::vector<uint8_t>& bytes) {
    std::vector<int16_t> s(bytes.size() / 2);
    for (size_t i = 0; i < s.size(); ++i) s[i] = int16_t(uint16_t(bytes[2 * i] | (bytes[2 * i + 1] << 8)));
    return s;
}

// The 16-bit little-endian samples of a file in the reference vectors.
inline std::vector<int16_t> read_samples(const std::string& name) { return as_samples(read_vector(name)); }

// Reports the first differing sample with its frame, rather than thousands
// of lines.
inline void expect_same_samples(const std::vector<int16_t>& got, const std::vector<int16_t>& want,
                                const std::string& what) {
    ASSERT_EQ(got.size(), want.size()) << what;
    for (size_t i = 0; i < got.size(); ++i) {
        if (got[i] != want[i]) {
            ADD_FAILURE() << what << ": first difference at sample " << i << " (frame " << i / kFrame << "): got "
                          << got[i] << ", want " << want[i];
            return;
        }
    }
}

// A decoder object on the heap, initialised.
inline std::unique_ptr<decoder_object> new_decoder() {
    auto decoder = std::make_unique<decoder_object>();
    decoder_init(*decoder);
    return decoder;
}

} // namespace g729::testing
