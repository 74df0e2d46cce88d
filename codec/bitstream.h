// Wire layouts of the 10-byte speech frame and the 2-byte SID frame, and the
// parameter record that carries one frame between the codec core and them.
#pragma once

#include <array>
#include <cstdint>

#include "codec/dsp/types.h"

namespace g729 {

constexpr int kSpeechFrameBytes = 10;
constexpr int kSidFrameBytes = 2;

enum class frame_type { speech = 1, sid = 2 };

// The coded parameters of one subframe of a speech frame.
struct subframe_parameters {
    int pitch_index;    // P1: 8 bits, absolute; P2: 5 bits, relative to subframe 1's lag
    int code_positions; // C: the four pulse positions, 13 bits
    int code_signs;     // S: the four pulse signs, 4 bits
    int gain_indices;   // GA*16 + GB: first-stage index (3 bits) above second-stage index (4 bits)
};

struct speech_parameters {
    int lsp_first;     // L0*128 + L1: MA-predictor switch above the first-stage LSP index, 8 bits
    int lsp_second;    // L2*32 + L3: second-stage indices, lower half above upper half, 10 bits
    int pitch_parity;  // P0: the parity bit of P1
    bool parity_error; // set by unpacking when P0 disagrees with P1
    std::array<subframe_parameters, kSubframes> subframes;
};

struct sid_parameters {
    int predictor_switch; // 1 bit
    int lsf_first_stage;  // 5 bits
    int lsf_second_stage; // 4 bits
    int energy_index;     // 5 bits
};

// One frame's parameters; only the record of its type is meaningful.
struct frame_parameters {
    frame_type type;
    speech_parameters speech;
    sid_parameters sid;
};

// Packs a speech frame into 10 bytes; every field is masked to its width.
void pack_frame(const speech_parameters& params, uint8_t* out, int& out_length);

// Packs a SID frame into 2 bytes; the last bit, which carries nothing, is 0.
void pack_sid_frame(const sid_parameters& params, uint8_t* out, int& out_length);

// Unpacks 10 bytes (a speech frame) or 2 bytes (a SID frame); the record of
// the other type is zeroed. A speech frame's P0 is also checked against P1.
void unpack_frame(frame_parameters& params, const uint8_t* in, frame_type type);

// The parity bit P0 the encoder sends with P1: odd parity over its six top
// bits (the two low bits are not covered).
int pitch_parity(int p1);

// False when P0 is consistent with the six top bits of P1, true on a parity
// error.
bool check_pitch_parity(int p1, int p0);

} // namespace g729
