#include "codec/dsp/cpu.h"

#include <cstdlib>
#include <cstring>

namespace g729 {
namespace {

instruction_set detect() {
    const char* forced = std::getenv("G729A_INSTRUCTION_SET");
    if (forced != nullptr && std::strcmp(forced, "portable") == 0) return instruction_set::portable;
#if defined(__x86_64__) && defined(__GNUC__)
    // The compiler's check includes the operating system's consent to save
    // the wide registers, not only the processor's feature bit.
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2")) return instruction_set::avx2;
#endif
    return instruction_set::portable;
}

} // namespace

instruction_set active_instruction_set() {
    // Initialised once, thread-safely, and read-only from then on.
    static const instruction_set chosen = detect();
    return chosen;
}

} // namespace g729
