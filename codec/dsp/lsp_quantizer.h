// Encoder side of the LSP coding: the two-stage, switched-MA-predicted
// vector quantizer of the LSFs.
#pragma once

#include "codec/dsp/types.h"

namespace g729 {

// Quantizes lsp into the two LSP words (first: mode*128 + L1, second:
// L2*32 + L3) and the quantized LSPs. memory advances by one frame, rebuilt
// exactly as the decoder rebuilds it.
void quantize_lsp(lsf_memory& memory, const lsp_vector& lsp, lsp_vector& quantized, int& first, int& second);

} // namespace g729
