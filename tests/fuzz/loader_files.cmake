# The readers of files that reach the loader and the profile API: the ELF
# header and dynamic section of a library, a profile file, the pci.ids database.
foreach(name library_file profile_file pci_ids)
  add_device_fuzzer(${name} SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/${name}_fuzzer.cpp LIBRARIES w32)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/w32)
endforeach()
