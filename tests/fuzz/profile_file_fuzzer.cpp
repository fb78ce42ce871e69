// GetPrivateProfileStringW on an arbitrary file: every answer fits its
// buffer with its terminator.
#include <windows.h>

#include <cstdint>
#include <cstdlib>

#include "fuzz_file.h"
#include "support/text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzFile file(data, size);
  const std::u16string path = w32::ToUtf16(file.path());
  const struct {
    const WCHAR* section;
    const WCHAR* key;
  } lookups[] = {{u"Path", u"QXDeviceDetector.dll"}, {u"a", u"b"}};
  for (DWORD capacity : {1u, 2u, 7u, 260u}) {
    for (const auto& lookup : lookups) {
      WCHAR buffer[261];
      buffer[capacity] = u'#';
      const DWORD count = GetPrivateProfileStringW(lookup.section, lookup.key, u"x", buffer, capacity, path.c_str());
      if (count >= capacity || buffer[count] != 0 || buffer[capacity] != u'#') std::abort();
    }
  }
  return 0;
}
