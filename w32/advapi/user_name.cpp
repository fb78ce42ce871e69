#include <windows.h>
#include <pwd.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/text.h"

// GetUserNameW: the login name of the effective user, from the user database
// (getpwuid_r); a user without an entry there has no name to give.
BOOL WINAPI GetUserNameW(LPWSTR buffer, LPDWORD size) {
  if (size == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const long suggested = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> scratch(suggested > 0 ? static_cast<size_t>(suggested) : 16384);
  struct passwd entry;
  struct passwd* found = nullptr;
  while (::getpwuid_r(::geteuid(), &entry, scratch.data(), scratch.size(), &found) == ERANGE) {
    scratch.resize(scratch.size() * 2);
  }
  if (found == nullptr) {
    SetLastError(ERROR_NONE_MAPPED);
    return FALSE;
  }
  const std::u16string name = w32::ToUtf16(found->pw_name);
  const DWORD needed = static_cast<DWORD>(name.size() + 1);
  if (buffer == nullptr || *size < needed) {
    *size = needed;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  name.copy(buffer, name.size());
  buffer[name.size()] = 0;
  *size = needed;
  return TRUE;
}
