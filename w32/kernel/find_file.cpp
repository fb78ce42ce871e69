#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
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

// A run of a folder's entries: names in directory order, stat'ed in inode
// order (on a cold cache that reads the inode table nearly in sequence
// instead of at random) by whichever threads claim its chunks.
struct Batch {
  struct Entry {
    size_t name_at;  // in names
    ino_t inode;
    bool found;
    EntryFacts facts;
  };

  static constexpr size_t kChunk = 64;  // entries a thread claims at a time

  void Clear() {
    entries.clear();
    names.clear();
    claimed.store(0, std::memory_order_relaxed);
  }

  const char* NameOf(const Entry& entry) const { return names.data() + entry.name_at; }

  // Stats chunks not yet claimed by another thread until none is left.
  void StatChunks(int folder, const WriteCheck& writes) {
    for (;;) {
      const size_t first = claimed.fetch_add(kChunk, std::memory_order_relaxed);
      if (first >= order.size()) return;
      const size_t last = std::min(first + kChunk, order.size());
      for (size_t i = first; i < last; ++i) {
        Entry& entry = entries[order[i]];
        entry.found = StatEntry(folder, NameOf(entry), writes, &entry.facts);
      }
    }
  }

  std::vector<Entry> entries;
  std::string names;  // each followed by its NUL
  std::vector<uint32_t> order;
  std::atomic<size_t> claimed{0};  // in `order`
};

// One search: an open folder, the dot entries first. Entries are taken from
// the folder in batches, as the platform fills its directory buffer. While
// the caller is handed one batch, helper threads stat the next, and the
// caller joins in once it has handed out the last entry and read the names
// of the batch after; so the stats of a large folder run on every processor
// (and several disk reads are in flight on a cold cache).
class FindSearch {
 public:
  FindSearch(DIR* folder, std::u16string_view pattern, bool root)
      : folder_(folder), writes_(::dirfd(folder)), pattern_(pattern), dots_left_(root ? 0 : 2) {}
  ~FindSearch() {
    JoinHelpers();
    ::closedir(folder_);
  }

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
      while (next_ < current_->entries.size()) {
        const Batch::Entry& entry = current_->entries[next_++];
        if (!entry.found) continue;
        FillFindData(entry.facts, current_->NameOf(entry), data);
        return true;
      }
      if (!NextBatch()) {
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
  // Below this a helper thread costs more than it saves.
  static constexpr size_t kHelpFrom = 512;
  static constexpr unsigned kMostHelpers = 3;

  // Makes the next stat'ed batch current; false when none is left. The
  // caller reads the names after it while the helpers stat it.
  bool NextBatch() {
    next_ = 0;
    if (!ahead_read_) {
      if (end_error_ != ERROR_SUCCESS) {
        current_->Clear();
        return false;
      }
      ReadNames(*ahead_);
      StartStats(*ahead_);
    }
    const bool more = end_error_ == ERROR_SUCCESS;
    if (more) ReadNames(*spare_);
    FinishStats(*ahead_);
    std::swap(current_, ahead_);
    std::swap(ahead_, spare_);
    ahead_read_ = more;
    if (more) StartStats(*ahead_);
    return !current_->entries.empty();
  }

  // The folder's next matching names, up to a batch, sorted for the stats.
  // The end of the folder (or its read error) is kept for when the batches
  // read before it have been handed out.
  void ReadNames(Batch& batch) {
    batch.Clear();
    while (batch.entries.size() < kBatch) {
      errno = 0;
      const struct dirent* entry = ::readdir(folder_);
      if (entry == nullptr) {
        end_error_ = errno == 0 ? ERROR_NO_MORE_FILES : ErrorFromErrno(errno);
        break;
      }
      const char* name = entry->d_name;
      if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) continue;
      if (!pattern_.MatchesEverything() && !pattern_.Matches(FileNameFromBytes(name))) continue;
      batch.entries.push_back(Batch::Entry{batch.names.size(), entry->d_ino, false, EntryFacts{}});
      batch.names.append(name, std::strlen(name) + 1);
    }
    batch.order.resize(batch.entries.size());
    for (size_t i = 0; i < batch.order.size(); ++i) batch.order[i] = static_cast<uint32_t>(i);
    std::sort(batch.order.begin(), batch.order.end(),
              [&batch](uint32_t a, uint32_t b) { return batch.entries[a].inode < batch.entries[b].inode; });
  }

  // Helper threads start on a large batch's stats, one per processor beside
  // the caller's (a few at most). Without them (a small batch, or no thread
  // to be had) the caller does them all in FinishStats.
  void StartStats(Batch& batch) {
    if (batch.entries.size() < kHelpFrom) return;
    const unsigned count = std::clamp(std::thread::hardware_concurrency(), 2u, kMostHelpers + 1) - 1;
    try {
      while (helpers_.size() < count) {
        helpers_.emplace_back([&batch, folder = ::dirfd(folder_), &writes = writes_] { batch.StatChunks(folder, writes); });
      }
    } catch (const std::system_error&) {
    }
  }

  // The caller stats what the helpers have not claimed, then waits for them.
  void FinishStats(Batch& batch) {
    batch.StatChunks(::dirfd(folder_), writes_);
    JoinHelpers();
  }

  void JoinHelpers() {
    for (std::thread& helper : helpers_) helper.join();
    helpers_.clear();
  }

  std::mutex lock_;
  DIR* const folder_;
  const WriteCheck writes_;
  const Wildcard pattern_;
  int dots_left_;
  std::unique_ptr<Batch> current_ = std::make_unique<Batch>();  // being handed out
  std::unique_ptr<Batch> ahead_ = std::make_unique<Batch>();    // the next, stat'ed by the helpers meanwhile
  std::unique_ptr<Batch> spare_ = std::make_unique<Batch>();    // the one after, while ahead_ is stat'ed
  bool ahead_read_ = false;                                     // ahead_ holds the names after current_'s
  std::vector<std::thread> helpers_;
  size_t next_ = 0;                  // in current_
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
