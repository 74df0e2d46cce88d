# Builds a C program against an installed prefix the way docs/library.md says
# (cc prog.c $(pkg-config --cflags --libs g729a)), runs it, and compares
# what it writes with a reference file.
#   -DPREFIX=       the installed tree
#   -DCC= -DCFLAGS= compiler and extra flags (a ;-list)
#   -DSOURCE=       the program
#   -DOUTPUT=       the executable to build
#   -DSTATIC=ON     link libg729a.a (with pkg-config --static) instead of the .so
#   -DARGS= -DINPUT= -DEXPECT=   arguments, standard input, expected standard output
#   -DEMULATOR=     runs the program (a cross build's qemu-user), a ;-list
set(ENV{PKG_CONFIG_PATH} "${PREFIX}/lib/pkgconfig")
unset(ENV{PKG_CONFIG_LIBDIR})
unset(ENV{PKG_CONFIG_SYSROOT_DIR})

function(pkg_config out)
  execute_process(COMMAND pkg-config ${ARGN} g729a RESULT_VARIABLE result OUTPUT_VARIABLE text
    ERROR_VARIABLE error OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "pkg-config ${ARGN} g729a failed: ${error}")
  endif()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# The .pc file must point into this prefix, wherever it was installed.
pkg_config(includedir --variable=includedir)
pkg_config(libdir --variable=libdir)
file(REAL_PATH "${includedir}" includedir)
file(REAL_PATH "${libdir}" libdir)
file(REAL_PATH "${PREFIX}" prefix)
if(NOT includedir STREQUAL "${prefix}/include" OR NOT libdir STREQUAL "${prefix}/lib")
  message(FATAL_ERROR "g729a.pc points to ${includedir} and ${libdir}, not into ${prefix}")
endif()

# Its version is the installed header's, where the version is defined.
pkg_config(modversion --modversion)
file(STRINGS "${includedir}/g729a.h" header_version REGEX "#define G729A_VERSION_STRING ")
if(NOT header_version MATCHES "\"${modversion}\"")
  message(FATAL_ERROR "g729a.pc says version ${modversion}, g729a.h says ${header_version}")
endif()

if(STATIC)
  pkg_config(flags --static --cflags --libs)
  string(REPLACE "-lg729a" "-Wl,-Bstatic -lg729a -Wl,-Bdynamic" flags "${flags}")
else()
  pkg_config(flags --cflags --libs)
endif()
separate_arguments(flags UNIX_COMMAND "${flags}")
execute_process(COMMAND "${CC}" ${CFLAGS} "${SOURCE}" ${flags} "-Wl,-rpath,${libdir}" -o "${OUTPUT}"
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "compiling ${SOURCE} against ${PREFIX} failed")
endif()

set(io "")
if(INPUT)
  list(APPEND io INPUT_FILE "${INPUT}")
endif()
if(EXPECT)
  list(APPEND io OUTPUT_FILE "${OUTPUT}.out")
endif()
execute_process(COMMAND ${EMULATOR} "${OUTPUT}" ${ARGS} ${io} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${OUTPUT} exited with ${result}")
endif()
if(EXPECT)
  execute_process(COMMAND "${CMAKE_COMMAND}" -E compare_files "${OUTPUT}.out" "${EXPECT}" RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${OUTPUT} wrote something else than ${EXPECT}")
  endif()
endif()
