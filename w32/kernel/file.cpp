#include "kernel/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <string>
#include <utility>
#include <vector>

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

File::File(int fd, bool directory, DWORD access, DWORD flags, std::shared_ptr<void> share_entry)
    : fd_(fd), directory_(directory), access_(access), flags_(flags), share_entry_(std::move(share_entry)) {}

File::~File() {
  change_watch.reset();  // cancels a pending change read while the file is whole
  ::close(fd_);
}

void File::SetSignalled(bool signalled) {
  signalled_ = signalled;
  if (signalled) WakeWaiters();
}

namespace {

// The share modes of every w32 handle open on a file, by device and inode.
// Only handles opened through w32 take part: Linux itself has no share modes.
struct ShareUse {
  DWORD access;
  DWORD share;
};

struct ShareTable {
  std::mutex lock;
  std::map<std::pair<dev_t, ino_t>, std::vector<ShareUse*>> files;
};

ShareTable& TheShareTable() {
  static ShareTable* table = new ShareTable;
  return *table;
}

DWORD MapGenericAccess(DWORD access) {
  DWORD mapped = access & ~(GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL);
  if (access & GENERIC_READ) mapped |= FILE_GENERIC_READ;
  if (access & GENERIC_WRITE) mapped |= FILE_GENERIC_WRITE;
  if (access & GENERIC_EXECUTE) mapped |= FILE_GENERIC_EXECUTE;
  if (access & GENERIC_ALL) mapped |= FILE_ALL_ACCESS;
  return mapped;
}

// The kinds of access that share modes govern, as FILE_SHARE_* bits.
DWORD SharedKinds(DWORD access) {
  DWORD kinds = 0;
  if (access & (FILE_READ_DATA | FILE_EXECUTE)) kinds |= FILE_SHARE_READ;
  if (access & (FILE_WRITE_DATA | FILE_APPEND_DATA)) kinds |= FILE_SHARE_WRITE;
  if (access & DELETE) kinds |= FILE_SHARE_DELETE;
  return kinds;
}

// Registers a new handle's access and share mode; null when an open handle
// refuses the access or uses what the new share mode refuses. A handle without
// data or delete access takes no part in sharing, as on the platform.
std::shared_ptr<void> RegisterShare(const struct stat& status, DWORD access, DWORD share) {
  if (SharedKinds(access) == 0) return std::make_shared<int>(0);
  ShareTable& table = TheShareTable();
  const auto key = std::make_pair(status.st_dev, status.st_ino);
  std::lock_guard<std::mutex> guard(table.lock);
  std::vector<ShareUse*>& uses = table.files[key];
  for (const ShareUse* use : uses) {
    if ((SharedKinds(access) & ~use->share) != 0 || (SharedKinds(use->access) & ~share) != 0) return nullptr;
  }
  auto* use = new ShareUse{access, share};
  uses.push_back(use);
  return std::shared_ptr<void>(use, [key](void* entry) {
    ShareTable& table = TheShareTable();
    std::lock_guard<std::mutex> guard(table.lock);
    std::vector<ShareUse*>& uses = table.files[key];
    for (auto it = uses.begin(); it != uses.end(); ++it) {
      if (*it == entry) {
        uses.erase(it);
        break;
      }
    }
    if (uses.empty()) table.files.erase(key);
    delete static_cast<ShareUse*>(entry);
  });
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

// Filetime ticks (100 ns since 1601) of a Linux time.
FILETIME ToFileTime(const struct statx_timestamp& time) {
  constexpr ULONGLONG kEpochDifference = 11644473600ULL;
  const ULONGLONG ticks = (static_cast<ULONGLONG>(time.tv_sec) + kEpochDifference) * 10000000ULL + time.tv_nsec / 100;
  return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

}  // namespace
}  // namespace w32

// CreateFileW: an O_PATH open(2) of an existing file or folder by its native
// path (a drive form maps through the drive table), then a real open through that descriptor (FIFOs, sockets and devices
// keep it: see OpenFound); folders need FILE_FLAG_BACKUP_SEMANTICS and open
// read-only whatever the access asked; share modes are checked among w32's own
// handles of the same file. Only OPEN_EXISTING is supported; security
// attributes and the template are not modelled.
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
  std::shared_ptr<void> share = w32::RegisterShare(status, access, share_mode);
  if (!share) {
    ::close(fd);
    SetLastError(ERROR_SHARING_VIOLATION);
    return INVALID_HANDLE_VALUE;
  }
  HANDLE handle = w32::InsertHandle(
      std::make_shared<w32::File>(fd, folder, access, flags_and_attributes, std::move(share)));
  SetLastError(ERROR_SUCCESS);
  return handle;
}

// GetFileInformationByHandle: statx of the descriptor; hidden is a name that
// starts with a dot, which a handle does not know, so it is never reported.
BOOL WINAPI GetFileInformationByHandle(HANDLE handle, LPBY_HANDLE_FILE_INFORMATION information) {
  std::shared_ptr<w32::File> file = w32::LookupHandleAs<w32::File>(handle);
  if (!file) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (information == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  struct statx status;
  if (::statx(file->fd(), "", AT_EMPTY_PATH, STATX_BASIC_STATS | STATX_BTIME, &status) != 0) {
    SetLastError(w32::ErrorFromErrno(errno));
    return FALSE;
  }
  DWORD attributes = S_ISDIR(status.stx_mode) ? FILE_ATTRIBUTE_DIRECTORY : 0;
  if ((status.stx_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) attributes |= FILE_ATTRIBUTE_READONLY;
  if (attributes == 0) attributes = FILE_ATTRIBUTE_NORMAL;
  information->dwFileAttributes = attributes;
  information->ftCreationTime = w32::ToFileTime((status.stx_mask & STATX_BTIME) ? status.stx_btime : status.stx_mtime);
  information->ftLastAccessTime = w32::ToFileTime(status.stx_atime);
  information->ftLastWriteTime = w32::ToFileTime(status.stx_mtime);
  information->dwVolumeSerialNumber = static_cast<DWORD>(makedev(status.stx_dev_major, status.stx_dev_minor));
  information->nFileSizeHigh = static_cast<DWORD>(status.stx_size >> 32);
  information->nFileSizeLow = static_cast<DWORD>(status.stx_size);
  information->nNumberOfLinks = status.stx_nlink;
  information->nFileIndexHigh = static_cast<DWORD>(status.stx_ino >> 32);
  information->nFileIndexLow = static_cast<DWORD>(status.stx_ino);
  return TRUE;
}
