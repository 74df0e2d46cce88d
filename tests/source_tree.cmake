# Builds and tests write only under their build folder. Before the first
# test (MODE=record) this notes the state of the checkout: git's status and
# the content of every file it lists; after the last (MODE=check) it notes
# it again and fails, naming the files, if a test changed it. Comparing with
# the state before, not with a clean checkout, lets a developer run the tests
# over edits not yet committed. Without git, or when SOURCE is not the top of
# a git checkout (a release tarball), both steps say "skipped:".
#   cmake -DMODE=record|check -DSOURCE=... -DBUILD_DIR=... -DSTATE=... -P source_tree.cmake

find_program(GIT git NO_CACHE)
if(NOT GIT)
  message("skipped: no git to read the source tree's state")
  return()
endif()
execute_process(COMMAND "${GIT}" -C "${SOURCE}" rev-parse --show-toplevel
  RESULT_VARIABLE result OUTPUT_VARIABLE top OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
file(REAL_PATH "${SOURCE}" source)
if(result EQUAL 0)
  file(REAL_PATH "${top}" top)
endif()
if(NOT result EQUAL 0 OR NOT top STREQUAL source)
  message("skipped: ${SOURCE} is not a git checkout")
  return()
endif()

# A build folder inside the checkout is the tests' to write.
set(pathspec .)
file(REAL_PATH "${BUILD_DIR}" build)
file(RELATIVE_PATH build_in_source "${source}" "${build}")
if(NOT build_in_source MATCHES "^\\.\\./" AND NOT build_in_source STREQUAL "")
  list(APPEND pathspec ":(exclude)${build_in_source}")
endif()

# git status without taking the index's lock or refreshing it, every
# untracked file listed on its own; then each listed file's content.
execute_process(COMMAND "${GIT}" --no-optional-locks -C "${SOURCE}" status --porcelain=v1 --untracked-files=all
    -- ${pathspec}
  RESULT_VARIABLE result OUTPUT_VARIABLE status ERROR_VARIABLE error)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "git status in ${SOURCE} failed: ${error}")
endif()
string(REPLACE "\n" ";" entries "${status}")
set(state "")
foreach(entry IN LISTS entries)
  if(entry STREQUAL "")
    continue()
  endif()
  string(SUBSTRING "${entry}" 3 -1 path)
  string(REGEX REPLACE "^.* -> " "" path "${path}")
  set(hash "absent")
  if(EXISTS "${SOURCE}/${path}" AND NOT IS_DIRECTORY "${SOURCE}/${path}")
    file(SHA256 "${SOURCE}/${path}" hash)
  endif()
  string(APPEND state "${entry} ${hash}\n")
endforeach()

if(MODE STREQUAL "record")
  file(WRITE "${STATE}" "${state}")
  message(STATUS "${SOURCE}: state noted before the tests")
  return()
endif()

if(NOT EXISTS "${STATE}")
  message(FATAL_ERROR "${STATE}: no state noted before the tests (source_tree_before did not run)")
endif()
file(READ "${STATE}" before)
if(NOT state STREQUAL before)
  string(REPLACE "\n" ";" before_lines "${before}")
  string(REPLACE "\n" ";" after_lines "${state}")
  set(changed ${after_lines})
  list(REMOVE_ITEM changed ${before_lines} "")
  set(restored ${before_lines})
  list(REMOVE_ITEM restored ${after_lines} "")
  list(JOIN changed "\n  " changed)
  list(JOIN restored "\n  " restored)
  message(FATAL_ERROR "the tests changed the source tree ${SOURCE} (builds and tests write only under "
    "${BUILD_DIR}):\nnow:\n  ${changed}\nbefore:\n  ${restored}")
endif()
message(STATUS "${SOURCE}: unchanged by the tests")
