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

void pack_frame(const speech_parameters& params, uint8_t* out, int& out_length) {
    const subframe_parameters& s1 = params.subframes[0];
    const subframe_parameters& s2 = params.subframes[1];
    const uint32_t c1 = field(s1.code_positions, 13);
    const uint32_t c2 = field(s2.code_positions, 13);
    const uint32_t w0 = (field(params.lsp_first, 8) << 24) | (field(params.lsp_second, 10) << 14) |
                        (field(s1.pitch_index, 8) << 6) | (field(params.pitch_parity, 1) << 5) | (c1 >> 8);
    const uint32_t w1 = ((c1 & 0xFFu) << 24) | (field(s1.code_signs, 4) << 20) | (field(s1.gain_indices, 7) << 13) |
                        (field(s2.pitch_index, 5) << 8) | (c2 >> 5);
    const uint32_t w2 = ((c2 & 0x1Fu) << 11) | (field(s2.code_signs, 4) << 7) | field(s2.gain_indices, 7);
    write_be32(out, w0);
    write_be32(out + 4, w1);
    out[8] = uint8_t(w2 >> 8);
    out[9] = uint8_t(w2);
    out_length = kSpeechFrameBytes;
}

void pack_sid_frame(const sid_parameters& params, uint8_t* out, int& out_length) {
    const uint32_t s = (uint32_t(params.predictor_switch & 1) << 15) | (uint32_t(params.lsf_first_stage & 0x1F) << 10) |
                       (uint32_t(params.lsf_second_stage & 0xF) << 6) | (uint32_t(params.energy_index & 0x1F) << 1);
    out[0] = uint8_t(s >> 8);
    out[1] = uint8_t(s & 0xFF);
    out_length = kSidFrameBytes;
}

void unpack_frame(frame_parameters& params, const uint8_t* in, frame_type type) {
    params = frame_parameters{};
    params.type = type;
    if (type == frame_type::sid) {
        const uint32_t s = (uint32_t(in[0]) << 8) | uint32_t(in[1]);
        params.sid.predictor_switch = int(s >> 15);
        params.sid.lsf_first_stage = int((s >> 10) & 0x1F);
        params.sid.lsf_second_stage = int((s >> 6) & 0xF);
        params.sid.energy_index = int((s >> 1) & 0x1F); // bit 0 carries nothing
        return;
    }
    const uint32_t w0 = read_be32(in);
    const uint32_t w1 = read_be32(in + 4);
    const uint32_t w2 = (uint32_t(in[8]) << 8) | uint32_t(in[9]);
    speech_parameters& p = params.speech;
    subframe_parameters& s1 = p.subframes[0];
    subframe_parameters& s2 = p.subframes[1];
    p.lsp_first = int(w0 >> 24);
    p.lsp_second = int((w0 >> 14) & 0x3FF);
    s1.pitch_index = int((w0 >> 6) & 0xFF);
    p.pitch_parity = int((w0 >> 5) & 1);
    s1.code_positions = int(((w0 & 0x1F) << 8) | (w1 >> 24));
    s1.code_signs = int((w1 >> 20) & 0xF);
    s1.gain_indices = int((w1 >> 13) & 0x7F);
    s2.pitch_index = int((w1 >> 8) & 0x1F);
    s2.code_positions = int(((w1 & 0xFF) << 5) | (w2 >> 11));
    s2.code_signs = int((w2 >> 7) & 0xF);
    s2.gain_indices = int(w2 & 0x7F);
    p.parity_error = check_pitch_parity(s1.pitch_index, p.pitch_parity);
}

int pitch_parity(int p1) {
    int sum = 1;
    for (int bit = 2; bit <= 7; ++bit) sum += (p1 >> bit) & 1;
    return sum & 1;
}

bool check_pitch_parity(int p1, int p0) { return pitch_parity(p1) != (p0 & 1); }

} // namespace g729
