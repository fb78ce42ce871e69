// Directory change reads over inotify.
//
// One inotify instance serves the whole process, read by one service thread
// that sleeps in poll(2) between changes. Each directory handle gets a
// ChangeWatch at its first ReadDirectoryChangesW: the inotify watches of its
// folder and (for a subtree read) of every folder below, the folder path of
// each relative to the handle's folder, and the records that wait for a read.
// Records are kept from the first read on, also while no read is armed, up to
// a bound; past it, or when the kernel's queue overflows, they are dropped and
// the next read finishes with 0 bytes, as the platform does when its buffer
// overflows. A watch descriptor may serve several handles (one folder watched
// through two handles, or nested watched folders).
//
// inotify says nothing of a folder's last-write time when its entries change,
// so an entry that comes, goes or is renamed also gives a record for its
// folder (not for the watched folder itself, which is not in its own tree). A
// subfolder the user may not read is not watched: its own changes still come
// from its parent. IN_ATTRIB says only that something of an inode changed; the
// read-only attribute and the last-write time of every entry are kept, so that
// a change of owner or permissions alone is told from one the filter asks for.
//
// The handle's open descriptor keeps a deleted folder alive, so inotify tells
// of its end (IN_DELETE_SELF) only when the handle closes: the folder's parent
// is watched as well, and a folder leaving it is checked for a link count of
// zero. A folder whose file system is unmounted, also lazily while the handle
// keeps it alive, is found through the mount table, which the service thread
// polls too.
//
// When waiting on or reading the inotify instance fails, the service thread
// makes a new one and watches every handle's folders again; each handle's
// next read finishes with 0 bytes, as changes were lost meanwhile. Without a
// new instance every read fails with ERROR_NETNAME_DELETED.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "kernel/event.h"
#include "kernel/file.h"
#include "support/text.h"

namespace w32 {
namespace {

// NTSTATUS values of a finished read, kept in OVERLAPPED::Internal as the platform does.
constexpr ULONG_PTR kStatusSuccess = 0x00000000;
constexpr ULONG_PTR kStatusNotifyEnumDir = 0x0000010C;  // changes were lost: enumerate again
constexpr ULONG_PTR kStatusObjectPathNotFound = 0xC000003A;
constexpr ULONG_PTR kStatusNetworkNameDeleted = 0xC00000C9;
constexpr ULONG_PTR kStatusCancelled = 0xC0000120;

constexpr size_t kMaxPendingRecords = size_t{1} << 20;
// How long an old-name event waits for its new-name partner before it counts as a move out.
constexpr int kMovePairMilliseconds = 10;

constexpr DWORD kKnownFilter = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME |
                               FILE_NOTIFY_CHANGE_ATTRIBUTES | FILE_NOTIFY_CHANGE_SIZE |
                               FILE_NOTIFY_CHANGE_LAST_WRITE | FILE_NOTIFY_CHANGE_LAST_ACCESS |
                               FILE_NOTIFY_CHANGE_CREATION | FILE_NOTIFY_CHANGE_SECURITY;
// The filter bits each kind of inotify event answers to.
constexpr DWORD kModifyFilter = FILE_NOTIFY_CHANGE_SIZE | FILE_NOTIFY_CHANGE_LAST_WRITE;
constexpr DWORD kAttribFilter = FILE_NOTIFY_CHANGE_ATTRIBUTES | FILE_NOTIFY_CHANGE_LAST_WRITE |
                                FILE_NOTIFY_CHANGE_LAST_ACCESS | FILE_NOTIFY_CHANGE_CREATION |
                                FILE_NOTIFY_CHANGE_SECURITY;
constexpr DWORD kAccessFilter = FILE_NOTIFY_CHANGE_LAST_ACCESS;

DWORD NameFilter(bool folder) { return folder ? FILE_NOTIFY_CHANGE_DIR_NAME : FILE_NOTIFY_CHANGE_FILE_NAME; }

uint32_t InotifyMask(DWORD filter) {
  uint32_t mask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_ONLYDIR | IN_MASK_ADD;
  if (filter & kModifyFilter) mask |= IN_MODIFY;
  if (filter & kAttribFilter) mask |= IN_ATTRIB;
  if (filter & kAccessFilter) mask |= IN_ACCESS;
  return mask;
}

ULONG_PTR StatusFromError(DWORD error) {
  return error == ERROR_NETNAME_DELETED ? kStatusNetworkNameDeleted : kStatusObjectPathNotFound;
}

DWORD ErrorFromStatus(ULONG_PTR status) {
  switch (status) {
    case kStatusSuccess:
    case kStatusNotifyEnumDir: return ERROR_SUCCESS;
    case kStatusObjectPathNotFound: return ERROR_PATH_NOT_FOUND;
    case kStatusNetworkNameDeleted: return ERROR_NETNAME_DELETED;
    case kStatusCancelled: return ERROR_OPERATION_ABORTED;
    default: return ERROR_GEN_FAILURE;
  }
}

void StartOverlapped(OVERLAPPED* overlapped) {
  overlapped->InternalHigh = 0;
  __atomic_store_n(&overlapped->Internal, static_cast<ULONG_PTR>(STATUS_PENDING), __ATOMIC_RELEASE);
}

// The byte count is written before the status, which publishes it.
void FinishOverlapped(OVERLAPPED* overlapped, ULONG_PTR status, DWORD bytes) {
  overlapped->InternalHigh = bytes;
  __atomic_store_n(&overlapped->Internal, status, __ATOMIC_RELEASE);
}

ULONG_PTR OverlappedStatus(const OVERLAPPED* overlapped) {
  return __atomic_load_n(&overlapped->Internal, __ATOMIC_ACQUIRE);
}

std::string Join(const std::string& folder, const std::string& name) {
  return folder.empty() ? name : folder + "/" + name;
}

bool IsWithin(const std::string& path, const std::string& folder) {
  return path == folder || (path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
                            path[folder.size()] == '/');
}

std::string ProcPath(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

struct Record {
  DWORD action;
  std::u16string name;
};

// An inotify event with its name.
struct Change {
  int wd;
  uint32_t mask;
  uint32_t cookie;
  std::string name;
};

// What the change filter compares of an entry, to tell what an IN_ATTRIB changed.
struct EntryState {
  bool read_only;
  int64_t write_time;   // nanoseconds
  int64_t change_time;  // the inode's change time when this was read
  bool judged;          // read for an IN_ATTRIB: its change was compared already
};

int64_t Nanoseconds(const struct statx_timestamp& time) { return time.tv_sec * 1000000000LL + time.tv_nsec; }

// The state of `name` in the folder `at`; none when it cannot be read.
std::optional<EntryState> ReadState(int at, const std::string& name) {
  struct statx status;
  if (::statx(at, name.c_str(), AT_SYMLINK_NOFOLLOW, STATX_MODE | STATX_MTIME | STATX_CTIME, &status) != 0) {
    return std::nullopt;
  }
  return EntryState{(status.stx_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0, Nanoseconds(status.stx_mtime),
                    Nanoseconds(status.stx_ctime), false};
}

struct PendingRead {
  BYTE* buffer;
  DWORD length;
  OVERLAPPED* overlapped;
  std::shared_ptr<Event> event;  // null when the read signals only the file
  DWORD thread;
};

}  // namespace

class ChangeService;

class ChangeWatch {
 public:
  ChangeWatch(ChangeService& service, File& file, bool subtree, DWORD filter)
      : service_(service),
        file_(file),
        subtree_(subtree),
        filter_(filter),
        compares_((filter & (FILE_NOTIFY_CHANGE_ATTRIBUTES | FILE_NOTIFY_CHANGE_LAST_WRITE)) != 0) {}
  ~ChangeWatch();
  ChangeWatch(const ChangeWatch&) = delete;
  ChangeWatch& operator=(const ChangeWatch&) = delete;

  // Everything below runs with the service's lock held.

  // Watches the folder (and its subtree); ERROR_SUCCESS or why not.
  DWORD Start();
  // Arms a read: ERROR_SUCCESS, with the read perhaps finished at once, or why not.
  DWORD Arm(PendingRead read);
  void Cancel(DWORD thread);
  // Finishes the pending read when there is something to give it.
  void Deliver();

  bool Has(int wd) const { return folders_.count(wd) != 0; }
  void OnCreated(int wd, const std::string& name, bool folder);
  void OnRemoved(int wd, const std::string& name, bool folder, bool moved);
  void OnRenamed(int from_wd, const std::string& from, int to_wd, const std::string& to, bool folder);
  void OnModified(int wd, const std::string& name, DWORD filter);
  void OnWritten(int wd, const std::string& name);
  void OnAttributes(int wd, const std::string& name);
  void OnFolderGone(int wd, DWORD error);
  void OnWatchRemoved(int wd);
  void OnOverflow();
  // The service has a new inotify instance: the folders are watched again,
  // and the next read finishes with 0 bytes, since changes were lost meanwhile.
  // Where the folders cannot be watched any more, reads fail with
  // ERROR_NETNAME_DELETED.
  void Restart(bool instance);
  // A folder left the parent of the watched folder: was it this one?
  void CheckRoot();
  // With the ids of the mounts that the process still sees.
  void CheckMount(const std::unordered_set<uint64_t>& mounts);
  // Every change that a scan of a new folder reported has had its own event by now.
  void ForgetScans() { scanned_.clear(); }

 private:
  struct Folder {
    std::string path;  // relative to the watched folder
    int parent = -1;   // the watch of the folder that holds it; -1 for the watched folder
    std::string name;  // its name there
    std::unordered_map<std::string, EntryState> entries;  // kept when the filter compares them
  };

  // Opens `path` (relative to the watched folder), entry `name` of the folder
  // under `parent`, and watches it; -1 with errno on failure.
  int WatchFolder(const std::string& path, int parent, const std::string& name, int* fd);
  // Watches `path` and, for a subtree read, every folder below it; with
  // `report`, each entry found is reported as added.
  void AddTree(const std::string& path, int parent, const std::string& name, bool report);
  // An entry of the folder under `wd` came, went or was renamed: the folder's
  // last-write time moved.
  void Touched(int wd);
  // Reads an entry's state again after a change that was reported as it is.
  void Refresh(int wd, const std::string& name);
  // The filter bits that an IN_ATTRIB of an entry answers to.
  DWORD CompareState(int wd, const std::string& name);
  void DropTree(const std::string& path);
  // Watches the parent of the watched folder, wherever it is now.
  void GuardRoot();
  void Queue(DWORD action, const std::string& path, DWORD filter);
  void Finish(ULONG_PTR status, DWORD bytes);

  ChangeService& service_;
  File& file_;
  const bool subtree_;
  const DWORD filter_;  // the first read's; later reads cannot change what is watched
  const bool compares_;  // the filter tells attribute and last-write changes from others
  int root_wd_ = -1;
  int guard_wd_ = -1;  // the watch on the parent folder
  uint64_t mount_id_ = 0;  // the folder's mount, 0 when unknown
  std::unordered_map<int, Folder> folders_;  // by watch descriptor
  // Names that the scan of a new folder reported, until the events queued
  // before the scan are all read: their own creation events are not repeated.
  std::unordered_map<int, std::unordered_set<std::string>> scanned_;
  std::deque<Record> queue_;
  bool overflow_ = false;
  DWORD broken_ = ERROR_SUCCESS;  // why the folder cannot be watched any more
  std::optional<PendingRead> pending_;
};

class ChangeService {
 public:
  // The process's service, started on first use; null with the last error set
  // when inotify cannot be had.
  static ChangeService* Get();
  // The service if one was started, else null.
  static ChangeService* Peek();

  std::mutex lock;

  // With the lock held.
  int AddWatch(const std::string& path, uint32_t mask, ChangeWatch* user) { return Enlist(users_, path, mask, user); }
  void DropWatch(int wd, ChangeWatch* user) { Unlist(users_, wd, user); }
  // The watch on a watched folder's parent.
  int AddGuard(const std::string& path, ChangeWatch* guarded) {
    return Enlist(guards_, path, IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ONLYDIR | IN_MASK_ADD, guarded);
  }
  void DropGuard(int wd, ChangeWatch* guarded) { Unlist(guards_, wd, guarded); }
  void AddUser(ChangeWatch* watch) { watches_.insert(watch); }
  bool HasInstance() const { return fd_ >= 0; }
  void RemoveUser(ChangeWatch* watch) { watches_.erase(watch); }

 private:
  ChangeService(int fd, int mounts_fd) : fd_(fd), mounts_fd_(mounts_fd) {}
  void Run();
  void CheckMounts();
  enum class ReadOutcome { kRead, kNone, kFailed };
  // Reads and handles one batch of queued events.
  ReadOutcome ReadEvents();
  // The inotify instance failed (poll or read): a new one replaces it.
  void Recover(bool closed);
  void Dispatch(const Change& change);
  void DispatchMove(const Change& from, const Change* to);
  std::vector<ChangeWatch*> UsersOf(int wd) const;
  using Lists = std::unordered_map<int, std::vector<ChangeWatch*>>;
  // Adds a kernel watch and lists the handle under it once; -1 on failure.
  int Enlist(Lists& lists, const std::string& path, uint32_t mask, ChangeWatch* watch);
  void Unlist(Lists& lists, int wd, ChangeWatch* watch);
  // Removes the kernel's watch once neither a handle nor a guard uses it.
  void ReleaseWatch(int wd);
  void CheckGuards(const Change& change);

  int fd_;  // written only by the service thread, with the lock held; -1 once no instance could be had
  int read_error_ = 0;  // of the last failed read
  const int mounts_fd_;  // the mount table, -1 when it cannot be read
  Lists users_;   // watch descriptor -> handles using it
  Lists guards_;  // watch descriptor -> handles of its subfolders
  std::unordered_set<ChangeWatch*> watches_;
  // An old-name event waiting for its new-name partner.
  std::optional<Change> move_from_;
};

// --- ChangeWatch ---

ChangeWatch::~ChangeWatch() {
  std::lock_guard<std::mutex> guard(service_.lock);
  if (pending_) Finish(kStatusCancelled, 0);
  for (const auto& folder : folders_) service_.DropWatch(folder.first, this);
  if (guard_wd_ >= 0) service_.DropGuard(guard_wd_, this);
  service_.RemoveUser(this);
}

int ChangeWatch::WatchFolder(const std::string& path, int parent, const std::string& name, int* fd) {
  *fd = ::openat(file_.fd(), path.empty() ? "." : path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (*fd < 0) return -1;
  const int wd = service_.AddWatch(ProcPath(*fd), InotifyMask(filter_), this);
  if (wd < 0) {
    const int error = errno;
    ::close(*fd);
    errno = error;
    return -1;
  }
  folders_.emplace(wd, Folder{path, parent, name, {}});
  return wd;
}

DWORD ChangeWatch::Start() {
  service_.AddUser(this);
  if (!service_.HasInstance()) return ERROR_NETNAME_DELETED;
  int fd = -1;
  root_wd_ = WatchFolder("", -1, "", &fd);
  if (root_wd_ < 0) return errno == ENOSPC ? ERROR_NOT_ENOUGH_QUOTA : ErrorFromErrno(errno);
  struct statx status;
  if (::statx(fd, "", AT_EMPTY_PATH, STATX_MNT_ID, &status) == 0 && (status.stx_mask & STATX_MNT_ID)) {
    mount_id_ = status.stx_mnt_id;
  }
  ::close(fd);
  GuardRoot();
  if (subtree_) AddTree("", -1, "", false);
  return ERROR_SUCCESS;
}

void ChangeWatch::GuardRoot() {
  const int parent = ::openat(file_.fd(), "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (parent < 0) return;  // no parent to be seen from: deletion shows when the handle closes
  const int wd = service_.AddGuard(ProcPath(parent), this);
  ::close(parent);
  if (wd == guard_wd_) return;
  if (guard_wd_ >= 0) service_.DropGuard(guard_wd_, this);
  guard_wd_ = wd;
}

void ChangeWatch::CheckRoot() {
  struct stat status;
  if (::fstat(file_.fd(), &status) == 0 && status.st_nlink == 0) {
    if (broken_ == ERROR_SUCCESS) broken_ = ERROR_PATH_NOT_FOUND;
    return;
  }
  GuardRoot();  // it may have moved to another parent
}

void ChangeWatch::AddTree(const std::string& top, int parent, const std::string& top_name, bool report) {
  struct Unwatched {
    std::string path;
    int parent;
    std::string name;
  };
  std::vector<Unwatched> folders{{top, parent, top_name}};
  while (!folders.empty()) {
    const Unwatched next = std::move(folders.back());
    folders.pop_back();
    int fd = -1;
    const int wd = WatchFolder(next.path, next.parent, next.name, &fd);
    if (wd < 0) {
      // A folder gone already needs nothing, and one the user may not read is
      // seen from its parent only; one that cannot be watched for want of
      // watches or descriptors loses changes.
      if (errno != ENOENT && errno != ENOTDIR && errno != ELOOP && errno != EACCES && errno != EPERM) OnOverflow();
      continue;
    }
    DIR* listing = ::fdopendir(fd);
    if (listing == nullptr) {
      ::close(fd);
      continue;
    }
    while (const dirent* entry = ::readdir(listing)) {
      const std::string name = entry->d_name;
      if (name == "." || name == "..") continue;
      bool folder = entry->d_type == DT_DIR;
      if (entry->d_type == DT_UNKNOWN) {
        struct stat status;
        folder = ::fstatat(fd, entry->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(status.st_mode);
      }
      if (compares_) {
        if (const std::optional<EntryState> state = ReadState(fd, name)) folders_[wd].entries[name] = *state;
      }
      const std::string child = Join(next.path, name);
      if (report) {
        Queue(FILE_ACTION_ADDED, child, NameFilter(folder));
        scanned_[wd].insert(name);
        Touched(wd);
      }
      if (folder && subtree_) folders.push_back({child, wd, name});
    }
    ::closedir(listing);
  }
}

void ChangeWatch::DropTree(const std::string& path) {
  for (auto it = folders_.begin(); it != folders_.end();) {
    if (IsWithin(it->second.path, path)) {
      service_.DropWatch(it->first, this);
      scanned_.erase(it->first);
      it = folders_.erase(it);
    } else {
      ++it;
    }
  }
}

void ChangeWatch::Queue(DWORD action, const std::string& path, DWORD filter) {
  if ((filter & filter_) == 0 || overflow_) return;
  std::u16string name = ToUtf16(path);
  // Consecutive writes to one file make one record, as on the platform.
  if (action == FILE_ACTION_MODIFIED && !queue_.empty() && queue_.back().action == FILE_ACTION_MODIFIED &&
      queue_.back().name == name) {
    return;
  }
  if (queue_.size() >= kMaxPendingRecords) {
    OnOverflow();
    return;
  }
  queue_.push_back(Record{action, std::move(name)});
}

void ChangeWatch::OnCreated(int wd, const std::string& name, bool folder) {
  auto scanned = scanned_.find(wd);
  if (scanned != scanned_.end() && scanned->second.erase(name) != 0) return;  // reported by the scan
  const std::string path = Join(folders_[wd].path, name);
  Queue(FILE_ACTION_ADDED, path, NameFilter(folder));
  Refresh(wd, name);
  Touched(wd);
  if (folder && subtree_) AddTree(path, wd, name, true);
}

void ChangeWatch::OnRemoved(int wd, const std::string& name, bool folder, bool moved) {
  auto scanned = scanned_.find(wd);
  if (scanned != scanned_.end()) scanned->second.erase(name);
  const std::string path = Join(folders_[wd].path, name);
  Queue(FILE_ACTION_REMOVED, path, NameFilter(folder));
  folders_[wd].entries.erase(name);
  Touched(wd);
  // A deleted folder's watches end by themselves; a moved one is still watched elsewhere.
  if (folder && moved) DropTree(path);
}

void ChangeWatch::OnRenamed(int from_wd, const std::string& from, int to_wd, const std::string& to, bool folder) {
  for (int wd : {from_wd, to_wd}) {
    auto scanned = scanned_.find(wd);
    if (scanned != scanned_.end()) scanned->second.erase(wd == from_wd ? from : to);
  }
  const std::string old_path = Join(folders_[from_wd].path, from);
  const std::string new_path = Join(folders_[to_wd].path, to);
  Queue(FILE_ACTION_RENAMED_OLD_NAME, old_path, NameFilter(folder));
  Queue(FILE_ACTION_RENAMED_NEW_NAME, new_path, NameFilter(folder));
  folders_[from_wd].entries.erase(from);
  Refresh(to_wd, to);
  Touched(from_wd);
  if (to_wd != from_wd) Touched(to_wd);
  if (!folder || !subtree_) return;
  bool moved_watches = false;
  for (auto& entry : folders_) {
    Folder& moved = entry.second;
    if (moved.path == old_path) {
      moved.parent = to_wd;
      moved.name = to;
    }
    if (IsWithin(moved.path, old_path)) {
      moved.path = new_path + moved.path.substr(old_path.size());
      moved_watches = true;
    }
  }
  // Renamed before its watch was made: watch it now, with what it holds.
  if (!moved_watches) AddTree(new_path, to_wd, to, true);
}

void ChangeWatch::OnModified(int wd, const std::string& name, DWORD filter) {
  Queue(FILE_ACTION_MODIFIED, Join(folders_[wd].path, name), filter);
}

void ChangeWatch::OnWritten(int wd, const std::string& name) {
  OnModified(wd, name, kModifyFilter);
  Refresh(wd, name);  // a later change of owner must not count as a write
}

void ChangeWatch::OnAttributes(int wd, const std::string& name) {
  OnModified(wd, name, compares_ ? CompareState(wd, name) : kAttribFilter);
}

void ChangeWatch::Touched(int wd) {
  auto folder = folders_.find(wd);
  if (folder == folders_.end() || folder->second.path.empty()) return;  // the watched folder's is not reported
  Queue(FILE_ACTION_MODIFIED, folder->second.path, FILE_NOTIFY_CHANGE_LAST_WRITE);
  Refresh(folder->second.parent, folder->second.name);
}

void ChangeWatch::Refresh(int wd, const std::string& name) {
  auto folder = folders_.find(wd);
  if (!compares_ || folder == folders_.end()) return;
  const std::optional<EntryState> state = ReadState(file_.fd(), Join(folder->second.path, name));
  if (state) {
    folder->second.entries[name] = *state;
  } else {
    folder->second.entries.erase(name);
  }
}

// Any IN_ATTRIB may be a change of owner, permissions or last-access time. A
// change of the read-only attribute or of the last-write time shows in the
// entry's state; a state read after the change already (for an event handled
// before this one) leaves unknown what changed, and then every kind counts.
DWORD ChangeWatch::CompareState(int wd, const std::string& name) {
  constexpr DWORD kOthers = FILE_NOTIFY_CHANGE_SECURITY | FILE_NOTIFY_CHANGE_LAST_ACCESS;
  Folder& folder = folders_[wd];
  const std::optional<EntryState> now = ReadState(file_.fd(), Join(folder.path, name));
  auto before = folder.entries.find(name);
  DWORD changed = kAttribFilter;
  if (now && before != folder.entries.end()) {
    const EntryState& old = before->second;
    changed = kOthers;
    if (old.read_only != now->read_only) changed |= FILE_NOTIFY_CHANGE_ATTRIBUTES;
    if (old.write_time != now->write_time) changed |= FILE_NOTIFY_CHANGE_LAST_WRITE;
    if (changed == kOthers && old.change_time == now->change_time && !old.judged) changed = kAttribFilter;
  }
  if (now) {
    folder.entries[name] = EntryState{now->read_only, now->write_time, now->change_time, true};
  } else {
    folder.entries.erase(name);
  }
  return changed;
}

void ChangeWatch::OnFolderGone(int wd, DWORD error) {
  if (wd == root_wd_ && broken_ == ERROR_SUCCESS) broken_ = error;
}

void ChangeWatch::OnWatchRemoved(int wd) {
  folders_.erase(wd);
  scanned_.erase(wd);
  if (wd == root_wd_) {
    root_wd_ = -1;
    if (broken_ == ERROR_SUCCESS) broken_ = ERROR_PATH_NOT_FOUND;
  }
}

void ChangeWatch::CheckMount(const std::unordered_set<uint64_t>& mounts) {
  if (mount_id_ != 0 && mounts.count(mount_id_) == 0 && broken_ == ERROR_SUCCESS) broken_ = ERROR_NETNAME_DELETED;
}

void ChangeWatch::OnOverflow() {
  overflow_ = true;
  std::deque<Record>().swap(queue_);
  scanned_.clear();
}

void ChangeWatch::Restart(bool instance) {
  folders_.clear();
  root_wd_ = -1;
  guard_wd_ = -1;
  OnOverflow();
  if (!instance || Start() != ERROR_SUCCESS) {
    overflow_ = false;
    if (broken_ == ERROR_SUCCESS) broken_ = ERROR_NETNAME_DELETED;
  }
}

DWORD ChangeWatch::Arm(PendingRead read) {
  if (pending_) return ERROR_INVALID_PARAMETER;  // one outstanding read per handle
  if (queue_.empty() && !overflow_ && broken_ != ERROR_SUCCESS) return broken_;
  StartOverlapped(read.overlapped);
  if (read.event) read.event->Reset();  // as the platform does when an I/O starts
  {
    std::lock_guard<std::mutex> guard(WaitLock());
    file_.SetSignalled(false);
  }
  pending_ = std::move(read);
  Deliver();
  return ERROR_SUCCESS;
}

void ChangeWatch::Cancel(DWORD thread) {
  if (pending_ && pending_->thread == thread) Finish(kStatusCancelled, 0);
}

void ChangeWatch::Deliver() {
  if (!pending_) return;
  if (overflow_) {
    overflow_ = false;
    Finish(kStatusNotifyEnumDir, 0);
    return;
  }
  if (queue_.empty()) {
    if (broken_ != ERROR_SUCCESS) Finish(StatusFromError(broken_), 0);
    return;
  }
  // FILE_NOTIFY_INFORMATION records, each on a 4-byte boundary.
  constexpr size_t kHeader = offsetof(FILE_NOTIFY_INFORMATION, FileName);
  BYTE* const buffer = pending_->buffer;
  const size_t length = pending_->length;
  size_t offset = 0;
  size_t previous = 0;
  bool first = true;
  while (!queue_.empty()) {
    const Record& record = queue_.front();
    const DWORD name_bytes = static_cast<DWORD>(record.name.size() * sizeof(WCHAR));
    const size_t start = (offset + 3) & ~size_t{3};
    if (start + kHeader + name_bytes > length) break;
    if (!first) {
      const DWORD link = static_cast<DWORD>(start - previous);
      std::memcpy(buffer + previous + offsetof(FILE_NOTIFY_INFORMATION, NextEntryOffset), &link, sizeof link);
    }
    const DWORD header[3] = {0, record.action, name_bytes};
    std::memcpy(buffer + start, header, sizeof header);
    std::memcpy(buffer + start + kHeader, record.name.data(), name_bytes);
    previous = start;
    offset = start + kHeader + name_bytes;
    first = false;
    queue_.pop_front();
  }
  if (first) {
    // A record larger than the whole buffer: it can never be given, so the changes are lost.
    std::deque<Record>().swap(queue_);
    Finish(kStatusNotifyEnumDir, 0);
    return;
  }
  Finish(kStatusSuccess, static_cast<DWORD>(offset));
}

void ChangeWatch::Finish(ULONG_PTR status, DWORD bytes) {
  PendingRead read = std::move(*pending_);
  pending_.reset();
  FinishOverlapped(read.overlapped, status, bytes);
  if (read.event) read.event->Set();
  std::lock_guard<std::mutex> guard(WaitLock());
  file_.SetSignalled(true);
}

// --- ChangeService ---

namespace {
std::mutex service_creation;
ChangeService* the_service = nullptr;  // lives as long as the process: its thread never ends
}  // namespace

ChangeService* ChangeService::Peek() {
  std::lock_guard<std::mutex> guard(service_creation);
  return the_service;
}

ChangeService* ChangeService::Get() {
  std::lock_guard<std::mutex> guard(service_creation);
  if (the_service == nullptr) {
    const int fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd < 0) {
      SetLastError(errno == EMFILE ? ERROR_TOO_MANY_OPEN_FILES : ErrorFromErrno(errno));
      return nullptr;
    }
    the_service = new ChangeService(fd, ::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC));
    std::thread([] { the_service->Run(); }).detach();
  }
  return the_service;
}

int ChangeService::Enlist(Lists& lists, const std::string& path, uint32_t mask, ChangeWatch* watch) {
  const int wd = ::inotify_add_watch(fd_, path.c_str(), mask);
  if (wd < 0) return -1;
  std::vector<ChangeWatch*>& listed = lists[wd];
  if (std::find(listed.begin(), listed.end(), watch) == listed.end()) listed.push_back(watch);
  return wd;
}

void ChangeService::Unlist(Lists& lists, int wd, ChangeWatch* watch) {
  auto it = lists.find(wd);
  if (it == lists.end()) return;
  std::vector<ChangeWatch*>& listed = it->second;
  listed.erase(std::remove(listed.begin(), listed.end(), watch), listed.end());
  if (listed.empty()) {
    lists.erase(it);
    ReleaseWatch(wd);
  }
}

void ChangeService::ReleaseWatch(int wd) {
  if (users_.count(wd) == 0 && guards_.count(wd) == 0) ::inotify_rm_watch(fd_, wd);
}

void ChangeService::CheckGuards(const Change& change) {
  if ((change.mask & IN_ISDIR) == 0 || (change.mask & (IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO)) == 0) return;
  auto it = guards_.find(change.wd);
  if (it == guards_.end()) return;
  const std::vector<ChangeWatch*> guarded = it->second;  // a check may move the guard
  for (ChangeWatch* watch : guarded) watch->CheckRoot();
}

std::vector<ChangeWatch*> ChangeService::UsersOf(int wd) const {
  auto it = users_.find(wd);
  return it == users_.end() ? std::vector<ChangeWatch*>{} : it->second;
}

// The thread never ends: a failed wait or read recovers (Recover), so a
// pending read always finishes.
void ChangeService::Run() {
  for (;;) {
    // The mount table reports a change as POLLPRI; a negative descriptor is skipped.
    pollfd ready[2] = {{fd_, POLLIN, 0}, {mounts_fd_, POLLPRI, 0}};
    const int count = ::poll(ready, 2, move_from_ ? kMovePairMilliseconds : -1);
    const int poll_error = count < 0 ? errno : 0;
    std::lock_guard<std::mutex> guard(lock);
    if (poll_error != 0 && poll_error != EINTR) {
      Recover(false);
      continue;
    }
    if (count > 0 && (ready[0].revents & (POLLERR | POLLNVAL))) {
      Recover((ready[0].revents & POLLNVAL) != 0);
      continue;
    }
    if (count > 0 && (ready[1].revents & (POLLPRI | POLLERR))) CheckMounts();
    if (count == 0 && move_from_) {
      // No partner came: the item left the watched folders.
      const Change from = std::move(*move_from_);
      move_from_.reset();
      DispatchMove(from, nullptr);
    }
    ReadOutcome outcome;
    while ((outcome = ReadEvents()) == ReadOutcome::kRead) {
      for (ChangeWatch* watch : watches_) watch->Deliver();
    }
    if (outcome == ReadOutcome::kFailed) Recover(read_error_ == EBADF);
    for (ChangeWatch* watch : watches_) {
      watch->ForgetScans();
      watch->Deliver();
    }
  }
}

void ChangeService::CheckMounts() {
  std::string table;
  char chunk[4096];
  for (off_t offset = 0;;) {
    const ssize_t size = ::pread(mounts_fd_, chunk, sizeof chunk, offset);
    if (size <= 0) break;
    table.append(chunk, static_cast<size_t>(size));
    offset += size;
  }
  // Each line starts with the mount's id.
  std::unordered_set<uint64_t> mounts;
  for (size_t line = 0; line < table.size();) {
    mounts.insert(std::strtoull(table.c_str() + line, nullptr, 10));
    const size_t end = table.find('\n', line);
    if (end == std::string::npos) break;
    line = end + 1;
  }
  if (mounts.empty()) return;  // the table could not be read: nothing is known
  for (ChangeWatch* watch : watches_) watch->CheckMount(mounts);
}

void ChangeService::Recover(bool closed) {
  // A descriptor closed behind our back may have been reused: it is not ours to close.
  if (!closed && fd_ >= 0) ::close(fd_);
  fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  users_.clear();
  guards_.clear();
  move_from_.reset();
  for (ChangeWatch* watch : watches_) {
    watch->Restart(fd_ >= 0);
    watch->Deliver();
  }
}

ChangeService::ReadOutcome ChangeService::ReadEvents() {
  if (fd_ < 0) return ReadOutcome::kNone;
  alignas(inotify_event) char data[65536];
  const ssize_t size = ::read(fd_, data, sizeof data);
  if (size < 0 && errno != EAGAIN && errno != EINTR) {
    read_error_ = errno;
    return ReadOutcome::kFailed;
  }
  if (size <= 0) return ReadOutcome::kNone;
  for (ssize_t offset = 0; offset < size;) {
    const auto* event = reinterpret_cast<const inotify_event*>(data + offset);
    offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    Change change{event->wd, event->mask, event->cookie, event->len > 0 ? event->name : ""};
    if (change.mask & IN_Q_OVERFLOW) {
      move_from_.reset();
      for (ChangeWatch* watch : watches_) watch->OnOverflow();
      continue;
    }
    if (move_from_) {
      const Change from = std::move(*move_from_);
      move_from_.reset();
      if ((change.mask & IN_MOVED_TO) && change.cookie == from.cookie) {
        DispatchMove(from, &change);
        continue;
      }
      DispatchMove(from, nullptr);
    }
    if (change.mask & IN_MOVED_FROM) {
      move_from_ = std::move(change);
      continue;
    }
    Dispatch(change);
  }
  return ReadOutcome::kRead;
}

void ChangeService::Dispatch(const Change& event) {
  const std::string& name = event.name;
  const bool folder = (event.mask & IN_ISDIR) != 0;
  for (ChangeWatch* watch : UsersOf(event.wd)) {
    if (!watch->Has(event.wd)) continue;
    if (event.mask & IN_IGNORED) {
      watch->OnWatchRemoved(event.wd);
    } else if (event.mask & IN_UNMOUNT) {
      watch->OnFolderGone(event.wd, ERROR_NETNAME_DELETED);
    } else if (event.mask & IN_DELETE_SELF) {
      watch->OnFolderGone(event.wd, ERROR_PATH_NOT_FOUND);
    } else if (name.empty()) {
      continue;  // a change of a watched folder itself is its parent's to report
    } else if (event.mask & IN_CREATE) {
      watch->OnCreated(event.wd, name, folder);
    } else if (event.mask & IN_MOVED_TO) {
      watch->OnCreated(event.wd, name, folder);  // moved in from outside
    } else if (event.mask & IN_DELETE) {
      watch->OnRemoved(event.wd, name, folder, false);
    } else if (event.mask & IN_MODIFY) {
      watch->OnWritten(event.wd, name);
    } else if (event.mask & IN_ATTRIB) {
      watch->OnAttributes(event.wd, name);
    } else if (event.mask & IN_ACCESS) {
      watch->OnModified(event.wd, name, kAccessFilter);
    }
  }
  CheckGuards(event);
  if (event.mask & IN_IGNORED) {  // the kernel dropped it already
    users_.erase(event.wd);
    guards_.erase(event.wd);
  }
}

void ChangeService::DispatchMove(const Change& from, const Change* to) {
  CheckGuards(from);
  if (to != nullptr) CheckGuards(*to);
  const bool folder = (from.mask & IN_ISDIR) != 0;
  std::vector<ChangeWatch*> watches = UsersOf(from.wd);
  if (to != nullptr) {
    for (ChangeWatch* watch : UsersOf(to->wd)) {
      if (std::find(watches.begin(), watches.end(), watch) == watches.end()) watches.push_back(watch);
    }
  }
  for (ChangeWatch* watch : watches) {
    const bool has_from = watch->Has(from.wd);
    const bool has_to = to != nullptr && watch->Has(to->wd);
    if (has_from && has_to) {
      watch->OnRenamed(from.wd, from.name, to->wd, to->name, folder);
    } else if (has_from) {
      watch->OnRemoved(from.wd, from.name, folder, true);
    } else if (has_to) {
      watch->OnCreated(to->wd, to->name, folder);
    }
  }
}

}  // namespace w32

// ReadDirectoryChangesW: the handle's ChangeWatch gives the records queued
// since the last read, at once when there are some, else when the next change
// arrives. The filter and subtree choice of the first read hold for the
// handle's life. Completion routines are not supported.
BOOL WINAPI ReadDirectoryChangesW(HANDLE directory, LPVOID buffer, DWORD length, BOOL watch_subtree, DWORD filter,
                                  LPDWORD bytes_returned, LPOVERLAPPED overlapped,
                                  LPOVERLAPPED_COMPLETION_ROUTINE completion_routine) {
  std::shared_ptr<w32::File> file = w32::LookupHandleAs<w32::File>(directory);
  if (!file) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (completion_routine != nullptr) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
  }
  if (!file->directory() || filter == 0 || (filter & ~w32::kKnownFilter) != 0 ||
      (file->overlapped() ? overlapped == nullptr : bytes_returned == nullptr)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if ((file->access() & FILE_LIST_DIRECTORY) == 0) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if ((buffer == nullptr && length != 0) || (reinterpret_cast<ULONG_PTR>(buffer) & 3) != 0) {
    SetLastError(ERROR_NOACCESS);
    return FALSE;
  }
  std::shared_ptr<w32::Event> event;
  if (overlapped != nullptr && overlapped->hEvent != nullptr && file->overlapped()) {
    event = w32::LookupHandleAs<w32::Event>(overlapped->hEvent);
    if (!event) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
  }
  w32::ChangeService* service = w32::ChangeService::Get();
  if (service == nullptr) return FALSE;
  OVERLAPPED own{};  // a synchronous read's
  OVERLAPPED* target = file->overlapped() ? overlapped : &own;
  std::shared_ptr<w32::ChangeWatch> failed;  // ends after the lock is let go, as its end takes the lock
  {
    std::lock_guard<std::mutex> guard(service->lock);
    if (!file->change_watch) {
      auto watch = std::make_shared<w32::ChangeWatch>(*service, *file, watch_subtree != FALSE, filter);
      const DWORD error = watch->Start();
      if (error != ERROR_SUCCESS) {
        failed = std::move(watch);
        SetLastError(error);
        return FALSE;
      }
      file->change_watch = std::move(watch);
    }
    const DWORD error = file->change_watch->Arm(
        w32::PendingRead{static_cast<BYTE*>(buffer), length, target, std::move(event), GetCurrentThreadId()});
    if (error != ERROR_SUCCESS) {
      SetLastError(error);
      return FALSE;
    }
  }
  if (file->overlapped()) return TRUE;
  w32::WaitUntil(*file, [&] { return w32::OverlappedStatus(&own) != STATUS_PENDING; });
  *bytes_returned = static_cast<DWORD>(own.InternalHigh);
  const DWORD error = w32::ErrorFromStatus(w32::OverlappedStatus(&own));
  SetLastError(error != ERROR_SUCCESS ? error : own.InternalHigh == 0 ? ERROR_NOTIFY_ENUM_DIR : ERROR_SUCCESS);
  return error == ERROR_SUCCESS;
}

// GetOverlappedResult: the status and byte count that the finished I/O left in
// the OVERLAPPED; a wait waits for the file's I/O to finish.
BOOL WINAPI GetOverlappedResult(HANDLE handle, LPOVERLAPPED overlapped, LPDWORD bytes, BOOL wait) {
  std::shared_ptr<w32::File> file = w32::LookupHandleAs<w32::File>(handle);
  if (!file) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (overlapped == nullptr || bytes == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (w32::OverlappedStatus(overlapped) == STATUS_PENDING) {
    if (!wait) {
      SetLastError(ERROR_IO_INCOMPLETE);
      return FALSE;
    }
    w32::WaitUntil(*file, [&] { return w32::OverlappedStatus(overlapped) != STATUS_PENDING; });
  }
  const ULONG_PTR status = w32::OverlappedStatus(overlapped);
  *bytes = static_cast<DWORD>(overlapped->InternalHigh);
  const DWORD error = w32::ErrorFromStatus(status);
  if (error != ERROR_SUCCESS) {
    SetLastError(error);
    return FALSE;
  }
  if (status == w32::kStatusNotifyEnumDir) SetLastError(ERROR_NOTIFY_ENUM_DIR);
  return TRUE;
}

// CancelIo: the only asynchronous I/O of w32 is the change read; the calling
// thread's pending read on the handle finishes at once as cancelled, so its
// buffer is free again when CancelIo returns.
BOOL WINAPI CancelIo(HANDLE handle) {
  std::shared_ptr<w32::File> file = w32::LookupHandleAs<w32::File>(handle);
  if (!file) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  w32::ChangeService* service = w32::ChangeService::Peek();
  if (service == nullptr) return TRUE;
  std::lock_guard<std::mutex> guard(service->lock);
  if (file->change_watch) file->change_watch->Cancel(GetCurrentThreadId());
  return TRUE;
}
