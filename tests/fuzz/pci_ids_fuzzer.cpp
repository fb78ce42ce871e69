// PciDeviceName on an arbitrary database: a name, when found, is text of the file.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz_file.h"
#include "wmi/pci_ids.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzFile file(data, size);
  const std::string text(reinterpret_cast<const char*>(data), size);
  for (const w32::wmi::PciIdentity& identity :
       {w32::wmi::PciIdentity{0x8086, 0x0046, 0x1028, 0x040a}, w32::wmi::PciIdentity{0, 0, 0, 0}}) {
    const std::optional<std::string> name = w32::wmi::PciDeviceName(file.path(), identity);
    if (name.has_value() && text.find(*name) == std::string::npos) std::abort();
  }
  return 0;
}
