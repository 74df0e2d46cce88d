# The package as a user installs it on Debian: a fresh venv that sees the
# system's numpy, setuptools and dask, pip building the codec into the
# package with no network and no build isolation, then an import with no
# variable set and the package's tests, all from that venv.
#   cmake -DPYTHON=/usr/bin/python3 -DSOURCE=... -DVENV=... -DVECTORS=... -P venv_install.cmake

# Each command runs in a folder with no g729a in it, so only the installed
# package can answer, and without the variables that would point elsewhere.
function(run)
  execute_process(COMMAND ${CMAKE_COMMAND} -E env --unset=G729A_LIBRARY --unset=PYTHONPATH ${ARGN}
    WORKING_DIRECTORY "${WORK}" RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    list(JOIN ARGN " " command)
    message(FATAL_ERROR "failed (${result}): ${command}")
  endif()
endfunction()

file(REMOVE_RECURSE "${VENV}")
set(WORK "${VENV}-work")
file(REMOVE_RECURSE "${WORK}" "${VENV}-build")
file(MAKE_DIRECTORY "${WORK}")
run(${PYTHON} -m venv --system-site-packages "${VENV}")
# pip's build and egg-info go beside the venv, in the build folder, never
# into the sources.
file(GLOB before LIST_DIRECTORIES true "${SOURCE}/python/*")
run(G729A_PYTHON_BUILD_DIR=${VENV}-build
  "${VENV}/bin/pip" install --no-build-isolation --no-index --disable-pip-version-check "${SOURCE}/python")
file(GLOB after LIST_DIRECTORIES true "${SOURCE}/python/*")
list(REMOVE_ITEM after ${before})
if(after)
  message(FATAL_ERROR "pip install wrote into the sources: ${after}")
endif()
run("${VENV}/bin/python" -c "import g729a, sys; print(g729a.version()); assert g729a.__file__.startswith(sys.prefix), g729a.__file__")
run(G729A_TEST_VECTORS=${VECTORS} PYTHONDONTWRITEBYTECODE=1
  "${VENV}/bin/python" -m pytest -q -p no:cacheprovider "${SOURCE}/python/tests")
