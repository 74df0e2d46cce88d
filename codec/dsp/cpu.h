// Which optimised kernel variants this processor can run. The choice is made
// on first use and never changes afterwards (the one value the codec keeps
// for the whole process, the same for every instance); the portable kernels
// are always there and give the same bits as every variant.
#pragma once

namespace g729 {

enum class instruction_set {
    portable, // the baseline build: SSE2 on x86-64, NEON on 64-bit ARM
    avx2,     // x86-64 with AVX2 (and the operating system saving its registers)
};

// The widest instruction set with kernel variants that this processor
// offers. Setting G729A_INSTRUCTION_SET=portable in the environment before
// the first frame keeps every kernel on the portable code (for comparing
// the two and for measuring what the variants bring).
instruction_set active_instruction_set();

} // namespace g729
