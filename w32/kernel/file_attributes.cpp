#include "kernel/file_attributes.h"

#include <cerrno>
#include <string>

#include "kernel/drive_table.h"
#include "kernel/file.h"
#include "support/text.h"

namespace w32 {
namespace {

// The last component of a path, without trailing slashes ("/a/b/" -> "b").
std::string_view LastComponent(std::string_view path) {
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  const size_t slash = path.find_last_of('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

}  // namespace
}  // namespace w32

// GetFileAttributesW: stat(2) of the native path (drive forms through the
// drive table), following links; bits as file_attributes.h defines them.
DWORD WINAPI GetFileAttributesW(LPCWSTR name) {
  if (name == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_FILE_ATTRIBUTES;
  }
  std::string path;
  if (!w32::ToNativePath(name, &path)) return INVALID_FILE_ATTRIBUTES;  // the table set the error
  if (path.empty()) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_FILE_ATTRIBUTES;
  }
  struct stat status;
  if (::stat(path.c_str(), &status) != 0) {
    SetLastError(errno == ENOENT ? w32::MissingError(path) : w32::ErrorFromErrno(errno));
    return INVALID_FILE_ATTRIBUTES;
  }
  return w32::FileAttributesOf(status, w32::LastComponent(path), w32::WritableAt(AT_FDCWD, path.c_str()));
}
