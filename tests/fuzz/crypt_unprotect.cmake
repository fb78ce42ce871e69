# CryptUnprotectData on arbitrary bytes: outside bytes that the module hands to w32.
add_device_fuzzer(crypt_unprotect
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/crypt_unprotect_fuzzer.cpp
  LIBRARIES w32)
