#include "codec/bitstream.h"

namespace g729 {

namespace {

uint32_t read_be32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

void write_be32(uint8_t* p, uint32_t w) {
    p[0] = uint8_t(w >> 24);
    p[1] = uint8_t(w >> 16);
    p[2] = uint8_t(w >> 8);
    p[3] = uint8_t(w);
}

uint32_t field(int word, int width) { return uint32_t(word) & ((1u << width) - 1u); }

} // namespace

void pack_frame(const frame_parameters& params, uint8_t* out, int& out_length) {
    const int* w = params.words;
    const uint32_t c1 = field(w[4], 13);
    const uint32_t c2 = field(w[8], 13);
    const uint32_t w0 = (field(w[0], 8) << 24) | (field(w[1], 10) << 14) | (field(w[2], 8) << 6) |
                        (field(w[3], 1) << 5) | (c1 >> 8);
    const uint32_t w1 = ((c1 & 0xFFu) << 24) | (field(w[5], 4) << 20) | (field(w[6], 7) << 13) |
                        (field(w[7], 5) << 8) | (c2 >> 5);
    const uint32_t w2 = ((c2 & 0x1Fu) << 11) | (field(w[9], 4) << 7) | field(w[10], 7);
    write_be32(out, w0);
    write_be32(out + 4, w1);
    out[8] = uint8_t(w2 >> 8);
    out[9] = uint8_t(w2);
    out_length = kSpeechFrameBytes;
}

void unpack_frame(frame_parameters& params, const uint8_t* in, int frame_type) {
    params.frame_type = frame_type;
    int* w = params.words;
    if (frame_type == kFrameTypeSid) {
        const uint32_t s = (uint32_t(in[0]) << 8) | uint32_t(in[1]);
        w[0] = int(s >> 15);
        w[1] = int((s >> 10) & 0x1F);
        w[2] = int((s >> 6) & 0xF);
        w[3] = int((s >> 1) & 0x1F); // bit 0 carries nothing
        for (int i = 4; i < kParameterWords; ++i) w[i] = 0;
        return;
    }
    const uint32_t w0 = read_be32(in);
    const uint32_t w1 = read_be32(in + 4);
    const uint32_t w2 = (uint32_t(in[8]) << 8) | uint32_t(in[9]);
    w[0] = int(w0 >> 24);
    w[1] = int((w0 >> 14) & 0x3FF);
    w[2] = int((w0 >> 6) & 0xFF);
    const int p0 = int((w0 >> 5) & 1);
    w[4] = int(((w0 & 0x1F) << 8) | (w1 >> 24));
    w[5] = int((w1 >> 20) & 0xF);
    w[6] = int((w1 >> 13) & 0x7F);
    w[7] = int((w1 >> 8) & 0x1F);
    w[8] = int(((w1 & 0xFF) << 5) | (w2 >> 11));
    w[9] = int((w2 >> 7) & 0xF);
    w[10] = int(w2 & 0x7F);
    w[3] = check_pitch_parity(w[2], p0);
}

int check_pitch_parity(int p1, int p0) {
    int sum = 1 + (p0 & 1);
    for (int bit = 2; bit <= 7; ++bit) sum += (p1 >> bit) & 1;
    return sum % 2;
}

} // namespace g729
