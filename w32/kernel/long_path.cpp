#include <windows.h>
#include <sys/stat.h>

#include <cstring>
#include <string>

#include "kernel/drive_table.h"
#include "kernel/file.h"

// GetLongPathNameW: Linux names have no short forms, so the long form of an
// existing path is the path as given; a missing one fails as the platform's
// does. A buffer too small is left untouched and the size it needs returned.
DWORD WINAPI GetLongPathNameW(LPCWSTR lpszShortPath, LPWSTR lpszLongPath, DWORD cchBuffer) {
  if (lpszShortPath == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const std::u16string_view path(lpszShortPath);
  std::string native;
  struct stat status;
  if (path.empty() || !w32::ToNativePath(path, &native)) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return 0;
  }
  if (::lstat(native.c_str(), &status) != 0) {
    const int error = errno;
    const size_t slash = native.find_last_of('/');
    const std::string parent = slash == std::string::npos ? "." : slash == 0 ? "/" : native.substr(0, slash);
    struct stat folder;
    const bool parent_is_folder = ::stat(parent.c_str(), &folder) == 0 && S_ISDIR(folder.st_mode);
    SetLastError(error == ENOENT ? (parent_is_folder ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND)
                                 : w32::ErrorFromErrno(error));
    return 0;
  }
  if (lpszLongPath == nullptr || cchBuffer <= path.size()) return static_cast<DWORD>(path.size() + 1);
  std::memcpy(lpszLongPath, path.data(), path.size() * sizeof(WCHAR));
  lpszLongPath[path.size()] = 0;
  return static_cast<DWORD>(path.size());
}
