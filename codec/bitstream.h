// Wire layouts of the 10-byte speech frame and the 2-byte SID frame, and the
// parameter record that carries one frame between the codec core and them.
#pragma once

#include <cstdint>

namespace g729 {

constexpr int kSpeechFrameBytes = 10;
constexpr int kSidFrameBytes = 2;
constexpr int kFrameTypeSpeech = 1;
constexpr int kFrameTypeSid = 2;
constexpr int kParameterWords = 11;

// Speech frame words: 0 L0/L1, 1 L2/L3, 2 P1, 3 P0 (encoder) or parity_error
// (decoder), 4 C1, 5 S1, 6 GA1/GB1, 7 P2, 8 C2, 9 S2, 10 GA2/GB2.
// SID frame words: 0 predictor switch, 1 first-stage index, 2 second-stage
// index, 3 energy index.
struct frame_parameters {
    int frame_type;
    int words[kParameterWords];
};

// Packs a speech frame into 10 bytes; every word is masked to its width.
void pack_frame(const frame_parameters& params, uint8_t* out, int& out_length);

// Unpacks 10 bytes (frame_type 1) or 2 bytes (frame_type 2). For a speech
// frame word 3 becomes the result of the parity check of P1.
void unpack_frame(frame_parameters& params, const uint8_t* in, int frame_type);

// 0 when P0 is consistent with the six top bits of P1, 1 on a parity error.
int check_pitch_parity(int p1, int p0);

} // namespace g729
