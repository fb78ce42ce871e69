# The host interpreter: pyenv's Python 2.7.18 (shared library, UCS4 unicode).
find_program(PYTHON2 NAMES python2.7
  HINTS $ENV{PYTHON2_PREFIX}/bin $ENV{HOME}/.pyenv/versions/2.7.18/bin /root/.pyenv/versions/2.7.18/bin
  NO_DEFAULT_PATH)
if(NOT PYTHON2)
  message(FATAL_ERROR "python2.7 not found: install pyenv's 2.7.18 or set PYTHON2_PREFIX")
endif()
# The interpreter's own headers, also when it runs inside a virtual environment.
execute_process(COMMAND ${PYTHON2} -c "from distutils import sysconfig; print(sysconfig.get_python_inc())"
  OUTPUT_VARIABLE PYTHON2_INCLUDE_DIR OUTPUT_STRIP_TRAILING_WHITESPACE)
# Where libpython2.7.so lives, for the C++ units and benchmarks that embed the interpreter.
execute_process(COMMAND ${PYTHON2} -c "from distutils import sysconfig; print(sysconfig.get_config_var('LIBDIR'))"
  OUTPUT_VARIABLE PYTHON2_LIBRARY_DIR OUTPUT_STRIP_TRAILING_WHITESPACE)

# Extension modules resolve interpreter symbols from the host at load time.
add_library(python2_headers INTERFACE)
target_include_directories(python2_headers SYSTEM INTERFACE ${PYTHON2_INCLUDE_DIR})

function(add_python2_module name)
  add_library(${name} MODULE ${ARGN})
  set_target_properties(${name} PROPERTIES PREFIX "" SUFFIX ".so"
    CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON
    BUILD_RPATH "$ORIGIN" INSTALL_RPATH "$ORIGIN")
  target_link_libraries(${name} PRIVATE python2_headers)
endfunction()
