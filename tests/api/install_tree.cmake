# Installs the build into PREFIX (emptied first) and compares what arrived
# with the tree LIST (docs/library.md) shows under "## What gets installed":
# nothing missing, nothing unlisted.
#   cmake -DBUILD_DIR=... -DPREFIX=... -DLIST=... -DWITH_TOOL=ON|OFF -DWITH_MAN=ON|OFF -P install_tree.cmake
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
  RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install ${BUILD_DIR} --prefix ${PREFIX} failed: ${result}")
endif()

# The documented list: the first fenced block after the heading, first word
# of each line.
file(STRINGS "${LIST}" lines)
set(state heading)
set(listed "")
foreach(line IN LISTS lines)
  if(state STREQUAL heading AND line MATCHES "^#+ What gets installed")
    set(state block)
  elseif(state STREQUAL block AND line MATCHES "^```")
    set(state list)
  elseif(state STREQUAL list)
    if(line MATCHES "^```")
      break()
    endif()
    string(REGEX MATCH "^[^ ]+" path "${line}")
    if(path)
      list(APPEND listed "${path}")
    endif()
  endif()
endforeach()
if(NOT listed)
  message(FATAL_ERROR "${LIST}: no install tree under \"What gets installed\"")
endif()

# The per-configuration export file is named after the build type.
set(expected "")
foreach(path IN LISTS listed)
  if(NOT WITH_TOOL AND (path STREQUAL "bin/g729a" OR path MATCHES "man1/g729a" OR path MATCHES "completions/g729a"))
    continue()
  endif()
  if(NOT WITH_MAN AND path MATCHES "man1/g729a")
    continue()
  endif()
  string(REGEX REPLACE "Targets-[a-z]+\\.cmake$" "Targets-CONFIG.cmake" path "${path}")
  list(APPEND expected "${path}")
endforeach()

file(GLOB_RECURSE installed LIST_DIRECTORIES false RELATIVE "${PREFIX}" "${PREFIX}/*")
set(found "")
foreach(path IN LISTS installed)
  string(REGEX REPLACE "Targets-[a-z]+\\.cmake$" "Targets-CONFIG.cmake" path "${path}")
  list(APPEND found "${path}")
endforeach()

set(missing ${expected})
list(REMOVE_ITEM missing ${found})
set(unlisted ${found})
list(REMOVE_ITEM unlisted ${expected})
if(missing OR unlisted)
  list(JOIN missing "\n  " missing)
  list(JOIN unlisted "\n  " unlisted)
  message(FATAL_ERROR "the install tree differs from the one ${LIST} lists\nlisted, not installed:\n  ${missing}\n"
                      "installed, not listed:\n  ${unlisted}")
endif()
list(LENGTH found count)
message(STATUS "${PREFIX}: ${count} files, as ${LIST} lists")
