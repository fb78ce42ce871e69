#include "system/machine_facts.h"

namespace device {

std::u16string GetUserName() {
  WCHAR name[1024] = {};
  DWORD size = 1024;
  if (!GetUserNameW(name, &size)) return std::u16string();
  return std::u16string(name);
}

std::optional<int> GetAvailableDiskSpaceMB(const WCHAR* path) {
  ULARGE_INTEGER available = {};
  ULARGE_INTEGER total = {};
  ULARGE_INTEGER free = {};
  if (!GetDiskFreeSpaceExW(path, &available, &total, &free)) return std::nullopt;
  return static_cast<int>(static_cast<DWORD>(free.QuadPart >> 20));  // the low 32 bits, as a signed int
}

int GetLogicalCpuNumber() {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  return static_cast<int>(info.dwNumberOfProcessors);
}

}  // namespace device
