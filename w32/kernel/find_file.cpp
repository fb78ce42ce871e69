#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

#include "kernel/drive_table.h"
#include "kernel/file.h"
#include "kernel/file_attributes.h"
#include "kernel/wildcard.h"
#include "support/file_name.h"
#include "support/handle_map.h"

namespace w32 {
namespace {

FILETIME ToFileTime(const struct timespec& time) {
  constexpr ULONGLONG kEpochDifference = 11644473600ULL;
  const ULONGLONG ticks =
      (static_cast<ULONGLONG>(time.tv_sec) + kEpochDifference) * 10000000ULL + static_cast<ULONGLONG>(time.tv_nsec) / 100;
  return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

// Whether the effective user may write an entry. On a writable mount the
// mode bits answer for the common cases: root, or a file the user may write
// by its owner or group bits (root's answer leaves out immutable files).
// Every other case asks the kernel, which also knows access lists. Saves a
// path lookup per entry of a large folder.
class WriteCheck {
 public:
  explicit WriteCheck(int folder) : folder_(folder), user_(::geteuid()), group_(::getegid()) {
    struct statvfs volume;
    read_only_ = ::fstatvfs(folder, &volume) == 0 && (volume.f_flag & ST_RDONLY) != 0;
  }

  bool Writable(const struct stat& status, const char* name) const {
    if (!read_only_) {
      if (user_ == 0) return true;
      const mode_t bit = status.st_uid == user_ ? S_IWUSR : status.st_gid == group_ ? S_IWGRP : 0;
      if (bit != 0 && (status.st_mode & bit) != 0) return true;
    }
    return WritableAt(folder_, name);
  }

 private:
  const int folder_;
  const uid_t user_;
  const gid_t group_;
  bool read_only_ = false;
};

// One search: an open folder read entry by entry, the dot entries first.
class FindSearch {
 public:
  FindSearch(DIR* folder, std::u16string_view pattern, bool root)
      : folder_(folder), writes_(::dirfd(folder)), pattern_(pattern), dots_left_(root ? 0 : 2) {}
  ~FindSearch() { ::closedir(folder_); }

  // The next matching entry into `data`; false with the last error set.
  bool Next(WIN32_FIND_DATAW* data) {
    std::lock_guard<std::mutex> guard(lock_);
    while (dots_left_ > 0) {
      const bool self = dots_left_-- == 2;
      if (pattern_.Matches(self ? u"." : u"..") && Fill(self ? "." : "..", data)) return true;
    }
    while (!done_) {
      errno = 0;
      const struct dirent* entry = ::readdir(folder_);
      if (entry == nullptr) {
        SetLastError(errno == 0 ? ERROR_NO_MORE_FILES : ErrorFromErrno(errno));
        return false;
      }
      if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
      if (pattern_.MatchesEverything()) {
        if (Fill(entry->d_name, data)) return true;
        continue;
      }
      const std::u16string name = FileNameFromBytes(entry->d_name);
      if (pattern_.Matches(name) && Fill(entry->d_name, data, &name)) return true;
    }
    SetLastError(ERROR_NO_MORE_FILES);
    return false;
  }

  // A pattern without wildcards names one entry: when an entry of exactly
  // that name exists it is the only answer; otherwise the folder is read for
  // one that differs in case.
  bool TakeExact(std::u16string_view name, WIN32_FIND_DATAW* data) {
    std::lock_guard<std::mutex> guard(lock_);
    if (pattern_.HasWildcards() || name == u"." || name == u"..") return false;
    std::string bytes;
    if (!FileNameToBytes(name, &bytes) || !Fill(bytes.c_str(), data)) return false;
    dots_left_ = 0;
    done_ = true;
    return true;
  }

 private:
  // False when the entry went away since it was read.
  bool Fill(const char* name, WIN32_FIND_DATAW* data, const std::u16string* wide_name = nullptr) {
    struct stat status;
    const int folder = ::dirfd(folder_);
    if (::fstatat(folder, name, &status, 0) != 0 && ::fstatat(folder, name, &status, AT_SYMLINK_NOFOLLOW) != 0) {
      return false;
    }
    data->dwFileAttributes = FileAttributesOf(status, name, writes_.Writable(status, name));
    data->ftCreationTime = ToFileTime(status.st_mtim);
    data->ftLastAccessTime = ToFileTime(status.st_atim);
    data->ftLastWriteTime = ToFileTime(status.st_mtim);
    const ULONGLONG size = S_ISDIR(status.st_mode) ? 0 : static_cast<ULONGLONG>(status.st_size);
    data->nFileSizeHigh = static_cast<DWORD>(size >> 32);
    data->nFileSizeLow = static_cast<DWORD>(size);
    data->dwReserved0 = 0;
    data->dwReserved1 = 0;
    const std::u16string wide = wide_name != nullptr ? *wide_name : FileNameFromBytes(name);
    const size_t kept = std::min(wide.size(), static_cast<size_t>(MAX_PATH - 1));
    std::memcpy(data->cFileName, wide.data(), kept * sizeof(WCHAR));
    data->cFileName[kept] = 0;
    data->cAlternateFileName[0] = 0;  // no short names here
    return true;
  }

  std::mutex lock_;
  DIR* const folder_;
  const WriteCheck writes_;
  const Wildcard pattern_;
  int dots_left_;
  bool done_ = false;
};

HandleMap<FindSearch>& FindHandles() {
  static HandleMap<FindSearch>* handles = new HandleMap<FindSearch>(ULONG_PTR{1} << 40, 4);
  return *handles;
}

// A drive root has no dot entries.
bool IsDriveRoot(const std::string& folder) {
  char resolved[PATH_MAX];
  if (::realpath(folder.c_str(), resolved) == nullptr) return false;
  const std::u16string drive = ToDrivePath(resolved);
  return drive.size() == 3 && drive[1] == u':';
}

}  // namespace
}  // namespace w32

// FindFirstFileExW: opendir of the pattern's folder (drive form through the
// drive table), entries matched by the platform's wildcard rules without
// regard to ASCII case; "." and ".." first, except at a drive root.
HANDLE WINAPI FindFirstFileExW(LPCWSTR lpFileName, FINDEX_INFO_LEVELS fInfoLevelId, LPVOID lpFindFileData,
                               FINDEX_SEARCH_OPS fSearchOp, LPVOID lpSearchFilter, DWORD dwAdditionalFlags) {
  if (lpFileName == nullptr || lpFindFileData == nullptr ||
      (fInfoLevelId != FindExInfoStandard && fInfoLevelId != FindExInfoBasic) ||
      (fSearchOp != FindExSearchNameMatch && fSearchOp != FindExSearchLimitToDirectories) ||
      lpSearchFilter != nullptr || (dwAdditionalFlags & ~static_cast<DWORD>(FIND_FIRST_EX_LARGE_FETCH)) != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  const std::u16string_view path(lpFileName);
  const size_t separator = path.find_last_of(u"\\/");
  const std::u16string_view name = separator == std::u16string_view::npos ? path : path.substr(separator + 1);
  std::string folder = ".";
  if (separator != std::u16string_view::npos && !w32::ToNativePath(path.substr(0, separator + 1), &folder)) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  if (name.empty()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  if (folder.empty()) folder = "/";
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  DIR* opened = fd < 0 ? nullptr : ::fdopendir(fd);
  if (opened == nullptr) {
    const int error = errno;
    if (fd >= 0) ::close(fd);
    SetLastError(error == ENOENT || error == ENOTDIR ? ERROR_PATH_NOT_FOUND : w32::ErrorFromErrno(error));
    return INVALID_HANDLE_VALUE;
  }
  auto search = std::make_shared<w32::FindSearch>(opened, name, w32::IsDriveRoot(folder));
  auto* data = static_cast<LPWIN32_FIND_DATAW>(lpFindFileData);
  if (!search->TakeExact(name, data) && !search->Next(data)) {
    if (GetLastError() == ERROR_NO_MORE_FILES) SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  const ULONG_PTR value = w32::FindHandles().Insert(std::move(search), [](w32::FindSearch&, ULONG_PTR) {});
  SetLastError(ERROR_SUCCESS);
  return reinterpret_cast<HANDLE>(value);
}

// FindNextFileW: the search's next entry; ERROR_NO_MORE_FILES at the end.
BOOL WINAPI FindNextFileW(HANDLE hFindFile, LPWIN32_FIND_DATAW lpFindFileData) {
  std::shared_ptr<w32::FindSearch> search = w32::FindHandles().Lookup(reinterpret_cast<ULONG_PTR>(hFindFile));
  if (!search) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (lpFindFileData == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return search->Next(lpFindFileData) ? TRUE : FALSE;
}

// FindClose: ends a search of FindFirstFileExW; any other value is refused.
BOOL WINAPI FindClose(HANDLE hFindFile) {
  if (!w32::FindHandles().Remove(reinterpret_cast<ULONG_PTR>(hFindFile))) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}
