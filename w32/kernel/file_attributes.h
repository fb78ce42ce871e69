#pragma once
// The platform's attribute bits of a file, from a stat of it and its name.
// Linux has no hidden, system or archive bits: hidden is a name that starts
// with a dot (other than "." and ".."), read-only is a file the effective user
// may not write.
#include <windows.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string_view>

namespace w32 {

// `name` is the file's last path component.
inline DWORD FileAttributesOf(const struct stat& status, std::string_view name, bool writable) {
  DWORD attributes = 0;
  if (S_ISDIR(status.st_mode)) attributes |= FILE_ATTRIBUTE_DIRECTORY;
  if (!name.empty() && name.front() == '.' && name != "." && name != "..") attributes |= FILE_ATTRIBUTE_HIDDEN;
  if (!writable) attributes |= FILE_ATTRIBUTE_READONLY;
  return attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes;
}

// Whether the effective user may write `path` (relative to `folder_fd`).
inline bool WritableAt(int folder_fd, const char* path) { return ::faccessat(folder_fd, path, W_OK, AT_EACCESS) == 0; }

}  // namespace w32
