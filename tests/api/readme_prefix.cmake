# Does what the README tells a newcomer with a prefix: takes its C program
# and the shell lines that name the prefix (/opt/g729a there), puts this
# installed prefix in their place, runs the lines in a plain sh with nothing
# of the environment pointing at the prefix, and compares the frames the
# program wrote with the reference.
#   cmake -DREADME=... -DPREFIX=... -DWORK=... -DCC=... -DCFLAGS=... -DINPUT=... -DEXPECT=... -P readme_prefix.cmake
# CC and CFLAGS become the `cc` of the lines (a sanitizer build's flags are
# needed to load its library); INPUT becomes speech.raw, and EXPECT is what
# speech.g729 must hold.
set(readme_prefix /opt/g729a)

file(STRINGS "${README}" lines)
set(program "")
set(shell "")
set(block "")
set(in_block "")
foreach(line IN LISTS lines)
  if(NOT in_block AND line MATCHES "^```(.*)$")
    set(in_block "${CMAKE_MATCH_1}")
    set(block "")
  elseif(in_block AND line MATCHES "^```")
    if(in_block STREQUAL "c" AND NOT program AND block MATCHES "int main")
      set(program "${block}")
    elseif(in_block STREQUAL "sh" AND NOT shell AND block MATCHES "PKG_CONFIG_PATH=${readme_prefix}")
      set(shell "${block}")
    endif()
    set(in_block "")
  elseif(in_block)
    string(APPEND block "${line}\n")
  endif()
endforeach()
if(NOT program)
  message(FATAL_ERROR "${README}: no C program")
endif()
if(NOT shell)
  message(FATAL_ERROR "${README}: no shell lines with PKG_CONFIG_PATH=${readme_prefix}")
endif()
if(NOT shell MATCHES "encode\\.c" OR NOT shell MATCHES "speech\\.g729")
  message(FATAL_ERROR "${README}: the prefix lines do not build encode.c and write speech.g729:\n${shell}")
endif()
string(REPLACE "${readme_prefix}" "${PREFIX}" shell "${shell}")

file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}/bin")
file(WRITE "${WORK}/encode.c" "${program}")
file(WRITE "${WORK}/lines.sh" "set -e\n${shell}")
file(COPY_FILE "${INPUT}" "${WORK}/speech.raw")
# The shim stands first on PATH, so it must not find itself.
if(NOT IS_ABSOLUTE "${CC}")
  find_program(cc_path "${CC}" NO_CACHE REQUIRED)
  set(CC "${cc_path}")
endif()
list(JOIN CFLAGS " " flags)
file(WRITE "${WORK}/bin/cc" "#!/bin/sh\nexec \"${CC}\" ${flags} \"$@\"\n")
file(CHMOD "${WORK}/bin/cc" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)

execute_process(
  COMMAND env -u PKG_CONFIG_PATH -u PKG_CONFIG_LIBDIR -u PKG_CONFIG_SYSROOT_DIR -u LD_LIBRARY_PATH
    -u LIBRARY_PATH -u C_INCLUDE_PATH -u CPATH "PATH=${WORK}/bin:$ENV{PATH}" sh -x lines.sh
  WORKING_DIRECTORY "${WORK}" RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "the README's prefix lines failed (${result}) for ${PREFIX}:\n${shell}")
endif()
execute_process(COMMAND "${CMAKE_COMMAND}" -E compare_files "${WORK}/speech.g729" "${EXPECT}" RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "the README's program wrote other frames than ${EXPECT}")
endif()
message(STATUS "the README's prefix lines built and ran its program against ${PREFIX}")
