# ReadShellLink on arbitrary bytes; what it reads must survive a write and a second read.
add_device_fuzzer(shell_link
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/shell_link_fuzzer.cpp ${PROJECT_SOURCE_DIR}/w32/shell/shell_link_format.cpp)
target_include_directories(shell_link PRIVATE ${PROJECT_SOURCE_DIR}/w32 ${PROJECT_SOURCE_DIR}/w32/include)
