#include <windows.h>

#include <cstring>
#include <string>

#include "support/text.h"

// MultiByteToWideChar: the ANSI code pages here are UTF-8, as the locale's
// text is; CP_ACP, CP_THREAD_ACP and CP_UTF8 convert alike. Ill-formed input
// becomes U+FFFD, or fails with ERROR_NO_UNICODE_TRANSLATION under
// MB_ERR_INVALID_CHARS.
int WINAPI MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
                               LPWSTR lpWideCharStr, int cchWideChar) {
  if (lpMultiByteStr == nullptr || cbMultiByte == 0 || cbMultiByte < -1 || cchWideChar < 0 ||
      (lpWideCharStr == nullptr && cchWideChar != 0) || (dwFlags & ~static_cast<DWORD>(MB_ERR_INVALID_CHARS)) != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (CodePage != CP_ACP && CodePage != CP_THREAD_ACP && CodePage != CP_UTF8) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const size_t size = cbMultiByte == -1 ? std::strlen(lpMultiByteStr) + 1 : static_cast<size_t>(cbMultiByte);
  const std::string_view bytes(lpMultiByteStr, size);
  const std::u16string wide = w32::ToUtf16(bytes);
  if ((dwFlags & MB_ERR_INVALID_CHARS) != 0 && w32::ToUtf8(wide) != bytes) {
    SetLastError(ERROR_NO_UNICODE_TRANSLATION);
    return 0;
  }
  if (cchWideChar == 0) return static_cast<int>(wide.size());
  if (wide.size() > static_cast<size_t>(cchWideChar)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(lpWideCharStr, wide.data(), wide.size() * sizeof(WCHAR));
  return static_cast<int>(wide.size());
}
