#include <windows.h>

#include <optional>
#include <string>

#include "support/text.h"
#include "support/user_entry.h"

// GetUserNameW: the login name of the effective user, from the user database
// (getpwuid_r); a user without an entry there has no name to give.
BOOL WINAPI GetUserNameW(LPWSTR buffer, LPDWORD size) {
  if (size == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const std::optional<w32::UserEntry> user = w32::EffectiveUserEntry();
  if (!user) {
    SetLastError(ERROR_NONE_MAPPED);
    return FALSE;
  }
  const std::u16string name = w32::ToUtf16(user->name);
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
