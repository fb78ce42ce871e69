// The file-name conversion both ways: any bytes reach UTF-16 and come back
// the same; any UTF-16 name that is taken comes back the same, and only a
// name holding an escaped byte is refused.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "support/file_name.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  std::string back;
  if (!w32::FileNameToBytes(w32::FileNameFromBytes(bytes), &back) || back != bytes) std::abort();

  std::u16string units(size / 2, u'\0');
  for (size_t i = 0; i < units.size(); ++i) units[i] = static_cast<char16_t>(data[2 * i] | data[2 * i + 1] << 8);
  if (w32::FileNameToBytes(units, &back)) {
    if (w32::FileNameFromBytes(back) != units) std::abort();
  } else {
    bool escaped = false;
    for (const char16_t c : units) escaped = escaped || (c >= 0xDC80 && c <= 0xDCFF);
    if (!escaped) std::abort();
  }
  return 0;
}
