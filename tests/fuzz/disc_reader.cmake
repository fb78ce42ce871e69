# A disc's tree read from arbitrary sectors: UDF, else ISO 9660, and the kind from it.
add_device_fuzzer(disc_reader
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/disc_reader_fuzzer.cpp
          ${PROJECT_SOURCE_DIR}/components/detector/disc_reader.cpp
          ${PROJECT_SOURCE_DIR}/components/detector/disc_layout.cpp)
target_include_directories(disc_reader PRIVATE ${PROJECT_SOURCE_DIR}/components/detector ${PROJECT_SOURCE_DIR}/w32/include)
