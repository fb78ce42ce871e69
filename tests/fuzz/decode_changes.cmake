# DecodeChanges on arbitrary bytes, split into two batches that share their rename halves.
add_device_fuzzer(decode_changes
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/decode_changes_fuzzer.cpp ${PROJECT_SOURCE_DIR}/src/monitor/decode_changes.cpp)
target_include_directories(decode_changes PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/w32/include)
