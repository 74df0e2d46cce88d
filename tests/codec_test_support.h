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

// A decoder object on the heap, initialised.
inline std::unique_ptr<decoder_object> new_decoder() {
    auto decoder = std::make_unique<decoder_object>();
    decoder_init(*decoder);
    return decoder;
}

} // namespace g729::testing
