#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

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

// What the find data takes from a stat of an entry.
struct EntryFacts {
  DWORD attributes;
  FILETIME access;
  FILETIME write;
  ULONGLONG size;
};

// False when the entry went away since it was read.
bool StatEntry(int folder, const char* name, const WriteCheck& writes, EntryFacts* facts) {
  struct stat status;
  if (::fstatat(folder, name, &status, 0) != 0 && ::fstatat(folder, name, &status, AT_SYMLINK_NOFOLLOW) != 0) {
    return false;
  }
  facts->attributes = FileAttributesOf(status, name, writes.Writable(status, name));
  facts->access = ToFileTime(status.st_atim);
  facts->write = ToFileTime(status.st_mtim);
  facts->size = S_ISDIR(status.st_mode) ? 0 : static_cast<ULONGLONG>(status.st_size);
  return true;
}

void FillFindData(const EntryFacts& facts, std::string_view name, WIN32_FIND_DATAW* data) {
  data->dwFileAttributes = facts.attributes;
  data->ftCreationTime = facts.write;
  data->ftLastAccessTime = facts.access;
  data->ftLastWriteTime = facts.write;
  data->nFileSizeHigh = static_cast<DWORD>(facts.size >> 32);
  data->nFileSizeLow = static_cast<DWORD>(facts.size);
  data->dwReserved0 = 0;
  data->dwReserved1 = 0;
  const size_t limit = MAX_PATH - 1;
  size_t kept = 0;
  // An ASCII name is its own UTF-16; only others take the full conversion.
  while (kept < name.size() && kept < limit && static_cast<unsigned char>(name[kept]) < 0x80) {
    data->cFileName[kept] = static_cast<WCHAR>(name[kept]);
    ++kept;
  }
  if (kept < name.size() && kept < limit) {
    const std::u16string wide = FileNameFromBytes(name);
    kept = std::min(wide.size(), limit);
    std::memcpy(data->cFileName, wide.data(), kept * sizeof(WCHAR));
  }
  data->cFileName[kept] = 0;
  data->cAlternateFileName[0] = 0;  // no short names here
}

// One search: an open folder, the dot entries first. Entries are taken from
// the folder in batches, as the platform fills its directory buffer, and a
// batch is stat'ed in inode order: on a cold cache that reads the inode table
// nearly in sequence instead of at random.
class FindSearch {
 public:
  FindSearch(DIR* folder, std::u16string_view pattern, bool root)
      : folder_(folder), writes_(::dirfd(folder)), pattern_(pattern), dots_left_(root ? 0 : 2) {}
  ~FindSearch() { ::closedir(folder_); }

  // The next matching entry into `data`; false with the last error set.
  bool Next(WIN32_FIND_DATAW* data) {
    std::lock_guard<std::mutex> guard(lock_);
    EntryFacts facts;
    while (dots_left_ > 0) {
      const char* dot = dots_left_-- == 2 ? "." : "..";
      if (pattern_.Matches(dot[1] == 0 ? u"." : u"..") && StatEntry(::dirfd(folder_), dot, writes_, &facts)) {
        FillFindData(facts, dot, data);
        return true;
      }
    }
    for (;;) {
      while (next_ < batch_.size()) {
        const Entry& entry = batch_[next_++];
        if (!entry.found) continue;
        FillFindData(entry.facts, std::string_view(names_.data() + entry.name_at), data);
        return true;
      }
      if (end_error_ != ERROR_SUCCESS || !ReadBatch()) {
        SetLastError(end_error_);
        return false;
      }
    }
  }

  // A pattern without wildcards names one entry: when an entry of exactly
  // that name exists it is the only answer; otherwise the folder is read for
  // one that differs in case.
  bool TakeExact(std::u16string_view name, WIN32_FIND_DATAW* data) {
    std::lock_guard<std::mutex> guard(lock_);
    if (pattern_.HasWildcards() || name == u"." || name == u"..") return false;
    std::string bytes;
    EntryFacts facts;
    if (!FileNameToBytes(name, &bytes) || !StatEntry(::dirfd(folder_), bytes.c_str(), writes_, &facts)) return false;
    FillFindData(facts, bytes, data);
    dots_left_ = 0;
    end_error_ = ERROR_NO_MORE_FILES;
    return true;
  }

 private:
  static constexpr size_t kBatch = 8192;

  struct Entry {
    size_t name_at;  // in names_
    ino_t inode;
    bool found;
    EntryFacts facts;
  };

  // The folder's next matching entries, stat'ed; false when none is left.
  // The end of the folder (or its read error) is kept for when the batch
  // has been delivered.
  bool ReadBatch() {
    batch_.clear();
    names_.clear();
    next_ = 0;
    while (batch_.size() < kBatch) {
      errno = 0;
      const struct dirent* entry = ::readdir(folder_);
      if (entry == nullptr) {
        end_error_ = errno == 0 ? ERROR_NO_MORE_FILES : ErrorFromErrno(errno);
        break;
      }
      const char* name = entry->d_name;
      if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) continue;
      if (!pattern_.MatchesEverything() && !pattern_.Matches(FileNameFromBytes(name))) continue;
      batch_.push_back(Entry{names_.size(), entry->d_ino, false, EntryFacts{}});
      names_.append(name, std::strlen(name) + 1);
    }
    order_.resize(batch_.size());
    for (size_t i = 0; i < order_.size(); ++i) order_[i] = static_cast<uint32_t>(i);
    std::sort(order_.begin(), order_.end(),
              [this](uint32_t a, uint32_t b) { return batch_[a].inode < batch_[b].inode; });
    const int folder = ::dirfd(folder_);
    for (const uint32_t i : order_) {
      Entry& entry = batch_[i];
      entry.found = StatEntry(folder, names_.data() + entry.name_at, writes_, &entry.facts);
    }
    return !batch_.empty();
  }

  std::mutex lock_;
  DIR* const folder_;
  const WriteCheck writes_;
  const Wildcard pattern_;
  int dots_left_;
  std::vector<Entry> batch_;
  std::string names_;  // the batch's names, each followed by its NUL
  std::vector<uint32_t> order_;
  size_t next_ = 0;
  DWORD end_error_ = ERROR_SUCCESS;  // set once the folder has been read to its end
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
