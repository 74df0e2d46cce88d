# Cross build for 64-bit ARM Linux with Debian's cross compiler
# (g++-aarch64-linux-gnu); the programs it builds run under qemu-user.
#
#   cmake -S . -B build-aarch64 -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake
#
# The cross compiler contracts a*b+c into fused multiply-adds by default;
# the project's -ffp-contract=off (CMakeLists.txt) turns that off, and
# a test of the cross build checks the object code for any that slipped
# through (tests/portability).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(G729A_CROSS_TRIPLE aarch64-linux-gnu)
set(CMAKE_C_COMPILER ${G729A_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${G729A_CROSS_TRIPLE}-g++)

# Debian's cross runtime (libc, libstdc++) lives here; libraries built for
# the target (such as GoogleTest) are found through CMAKE_PREFIX_PATH.
set(G729A_CROSS_SYSROOT /usr/${G729A_CROSS_TRIPLE})
list(APPEND CMAKE_FIND_ROOT_PATH ${G729A_CROSS_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test programs (GoogleTest discovery and ctest) run under qemu-user.
find_program(G729A_QEMU_AARCH64 qemu-aarch64)
if(G729A_QEMU_AARCH64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${G729A_QEMU_AARCH64} -L ${G729A_CROSS_SYSROOT})
endif()
