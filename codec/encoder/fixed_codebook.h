// Algebraic fixed-codebook search: four signed unit pulses in a 40-sample
// subframe, found by a depth-first search over pre-selected track positions.
#pragma once

namespace g729 {

// Searches the pulses best matching target x through the impulse response h.
// h is sharpened in place by the pitch lag t0 and factor beta; v receives the
// sharpened code vector, y the pulses filtered by the sharpened h and
// sign_word one bit per positive pulse. Returns the 13-bit position index.
int fixed_codebook_search(const double* x, double* h, int t0, double* v, double* y, int* sign_word, double beta);

} // namespace g729
