// The watch tree of one directory handle over inotify.
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
// keeps it alive, is found through the mount table (CheckMount); so is a
// folder of the tree on which a file system is mounted or unmounted, which is
// watched again as the folder it is now.
//
// Folders on file systems whose changes inotify cannot see are also scanned
// (ChangeService::RunScans): what a scan finds that no event told becomes the
// same records. Entries that events change while a scan runs are left to
// those events, and a change already reported by an event is in the kept
// state, so no change is reported twice.
//
// The file runs past 400 lines: the event handlers and the scan's comparison
// change one per-entry state under the service's lock, and read best side by side.
#include "kernel/change_watch.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <vector>

namespace w32 {
namespace {

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

std::string Join(const std::string& folder, const std::string& name) {
  return folder.empty() ? name : folder + "/" + name;
}

bool IsWithin(const std::string& path, const std::string& folder) {
  return path == folder || (path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
                            path[folder.size()] == '/');
}

std::string ProcPath(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

std::atomic<uint64_t> watches_made{0};

}  // namespace

ChangeWatch::ChangeWatch(InotifyWatches& service, File& file, DWORD filter)
    : service_(service),
      file_(file),
      filter_(filter),
      compares_((filter & (FILE_NOTIFY_CHANGE_ATTRIBUTES | FILE_NOTIFY_CHANGE_LAST_WRITE)) != 0),
      serial_(++watches_made),
      records_(file, filter) {}

ChangeWatch::~ChangeWatch() {
  std::lock_guard<std::mutex> guard(service_.Lock());
  records_.CancelAny();
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
  Folder folder;
  folder.path = path;
  folder.parent = parent;
  folder.name = name;
  struct statx status;
  if (::statx(*fd, "", AT_EMPTY_PATH, STATX_MNT_ID | STATX_INO | STATX_MTIME, &status) == 0 &&
      (status.stx_mask & STATX_MNT_ID)) {
    folder.mount = status.stx_mnt_id;
    folder.inode = status.stx_ino;
    folder.unseen = service_.ChangesUnseen(folder.mount);
    // Read before the caller lists it: the scan lists it again only once this moved.
    folder.listed_time = status.stx_mtime.tv_sec * 1000000000LL + status.stx_mtime.tv_nsec;
  }
  folders_[wd] = std::move(folder);
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
  AddTree("", -1, "", false);
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
    records_.Break(ERROR_PATH_NOT_FOUND);
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
      if (const std::optional<EntryState> state = ReadEntryState(fd, name, false)) folders_[wd].entries[name] = *state;
      const std::string child = Join(next.path, name);
      if (report) {
        Queue(FILE_ACTION_ADDED, child, NameFilter(folder));
        scanned_[wd].insert(name);
        Touched(wd);
      }
      if (folder) folders.push_back({child, wd, name});
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
  if (!records_.Queue(action, path, filter)) scanned_.clear();  // the records were lost
}

void ChangeWatch::OnCreated(int wd, const std::string& name, bool folder) {
  auto scanned = scanned_.find(wd);
  Busy(wd, name);
  if (scanned != scanned_.end() && scanned->second.erase(name) != 0) return;  // reported by the scan
  const std::string path = Join(folders_[wd].path, name);
  Queue(FILE_ACTION_ADDED, path, NameFilter(folder));
  Refresh(wd, name);
  Touched(wd);
  if (folder) AddTree(path, wd, name, true);
}

void ChangeWatch::OnRemoved(int wd, const std::string& name, bool folder, bool moved) {
  auto scanned = scanned_.find(wd);
  if (scanned != scanned_.end()) scanned->second.erase(name);
  Busy(wd, name);
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
  Busy(from_wd, from);
  Busy(to_wd, to);
  const std::string old_path = Join(folders_[from_wd].path, from);
  const std::string new_path = Join(folders_[to_wd].path, to);
  Queue(FILE_ACTION_RENAMED_OLD_NAME, old_path, NameFilter(folder));
  Queue(FILE_ACTION_RENAMED_NEW_NAME, new_path, NameFilter(folder));
  folders_[from_wd].entries.erase(from);
  Refresh(to_wd, to);
  Touched(from_wd);
  if (to_wd != from_wd) Touched(to_wd);
  if (!folder) return;
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

void ChangeWatch::OnWritten(int wd, const std::string& name) {
  Busy(wd, name);
  Queue(FILE_ACTION_MODIFIED, Join(folders_[wd].path, name), kModifyFilter);
  Refresh(wd, name);  // a later change of owner must not count as a write
}

void ChangeWatch::OnAttributes(int wd, const std::string& name) {
  Busy(wd, name);
  Queue(FILE_ACTION_MODIFIED, Join(folders_[wd].path, name), compares_ ? CompareState(wd, name) : kAttribFilter);
}

void ChangeWatch::OnAccessed(int wd, const std::string& name) {
  Queue(FILE_ACTION_MODIFIED, Join(folders_[wd].path, name), kAccessFilter);
}

void ChangeWatch::Touched(int wd) {
  auto folder = folders_.find(wd);
  if (folder == folders_.end() || folder->second.path.empty()) return;  // the watched folder's is not reported
  Queue(FILE_ACTION_MODIFIED, folder->second.path, FILE_NOTIFY_CHANGE_LAST_WRITE);
  Refresh(folder->second.parent, folder->second.name);
}

void ChangeWatch::Refresh(int wd, const std::string& name) {
  auto folder = folders_.find(wd);
  if (folder == folders_.end()) return;
  const std::optional<EntryState> state = ReadEntryState(file_.fd(), Join(folder->second.path, name), false);
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
  const std::optional<EntryState> now = ReadEntryState(file_.fd(), Join(folder.path, name), false);
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
    folder.entries[name] = *now;
    folder.entries[name].judged = true;
  } else {
    folder.entries.erase(name);
  }
  return changed;
}

void ChangeWatch::OnFolderGone(int wd, DWORD error) {
  if (wd == root_wd_) {
    records_.Break(error);
  } else if (error == ERROR_NETNAME_DELETED && Has(wd)) {
    // Unmounted: the folder below the mount's top shows.
    int top = wd;
    while (folders_[top].parent != -1 && folders_[folders_[top].parent].mount == folders_[wd].mount) {
      top = folders_[top].parent;
    }
    if (top != root_wd_) Replace(top);
  }
}

void ChangeWatch::OnWatchRemoved(int wd) {
  folders_.erase(wd);
  scanned_.erase(wd);
  if (wd == root_wd_) {
    root_wd_ = -1;
    records_.Break(ERROR_PATH_NOT_FOUND);
  }
}

void ChangeWatch::CheckMount(const std::unordered_set<uint64_t>& mounts) {
  if (mount_id_ != 0 && mounts.count(mount_id_) == 0) {
    records_.Break(ERROR_NETNAME_DELETED);
    return;
  }
  std::vector<int> replaced;
  for (const auto& entry : folders_) {
    const Folder& folder = entry.second;
    struct statx status;
    if (entry.first == root_wd_ || folder.mount == 0 ||
        ::statx(file_.fd(), folder.path.c_str(), AT_SYMLINK_NOFOLLOW, STATX_MNT_ID | STATX_INO | STATX_TYPE,
                &status) != 0) {
      continue;
    }
    if (S_ISDIR(status.stx_mode) && (status.stx_mnt_id != folder.mount || status.stx_ino != folder.inode)) {
      replaced.push_back(entry.first);
    }
  }
  // Outer folders first: replacing one replaces what is below it.
  std::sort(replaced.begin(), replaced.end(),
            [this](int a, int b) { return folders_[a].path.size() < folders_[b].path.size(); });
  for (int wd : replaced) {
    if (Has(wd)) Replace(wd);
  }
}

void ChangeWatch::Replace(int wd) {
  const Folder old = folders_[wd];
  for (const auto& entry : old.entries) {
    Queue(FILE_ACTION_REMOVED, Join(old.path, entry.first), NameFilter(entry.second.folder));
  }
  DropTree(old.path);
  AddTree(old.path, old.parent, old.name, true);
}

void ChangeWatch::Busy(int wd, const std::string& name) {
  if (busy_) (*busy_)[wd].insert(name);
}

bool ChangeWatch::BeginScan(int* root, std::vector<FolderScan>* folders) {
  for (const auto& entry : folders_) {
    const Folder& folder = entry.second;
    if (!folder.unseen) continue;
    FolderScan scan;
    scan.wd = entry.first;
    scan.path = folder.path;
    scan.folder_time = folder.listed_time;
    scan.kept = folder.entries.size();
    folders->push_back(std::move(scan));
  }
  if (folders->empty()) return false;
  *root = ::fcntl(file_.fd(), F_DUPFD_CLOEXEC, 0);
  if (*root < 0) return false;
  busy_.emplace();
  return true;
}

void ChangeWatch::SweepNames(std::vector<FolderScan>& folders) const {
  for (FolderScan& scan : folders) {
    auto at = folders_.find(scan.wd);
    if (scan.sweep_count == 0 || at == folders_.end()) continue;
    const auto& entries = at->second.entries;
    auto entry = entries.begin();
    std::advance(entry, std::min(scan.sweep_from, entries.size()));
    scan.names.reserve(scan.sweep_count);
    for (; entry != entries.end() && scan.names.size() < scan.sweep_count; ++entry) scan.names.push_back(entry->first);
  }
}

// Within one folder an entry whose inode changed was replaced; across the
// tree, an entry that went and one that came with the same inode were moved.
void ChangeWatch::ApplyScan(std::vector<FolderScan>& folders) {
  if (!busy_) return;  // restarted meanwhile: what was kept is new
  std::unordered_map<int, std::unordered_set<std::string>> busy = std::move(*busy_);
  busy_.reset();
  std::vector<Found> gone, came;
  std::vector<std::pair<Found, DWORD>> modified;
  for (FolderScan& scan : folders) {
    auto at = folders_.find(scan.wd);
    if (at == folders_.end() || at->second.path != scan.path) continue;  // moved or gone meanwhile
    Folder& folder = at->second;
    if (scan.error != 0) {
      // A share that went away: its server is unreachable or its daemon ended.
      if (scan.wd == root_wd_ && scan.error != EACCES && scan.error != EPERM) {
        records_.Break(scan.error == ENOENT || scan.error == ENOTDIR ? ERROR_PATH_NOT_FOUND : ERROR_NETNAME_DELETED);
      }
      continue;
    }
    folder.listed_time = scan.folder_time;
    const std::unordered_set<std::string>& skip = busy[scan.wd];
    std::unordered_set<std::string> seen;
    for (const auto& entry : scan.entries) {
      if (skip.count(entry.first) != 0 || !entry.second) continue;  // absent ones: below
      if (scan.listed) seen.insert(entry.first);
      auto kept = folder.entries.find(entry.first);
      const EntryState& now = *entry.second;
      if (kept == folder.entries.end()) {
        came.push_back({scan.wd, entry.first, now});
        continue;
      }
      const EntryState& before = kept->second;
      if (before.inode != now.inode || before.folder != now.folder) {
        gone.push_back({scan.wd, entry.first, before});
        came.push_back({scan.wd, entry.first, now});
        continue;
      }
      DWORD changed = 0;
      // A folder's own last-write time is reported with the entries that moved it.
      if (!now.folder && (before.write_time != now.write_time || before.size != now.size)) changed |= kModifyFilter;
      if (before.read_only != now.read_only) changed |= FILE_NOTIFY_CHANGE_ATTRIBUTES;
      if (changed != 0) modified.push_back({{scan.wd, entry.first, now}, changed});
    }
    if (scan.listed) {
      for (const std::string& name : scan.unchanged) {
        if (folder.entries.count(name) != 0) {
          seen.insert(name);
        } else if (skip.count(name) == 0) {
          folder.listed_time = 0;  // listed as before but not kept: the next round reads it
        }
      }
      for (const auto& kept : folder.entries) {
        if (skip.count(kept.first) == 0 && seen.count(kept.first) == 0) gone.push_back({scan.wd, kept.first, kept.second});
      }
    } else {
      for (const auto& entry : scan.entries) {
        auto kept = folder.entries.find(entry.first);
        if (!entry.second && skip.count(entry.first) == 0 && kept != folder.entries.end()) {
          gone.push_back({scan.wd, entry.first, kept->second});
        }
      }
    }
  }
  for (Found& went : gone) {
    auto moved = std::find_if(came.begin(), came.end(), [&](const Found& c) {
      return c.state.inode == went.state.inode && c.state.folder == went.state.folder && c.state.inode != 0;
    });
    if (moved != came.end() && Has(went.wd) && Has(moved->wd)) {
      OnRenamed(went.wd, went.name, moved->wd, moved->name, went.state.folder);
      came.erase(moved);
    } else if (Has(went.wd)) {
      OnRemoved(went.wd, went.name, went.state.folder, true);
    }
  }
  for (const Found& arrived : came) {
    if (Has(arrived.wd)) OnCreated(arrived.wd, arrived.name, arrived.state.folder);
  }
  for (const auto& change : modified) {
    if (!Has(change.first.wd)) continue;
    Folder& folder = folders_[change.first.wd];
    Queue(FILE_ACTION_MODIFIED, Join(folder.path, change.first.name), change.second);
    folder.entries[change.first.name] = change.first.state;
  }
}

void ChangeWatch::OnOverflow() {
  records_.Lose();
  scanned_.clear();
}

void ChangeWatch::Restart(bool instance) {
  folders_.clear();
  busy_.reset();
  root_wd_ = -1;
  guard_wd_ = -1;
  OnOverflow();
  if (!instance || Start() != ERROR_SUCCESS) records_.Fail(ERROR_NETNAME_DELETED);
}

}  // namespace w32
