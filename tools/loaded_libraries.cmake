# The libraries only some commands of the g729a tool need are not linked
# into it: it loads each with dlopen when a command first needs it
# (tools/common/shared_library.h), so that decoding raw samples, .g729 and .bit
# files or --version starts without them and the forty-odd shared objects
# they pull in. Their headers come from pkg-config, for the types and
# prototypes; the name each library is loaded by is the SONAME of the one
# pkg-config found, so that it is whatever this system ships.
#
# Defines g729a_tool_libraries: an interface target with the include
# directories, the SONAMEs as compile definitions (G729A_LIBSNDFILE_SONAME
# and so on) and the dl library. Included by tools/ and by the fuzzing build.
if(TARGET g729a_tool_libraries)
  return()
endif()

find_package(PkgConfig REQUIRED)
# GLOBAL: the tool tests link the libraries themselves, to make and check
# files with them. libosip2 is the distribution's SIP parser, of which the
# capture commands load libosipparser2 when a capture holds SIP.
pkg_check_modules(G729A_TOOL_DEPS REQUIRED IMPORTED_TARGET GLOBAL sndfile soxr libpcap cairo fontconfig libosip2
  libopusenc)

add_library(g729a_tool_libraries INTERFACE)
target_include_directories(g729a_tool_libraries INTERFACE
  $<TARGET_PROPERTY:PkgConfig::G729A_TOOL_DEPS,INTERFACE_INCLUDE_DIRECTORIES>)
target_compile_options(g729a_tool_libraries INTERFACE
  $<TARGET_PROPERTY:PkgConfig::G729A_TOOL_DEPS,INTERFACE_COMPILE_OPTIONS>)
target_link_libraries(g729a_tool_libraries INTERFACE ${CMAKE_DL_LIBS})

# The SONAME of lib<name>.so among the files pkg-config resolved, read with
# objdump; `fallback` when there is no such file or it names none (a linker
# script, a static library).
get_target_property(g729a_found_libraries PkgConfig::G729A_TOOL_DEPS INTERFACE_LINK_LIBRARIES)
function(g729a_library_soname name fallback out)
  set(soname ${fallback})
  foreach(path IN LISTS g729a_found_libraries)
    get_filename_component(file "${path}" NAME)
    if(file STREQUAL "lib${name}.so" AND CMAKE_OBJDUMP)
      execute_process(COMMAND ${CMAKE_OBJDUMP} -p "${path}" OUTPUT_VARIABLE headers ERROR_QUIET RESULT_VARIABLE failed)
      if(NOT failed AND headers MATCHES "SONAME[ \t]+([^ \t\r\n]+)")
        set(soname ${CMAKE_MATCH_1})
      endif()
    endif()
  endforeach()
  set(${out} ${soname} PARENT_SCOPE)
endfunction()

set(g729a_loaded "")
foreach(entry sndfile:libsndfile.so.1 soxr:libsoxr.so.0 pcap:libpcap.so.0.8 cairo:libcairo.so.2
              fontconfig:libfontconfig.so.1 osipparser2:libosipparser2.so.15
              opusenc:libopusenc.so.0)
  string(REPLACE ":" ";" entry "${entry}")
  list(GET entry 0 name)
  list(GET entry 1 fallback)
  g729a_library_soname(${name} ${fallback} soname)
  string(TOUPPER ${name} upper)
  target_compile_definitions(g729a_tool_libraries INTERFACE G729A_LIB${upper}_SONAME="${soname}")
  list(APPEND g729a_loaded ${soname})
endforeach()
list(JOIN g729a_loaded ", " g729a_loaded)
message(STATUS "g729a loads on first use: ${g729a_loaded}")
