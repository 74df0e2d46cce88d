// Encoder side of the LSP coding: the two-stage, switched-MA-predicted
// vector quantizer of the LSFs.
#pragma once

#include "codec/dsp/types.h"

namespace g729 {

// Quantizes lsp into the two LSP words (first: mode*128 + L1, second:
// L2*32 + L3) and the quantized LSPs. memory advances by one frame, rebuilt
// exactly as the decoder rebuilds it.
void quantize_lsp(lsf_memory& memory, const lsp_vector& lsp, lsp_vector& quantized, int& first, int& second);

// The weight of each LSF in the quantization error.
void lsf_weights(const lsf_vector& w, lsf_vector& weight);

// distance[r] = sum over i of (target[i] - L1 row r [i])^2 for all 128
// first-stage rows, each sum from 0 in increasing i. Runs the widest variant
// this processor has (see cpu.h).
void first_stage_distances(const lsf_vector& target, double* distance);

// lower[r] and upper[r] = sum over i of weight[i] (t[i] - L2L3 row r [i])^2
// with t = target - first_stage, over components 0..4 for lower and 5..9
// for upper, for all 32 second-stage rows; each sum from 0 in increasing
// i. Runs the widest variant this processor has.
void second_stage_distances(const lsf_vector& target, const lsf_vector& first_stage, const lsf_vector& weight,
                            double* lower, double* upper);

namespace portable {
// The baseline evaluations every variant is tested against.
void first_stage_distances(const lsf_vector& target, double* distance);
void second_stage_distances(const lsf_vector& target, const lsf_vector& first_stage, const lsf_vector& weight,
                            double* lower, double* upper);
} // namespace portable

} // namespace g729
