// InspectLibraryFile on arbitrary bytes: it answers a load error or success,
// and every needed name it reads lies within the file's string table.
#include <cstdint>
#include <cstdlib>

#include "fuzz_file.h"
#include "kernel/library_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzFile file(data, size);
  std::vector<std::string> needed;
  const DWORD error = w32::InspectLibraryFile(file.path(), &needed);
  if (error != ERROR_SUCCESS && error != ERROR_BAD_EXE_FORMAT) std::abort();
  if (error != ERROR_SUCCESS && !needed.empty()) std::abort();
  for (const std::string& name : needed) {
    if (name.size() >= size) std::abort();
  }
  return 0;
}
