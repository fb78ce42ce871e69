#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace w32 {
namespace {

struct Version {
  DWORD major = 10;
  DWORD minor = 0;
  DWORD build = 19045;
};

// "major.minor.build" from W32_OSVERSION; NT 10.0 when unset or unreadable.
Version ReadVersion() {
  Version version;
  const char* text = std::getenv("W32_OSVERSION");
  unsigned major = 0, minor = 0, build = 0;
  if (text != nullptr && std::sscanf(text, "%u.%u.%u", &major, &minor, &build) == 3) {
    version = Version{major, minor, build};
  }
  return version;
}

}  // namespace
}  // namespace w32

// GetVersionExA: an NT system of the version W32_OSVERSION names (NT 10.0
// by default), for the basic and the extended record alike.
BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA lpVersionInformation) {
  if (lpVersionInformation == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const DWORD size = lpVersionInformation->dwOSVersionInfoSize;
  if (size != sizeof(OSVERSIONINFOA) && size != sizeof(OSVERSIONINFOEXA)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  const w32::Version version = w32::ReadVersion();
  std::memset(lpVersionInformation, 0, size);
  lpVersionInformation->dwOSVersionInfoSize = size;
  lpVersionInformation->dwMajorVersion = version.major;
  lpVersionInformation->dwMinorVersion = version.minor;
  lpVersionInformation->dwBuildNumber = version.build;
  lpVersionInformation->dwPlatformId = VER_PLATFORM_WIN32_NT;
  if (size == sizeof(OSVERSIONINFOEXA)) {
    reinterpret_cast<LPOSVERSIONINFOEXA>(lpVersionInformation)->wProductType = VER_NT_WORKSTATION;
  }
  return TRUE;
}
