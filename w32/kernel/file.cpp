#include "kernel/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "kernel/drive_table.h"

namespace w32 {

DWORD ErrorFromErrno(int error) {
  switch (error) {
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR: return ERROR_ACCESS_DENIED;
    case EROFS: return ERROR_WRITE_PROTECT;
    case EEXIST: return ERROR_FILE_EXISTS;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case ELOOP: return ERROR_CANT_RESOLVE_FILENAME;
    case EMFILE:
    case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    case EXDEV: return ERROR_NOT_SAME_DEVICE;
    case ENOSPC:
    case EDQUOT: return ERROR_DISK_FULL;
    default: return ERROR_GEN_FAILURE;
  }
}

DWORD MissingError(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ERROR_FILE_NOT_FOUND;
  struct stat status;
  const std::string folder = slash == 0 ? "/" : path.substr(0, slash);
  return ::stat(folder.c_str(), &status) == 0 && S_ISDIR(status.st_mode) ? ERROR_FILE_NOT_FOUND
                                                                          : ERROR_PATH_NOT_FOUND;
}

File::File(int fd, bool directory, DWORD access, DWORD flags)
    : fd_(fd), directory_(directory), access_(access), flags_(flags) {}

File::~File() {
  change_watch.reset();  // cancels a pending change read while the file is whole
  ::close(fd_);
}

void File::SetSignalled(bool signalled) {
  signalled_ = signalled;
  if (signalled) WakeWaiters();
}

namespace {

DWORD MapGenericAccess(DWORD access) {
  DWORD mapped = access & ~(GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL);
  if (access & GENERIC_READ) mapped |= FILE_GENERIC_READ;
  if (access & GENERIC_WRITE) mapped |= FILE_GENERIC_WRITE;
  if (access & GENERIC_EXECUTE) mapped |= FILE_GENERIC_EXECUTE;
  if (access & GENERIC_ALL) mapped |= FILE_ALL_ACCESS;
  return mapped;
}

int OpenFlags(DWORD access, bool folder) {
  if (folder) return O_RDONLY | O_DIRECTORY | O_CLOEXEC;
  const bool read = (access & (FILE_READ_DATA | FILE_EXECUTE)) != 0;
  const bool write = (access & (FILE_WRITE_DATA | FILE_APPEND_DATA)) != 0;
  return O_CLOEXEC | (read && write ? O_RDWR : write ? O_WRONLY : O_RDONLY);
}

// The access(2) mode that the data access asked for needs.
int AccessMode(DWORD access) {
  int mode = F_OK;
  if (access & (FILE_READ_DATA | FILE_EXECUTE)) mode |= R_OK;
  if (access & (FILE_WRITE_DATA | FILE_APPEND_DATA)) mode |= W_OK;
  return mode;
}

// Opens for real what an O_PATH descriptor found, and consumes that
// descriptor. A FIFO, socket or device keeps it instead: opening one for real
// would wait for a writer or act on the device, so the access is checked by
// hand. -1 with errno on failure.
int OpenFound(int found, const struct stat& status, DWORD access) {
  const std::string path = "/proc/self/fd/" + std::to_string(found);
  const bool special = !S_ISDIR(status.st_mode) && !S_ISREG(status.st_mode);
  const int fd = special ? (::faccessat(AT_FDCWD, path.c_str(), AccessMode(access), AT_EACCESS) == 0 ? found : -1)
                         : ::open(path.c_str(), OpenFlags(access, S_ISDIR(status.st_mode)));
  if (fd != found) {
    const int error = errno;
    ::close(found);
    errno = error;
  }
  return fd;
}

}  // namespace
}  // namespace w32

// CreateFileW: an O_PATH open(2) of an existing file or folder by its native
// path (a drive form maps through the drive table), then a real open through that descriptor (FIFOs, sockets and devices
// keep it: see OpenFound); folders need FILE_FLAG_BACKUP_SEMANTICS and open
// read-only whatever the access asked. Only OPEN_EXISTING is supported; share
// modes (Linux has none), security attributes and the template are not modelled.
HANDLE WINAPI CreateFileW(LPCWSTR name, DWORD desired_access, DWORD share_mode, LPSECURITY_ATTRIBUTES,
                          DWORD disposition, DWORD flags_and_attributes, HANDLE) {
  if (name == nullptr || disposition < CREATE_NEW || disposition > TRUNCATE_EXISTING ||
      (share_mode & ~static_cast<DWORD>(FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE)) != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  if (disposition != OPEN_EXISTING || (flags_and_attributes & FILE_FLAG_DELETE_ON_CLOSE)) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return INVALID_HANDLE_VALUE;
  }
  std::string path;
  if (!w32::ToNativePath(name, &path)) return INVALID_HANDLE_VALUE;
  if (path.empty()) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  const DWORD access = w32::MapGenericAccess(desired_access);
  const int found = ::open(path.c_str(), O_PATH | O_CLOEXEC);
  if (found < 0) {
    SetLastError(errno == ENOENT ? w32::MissingError(path) : w32::ErrorFromErrno(errno));
    return INVALID_HANDLE_VALUE;
  }
  struct stat status;
  if (::fstat(found, &status) != 0) {
    SetLastError(w32::ErrorFromErrno(errno));
    ::close(found);
    return INVALID_HANDLE_VALUE;
  }
  const bool folder = S_ISDIR(status.st_mode);
  if (folder && (flags_and_attributes & FILE_FLAG_BACKUP_SEMANTICS) == 0) {
    ::close(found);
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  const int fd = w32::OpenFound(found, status, access);
  if (fd < 0) {
    SetLastError(w32::ErrorFromErrno(errno));
    return INVALID_HANDLE_VALUE;
  }
  HANDLE handle = w32::InsertHandle(std::make_shared<w32::File>(fd, folder, access, flags_and_attributes));
  SetLastError(ERROR_SUCCESS);
  return handle;
}
