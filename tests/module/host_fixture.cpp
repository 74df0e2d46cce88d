#include "tests/module/host_fixture.h"

#include <fstream>
#include <iterator>

namespace g729_test {

namespace {
std::vector<uint8_t> read_vector(const std::string& name) {
    std::ifstream in(std::string(G729A_TEST_DATA) + "/vectors/" + name, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
} // namespace

std::vector<int16_t> speech_samples(size_t count) {
    const std::vector<uint8_t> bytes = read_vector("speech_male_librivox.raw");
    std::vector<int16_t> s;
    for (size_t i = 0; s.size() < count; i = (i + 2) % bytes.size()) {
        s.push_back(int16_t(uint16_t(bytes[i] | bytes[i + 1] << 8)));
    }
    return s;
}

std::vector<uint8_t> speech_frames(size_t count) {
    const std::vector<uint8_t> bytes = read_vector("speech_male_librivox.g729");
    return std::vector<uint8_t>(bytes.begin(), bytes.begin() + long(count * 10));
}

} // namespace g729_test
