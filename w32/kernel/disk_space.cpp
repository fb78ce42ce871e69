#include <windows.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include <cerrno>
#include <string>

#include "kernel/drive_table.h"
#include "kernel/file.h"

// GetDiskFreeSpaceExW: statvfs(3) of a folder on the volume (drive forms
// through the drive table; null is the current folder). The caller's share is
// what unprivileged users may take (f_bavail), the total free includes the
// blocks reserved for the superuser (f_bfree).
BOOL WINAPI GetDiskFreeSpaceExW(LPCWSTR directory, PULARGE_INTEGER available_to_caller, PULARGE_INTEGER total,
                                PULARGE_INTEGER total_free) {
  std::string path = ".";
  if (directory != nullptr && !w32::ToNativePath(directory, &path)) return FALSE;  // the table set the error
  if (path.empty()) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return FALSE;
  }
  struct stat status;
  if (::stat(path.c_str(), &status) != 0) {
    SetLastError(errno == ENOENT ? w32::MissingError(path) : w32::ErrorFromErrno(errno));
    return FALSE;
  }
  if (!S_ISDIR(status.st_mode)) {
    SetLastError(ERROR_DIRECTORY);
    return FALSE;
  }
  struct statvfs volume;
  if (::statvfs(path.c_str(), &volume) != 0) {
    SetLastError(w32::ErrorFromErrno(errno));
    return FALSE;
  }
  const ULONGLONG unit = volume.f_frsize;
  if (available_to_caller != nullptr) available_to_caller->QuadPart = volume.f_bavail * unit;
  if (total != nullptr) total->QuadPart = volume.f_blocks * unit;
  if (total_free != nullptr) total_free->QuadPart = volume.f_bfree * unit;
  return TRUE;
}
