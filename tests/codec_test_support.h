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

// The 16-bit little-endian samples of a file in the reference vectors.
inline std::vector<int16_t> read_samples(const std::string& name) {
    const std::vector<uint8_t> bytes = read_vector(name);
    std::vector<int16_t> samples(bytes.size() / 2);
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = int16_t(uint16_t(bytes[2 * i] | (bytes[2 * i + 1] << 8)));
    return samples;
}

// A decoder object on the heap, initialised.
inline std::unique_ptr<decoder_object> new_decoder() {
    auto decoder = std::make_unique<decoder_object>();
    decoder_init(*decoder);
    return decoder;
}

} // namespace g729::testing
