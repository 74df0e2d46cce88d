# Disassembles OBJECTS and fails if any fused multiply-add is in them.
#   cmake -DOBJDUMP=... -DARCH=aarch64|x86_64 -DOBJECTS=a;b -P check_no_fma.cmake
# aarch64: scalar fmadd/fmsub/fnmadd/fnmsub, vector fmla/fmls.
# x86_64: the FMA3 and FMA4 families (vfmadd..., vfnmsub..., vfmaddsub...).
# A plain multiply must be there, so that an empty or unreadable
# disassembly cannot pass.
if(ARCH STREQUAL "aarch64")
  set(fused "(fn?madd|fn?msub|fmla|fmls)")
  set(multiply "fmul")
elseif(ARCH STREQUAL "x86_64")
  set(fused "vfn?m(add|sub)[a-z0-9]*")
  set(multiply "v?mul[sp]d")
else()
  message(FATAL_ERROR "no fused multiply-add pattern for '${ARCH}'")
endif()

execute_process(COMMAND "${OBJDUMP}" -d --no-show-raw-insn ${OBJECTS}
  RESULT_VARIABLE result OUTPUT_VARIABLE disassembly ERROR_VARIABLE error)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -d failed: ${error}")
endif()

set(insn "\n[ \t]*[0-9a-f]+:[ \t]+")
if(NOT disassembly MATCHES "${insn}${multiply}[ \t]")
  message(FATAL_ERROR "no floating-point multiply found to check in ${OBJECTS}")
endif()
string(REGEX MATCHALL "${insn}${fused}[ \t][^\n]*" found "${disassembly}")
if(found)
  list(LENGTH found count)
  list(SUBLIST found 0 10 shown)
  string(REPLACE ";" "" shown "${shown}")
  message(FATAL_ERROR "${count} fused multiply-adds in ${OBJECTS}, for example:${shown}")
endif()
list(JOIN OBJECTS ", " names)
message(STATUS "no fused multiply-add in ${names}")
