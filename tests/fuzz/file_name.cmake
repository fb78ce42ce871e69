# The file-name conversion between Linux bytes and UTF-16, both round trips.
add_device_fuzzer(file_name
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/file_name_fuzzer.cpp ${PROJECT_SOURCE_DIR}/w32/support/file_name.cpp)
target_include_directories(file_name PRIVATE ${PROJECT_SOURCE_DIR}/w32)
