# The host interpreter. DEVICE_PYTHON=2: pyenv's Python 2.7.18 (shared library,
# UCS4 unicode); DEVICE_PYTHON=3: Debian's Python 3 (python3-dev). One build
# folder serves one interpreter; -DPYTHON= names another of the same major version.
set(DEVICE_PYTHON 2 CACHE STRING "Major version of the host interpreter: 2 or 3")
set_property(CACHE DEVICE_PYTHON PROPERTY STRINGS 2 3)
if(DEVICE_PYTHON STREQUAL "2")
  find_program(PYTHON NAMES python2.7
    HINTS $ENV{PYTHON2_PREFIX}/bin $ENV{HOME}/.pyenv/versions/2.7.18/bin /root/.pyenv/versions/2.7.18/bin
    NO_DEFAULT_PATH)
elseif(DEVICE_PYTHON STREQUAL "3")
  find_program(PYTHON NAMES python3 HINTS /usr/bin NO_DEFAULT_PATH)
else()
  message(FATAL_ERROR "DEVICE_PYTHON must be 2 or 3, not '${DEVICE_PYTHON}'")
endif()
if(NOT PYTHON)
  message(FATAL_ERROR "no Python ${DEVICE_PYTHON} found: install pyenv's 2.7.18 (or set PYTHON2_PREFIX), "
    "or Debian's python3-dev; or name the interpreter with -DPYTHON=")
endif()

# The interpreter's own headers (also inside a virtual environment), the folder
# of its shared library (for the C++ units and benchmarks that embed it), its version.
execute_process(COMMAND ${PYTHON} -c
  "import sys, sysconfig; v = sys.version_info; print(sysconfig.get_paths()['include']); print(sysconfig.get_config_var('LIBDIR')); print('%d' % v[0]); print('%d.%d' % (v[0], v[1]))"
  OUTPUT_VARIABLE PYTHON_FACTS OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE PYTHON_FACTS_FAILED)
if(PYTHON_FACTS_FAILED)
  message(FATAL_ERROR "${PYTHON} does not run")
endif()
string(REPLACE "\n" ";" PYTHON_FACTS "${PYTHON_FACTS}")
list(GET PYTHON_FACTS 0 PYTHON_INCLUDE_DIR)
list(GET PYTHON_FACTS 1 PYTHON_LIBRARY_DIR)
list(GET PYTHON_FACTS 2 PYTHON_MAJOR)
list(GET PYTHON_FACTS 3 PYTHON_VERSION)
if(NOT PYTHON_MAJOR STREQUAL DEVICE_PYTHON)
  message(FATAL_ERROR "${PYTHON} is Python ${PYTHON_VERSION}, not ${DEVICE_PYTHON}")
endif()
if(NOT EXISTS ${PYTHON_INCLUDE_DIR}/Python.h)
  message(FATAL_ERROR "no Python.h for ${PYTHON}: install its headers (python3-dev for Debian's python3)")
endif()
message(STATUS "Host interpreter: ${PYTHON} (Python ${PYTHON_VERSION})")

# Extension modules resolve interpreter symbols from the host at load time.
# Our code reaches them through the Python layer (src/python, device_python).
add_library(python_headers INTERFACE)
target_include_directories(python_headers SYSTEM INTERFACE ${PYTHON_INCLUDE_DIR})

# Executables that embed the interpreter link its shared library.
function(link_python_library target)
  find_library(PYTHON_LIBRARY NAMES python${PYTHON_VERSION} PATHS ${PYTHON_LIBRARY_DIR} NO_DEFAULT_PATH REQUIRED)
  target_link_libraries(${target} PRIVATE ${PYTHON_LIBRARY})
  set_property(TARGET ${target} APPEND PROPERTY BUILD_RPATH "${PYTHON_LIBRARY_DIR}")
endfunction()

function(add_python_module name)
  add_library(${name} MODULE ${ARGN})
  set_target_properties(${name} PROPERTIES PREFIX "" SUFFIX ".so"
    CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON
    BUILD_RPATH "$ORIGIN/${DEVICE_SUPPORT_FOLDER}" INSTALL_RPATH "$ORIGIN/${DEVICE_SUPPORT_FOLDER}")
  target_link_libraries(${name} PRIVATE python_headers)
endfunction()
