// The shared and decoding side of LSP quantization: the switched MA
// predictor in the LSF domain, the common reconstruction of a quantized
// vector and LSP decoding.
#pragma once

#include <array>

#include "codec/dsp/types.h"

namespace g729 {

// (i+1)pi/11 to six decimals: every row of a predictor memory at reset.
extern const lsf_vector initial_lsf_vector;

// Which adjacent pairs rearrange_lsf treats: (0,1)..(3,4), (4,5)..(8,9), or
// all nine.
enum class lsf_pairs { lower, upper, all };

// Every row of memory becomes initial_lsf_vector.
void reset_lsf_memory(lsf_memory& memory);

// Pushes adjacent values apart to at least gap, pair by pair in increasing
// order, in place.
void rearrange_lsf(lsf_vector& v, double gap, lsf_pairs pairs);

// w = residual * sum + the predictor applied to the four past rows.
void compose_lsf(const lsf_vector& residual, const lsf_predictor_set& predictor, const lsf_vector& sum,
                 const lsf_memory& memory, lsf_vector& w);

// The other way round, under predictor mode: the LSFs w less the prediction
// from memory, scaled back to the codebook's range. The encoder quantizes
// this; the decoder pushes it for a lost frame.
void lsf_prediction_residual(const lsf_memory& memory, const lsf_vector& w, int mode, lsf_vector& residual);

// residual becomes row 0; the oldest row drops out.
void push_lsf_memory(const lsf_vector& residual, lsf_memory& memory);

// Orders, floors and spaces a reconstructed LSF vector so the filter is
// stable.
void stabilize_lsf(lsf_vector& w);

// The quantized LSFs of indices (l1, l2, l3) under predictor mode; pushes the
// codebook vector into memory. Encoder and decoder both rebuild with this,
// which keeps their memories identical.
void reconstruct_lsf(lsf_memory& memory, int l1, int l2, int l3, int mode, lsf_vector& w);

// first: mode in bit 7, L1 in bits 0..6; second: L2 in bits 5..9, L3 in 0..4.
void decode_lsp(lsf_memory& memory, int first, int second, lsp_vector& q);

} // namespace g729
