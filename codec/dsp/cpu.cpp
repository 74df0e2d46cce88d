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

// The detected set plus one; 0 until the first call. Detection always gives
// the same answer in a process, so threads that race on the first call only
// store the same value twice. Plain atomics rather than a guarded static:
// the library must link into C programs without the C++ runtime.
int detected_plus_one = 0;

} // namespace

instruction_set active_instruction_set() {
    int known = __atomic_load_n(&detected_plus_one, __ATOMIC_RELAXED);
    if (known == 0) {
        known = int(detect()) + 1;
        __atomic_store_n(&detected_plus_one, known, __ATOMIC_RELAXED);
    }
    return instruction_set(known - 1);
}

} // namespace g729
