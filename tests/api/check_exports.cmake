# The shared library's dynamic symbol table holds exactly the functions the
# public header declares (nothing of the C++ runtime or the codec's insides,
# and no declared function missing), and its soname carries the major
# version the header gives.
#   cmake -DLIBRARY=libg729a.so.1 -DHEADER=g729a.h -DNM=nm -DREADELF=readelf -P check_exports.cmake
file(READ "${HEADER}" header)
string(REGEX MATCHALL "G729A_API[^;(\n]*[ *]g729a_[a-z0-9_]+\\(" declarations "${header}")
set(declared "")
foreach(d IN LISTS declarations)
  string(REGEX MATCH "g729a_[a-z0-9_]+\\($" name "${d}")
  string(REPLACE "(" "" name "${name}")
  list(APPEND declared "${name}")
endforeach()
list(SORT declared)

execute_process(COMMAND "${NM}" -D --defined-only "${LIBRARY}" RESULT_VARIABLE result OUTPUT_VARIABLE table)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${NM} -D ${LIBRARY} failed")
endif()
string(REPLACE "\n" ";" table "${table}")
set(exported "")
foreach(line IN LISTS table)
  # "address type name[@@version]"; the version node itself is an absolute
  # symbol of type A.
  if(line MATCHES "^[0-9a-fA-F]* *([A-Za-z]) ([^@ ]+)")
    if(NOT CMAKE_MATCH_1 STREQUAL "A")
      list(APPEND exported "${CMAKE_MATCH_2}")
    endif()
  endif()
endforeach()
list(SORT exported)

if(NOT declared)
  message(FATAL_ERROR "no G729A_API declarations found in ${HEADER}")
endif()
if(NOT exported STREQUAL declared)
  set(extra ${exported})
  list(REMOVE_ITEM extra ${declared})
  set(missing ${declared})
  list(REMOVE_ITEM missing ${exported})
  message(FATAL_ERROR "${LIBRARY} exports other symbols than g729a.h declares\n"
                      "exported, not declared: ${extra}\ndeclared, not exported: ${missing}")
endif()

string(REGEX MATCH "#define G729A_VERSION_MAJOR ([0-9]+)" major "${header}")
set(major ${CMAKE_MATCH_1})
execute_process(COMMAND "${READELF}" -d "${LIBRARY}" OUTPUT_VARIABLE dynamic)
string(REGEX MATCH "Library soname: \\[([^]]*)\\]" soname "${dynamic}")
if(NOT CMAKE_MATCH_1 STREQUAL "libg729a.so.${major}")
  message(FATAL_ERROR "${LIBRARY}: soname '${CMAKE_MATCH_1}', want libg729a.so.${major}")
endif()
list(LENGTH exported count)
message(STATUS "${LIBRARY}: soname libg729a.so.${major}, ${count} symbols, all declared in g729a.h")
