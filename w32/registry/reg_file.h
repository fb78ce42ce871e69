#pragma once
// The registry's store: a text file in the .reg export format.
#include <windows.h>

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace w32 {

struct RegistryValue {
  DWORD type = REG_NONE;
  std::vector<BYTE> data;  // as the platform stores it: REG_SZ is UTF-16LE with its zero
};

struct RegistryKey {
  std::map<std::u16string, RegistryValue> values;  // by ASCII-lower-cased name; "" is the default value
};

// Keys by full path ("HKEY_LOCAL_MACHINE\\Software\\..."), ASCII-lower-cased.
using RegistryHive = std::map<std::u16string, RegistryKey>;

// Parses .reg text ("Windows Registry Editor Version 5.00" or "REGEDIT4"), given
// as UTF-16LE with its byte-order mark or as UTF-8. Lines it cannot read are skipped.
RegistryHive ParseRegFile(std::string_view bytes);

// The hive of the file named by W32_REGISTRY; empty when unset or unreadable.
RegistryHive LoadRegistry();

}  // namespace w32
