#include <windows.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "support/sysroot.h"

namespace w32 {
namespace {

// The number of CPUs in a kernel CPU list ("0-3,6,8-9\n" -> 7); 0 when it is
// not such a list.
DWORD CountCpuList(const std::string& list) {
  DWORD count = 0;
  const char* cursor = list.c_str();
  while (*cursor != 0 && *cursor != '\n') {
    char* end = nullptr;
    const unsigned long first = std::strtoul(cursor, &end, 10);
    if (end == cursor) return 0;
    unsigned long last = first;
    if (*end == '-') {
      cursor = end + 1;
      last = std::strtoul(cursor, &end, 10);
      if (end == cursor || last < first) return 0;
    }
    count += static_cast<DWORD>(last - first + 1);
    cursor = end;
    if (*cursor == ',') ++cursor;
  }
  return count;
}

// Logical processors online: the kernel's list below the system root, else
// what the C library counts.
DWORD OnlineProcessors() {
  if (const DWORD count = CountCpuList(ReadSysText("/sys/devices/system/cpu/online"))) return count;
  const long count = ::sysconf(_SC_NPROCESSORS_ONLN);
  return count > 0 ? static_cast<DWORD>(count) : 1;
}

}  // namespace
}  // namespace w32

// GetSystemInfo: an x64 machine with the kernel's page size and its logical
// processors online; the address range and the 64 KiB allocation granularity
// are the platform's for 64-bit processes.
VOID WINAPI GetSystemInfo(LPSYSTEM_INFO info) {
  if (info == nullptr) return;
  const DWORD processors = w32::OnlineProcessors();
  *info = SYSTEM_INFO{};
  info->wProcessorArchitecture = PROCESSOR_ARCHITECTURE_AMD64;
  info->dwPageSize = static_cast<DWORD>(::sysconf(_SC_PAGESIZE));
  info->lpMinimumApplicationAddress = reinterpret_cast<LPVOID>(0x10000);
  info->lpMaximumApplicationAddress = reinterpret_cast<LPVOID>(0x7FFFFFFEFFFF);
  info->dwActiveProcessorMask = processors >= 64 ? ~DWORD_PTR{0} : (DWORD_PTR{1} << processors) - 1;
  info->dwNumberOfProcessors = processors;
  info->dwProcessorType = PROCESSOR_AMD_X8664;
  info->dwAllocationGranularity = 0x10000;
}
