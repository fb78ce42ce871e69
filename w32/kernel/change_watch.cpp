// The watch tree of one directory handle over inotify.
//
// inotify says nothing of a folder's last-write time when its entries change,
// so an entry that comes, goes or is renamed also gives a record for its
// folder (not for the watched folder itself, which is not in its own tree). A
// subfolder the user may not read is not watched: its own changes still come
// from its parent. IN_ATTRIB says only that something of an inode changed: the
// entry's read-only attribute and last-write time, kept from its last
// IN_ATTRIB, tell a change of owner or permissions alone from one the filter
// asks for. Only those states are kept (no state per entry up front), so an
// entry's first IN_ATTRIB, and one after a write, is judged by the entry
// alone: read-only now counts as an attribute change (entries are writable
// unless made otherwise), a last-write time equal to the change time as a
// last-write change (a write or a set time moves both; an owner or mode alone
// only the change time).
//
// The first read returns at once: the walk of the tree (a watch per folder,
// no stat per entry) goes on in slices of a few milliseconds on the service
// thread, between events. A folder is watched before it is listed, so what
// changes after that comes as events; one whose last-write time shows that
// its entries changed since the first read, before its watch, is caught up
// with: entries whose change time is that recent are reported (a folder made
// since, with all it holds), and if none is, something went away, which
// shows as lost changes. A write to a file that already existed, in a folder
// not yet watched, is not seen.
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

#include <time.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <thread>
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

// The walk holds the service's lock for at most about this at a time.
constexpr int64_t kWalkSlice = 2000000;  // nanoseconds
// The longest wait for the coarse clock to reach the time a read was armed at.
constexpr int64_t kTickWait = 50000000;  // nanoseconds

int64_t ClockNanoseconds(clockid_t clock) {
  timespec now{};
  ::clock_gettime(clock, &now);
  return now.tv_sec * 1000000000LL + now.tv_nsec;
}

int64_t Nanoseconds(const struct statx_timestamp& time) { return time.tv_sec * 1000000000LL + time.tv_nsec; }

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
  listings_.clear();
}

int ChangeWatch::WatchFolder(const std::string& path, int parent, const std::string& name, int* fd,
                             int64_t* write_time) {
  *fd = ::openat(file_.fd(), path.empty() ? "." : path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (*fd < 0) return -1;
  const int wd = service_.AddWatch(ProcPath(*fd), InotifyMask(filter_), this);
  if (wd < 0 || folders_.count(wd) != 0) {
    // Watched already: also found by another listing, which lists it.
    const int error = wd < 0 ? errno : EEXIST;
    ::close(*fd);
    errno = error;
    return -1;
  }
  Folder folder;
  folder.path = path;
  folder.parent = parent;
  folder.name = name;
  struct statx status;
  *write_time = 0;
  if (::statx(*fd, "", AT_EMPTY_PATH, STATX_MNT_ID | STATX_INO | STATX_MTIME, &status) == 0) {
    *write_time = Nanoseconds(status.stx_mtime);
    // Read before the caller lists it: the scan lists it again only once this moved.
    folder.listed_time = *write_time;
    if (status.stx_mask & STATX_MNT_ID) {
      folder.mount = status.stx_mnt_id;
      folder.inode = status.stx_ino;
      folder.unseen = service_.ChangesUnseen(folder.mount);
    }
  }
  folders_[wd] = std::move(folder);
  return wd;
}

DWORD ChangeWatch::Start() {
  service_.AddUser(this);
  if (!service_.HasInstance()) return ERROR_NETNAME_DELETED;
  walk_start_ = INT64_MAX;  // what the first slice finds was there before the read was armed
  int fd = -1;
  int64_t write_time = 0;
  root_wd_ = WatchFolder("", -1, "", &fd, &write_time);
  if (root_wd_ < 0) return errno == ENOSPC ? ERROR_NOT_ENOUGH_QUOTA : ErrorFromErrno(errno);
  struct statx status;
  if (::statx(fd, "", AT_EMPTY_PATH, STATX_MNT_ID, &status) == 0 && (status.stx_mask & STATX_MNT_ID)) {
    mount_id_ = status.stx_mnt_id;
  }
  ::close(fd);
  GuardRoot();
  AddTree("", -1, "", false);
  // The read is armed at the fine clock's time: what changed before has an
  // earlier time. The file systems stamp from the coarse clock (or a finer
  // one, never earlier), so once it has reached that time, what changes from
  // then on has a later one. The coarse clock's tick may be late by more than
  // its period (a virtual processor held up while it ticks). Only a walk that
  // goes on needs that; a clock set back is waited for no longer than kTickWait.
  const int64_t armed = ClockNanoseconds(CLOCK_REALTIME);
  const int64_t give_up = ClockNanoseconds(CLOCK_MONOTONIC) + kTickWait;
  while (walking() && ClockNanoseconds(CLOCK_REALTIME_COARSE) < armed &&
         ClockNanoseconds(CLOCK_MONOTONIC) < give_up) {
    std::this_thread::sleep_for(std::chrono::microseconds(100));
  }
  walk_start_ = std::min(armed, ClockNanoseconds(CLOCK_REALTIME_COARSE));
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

// A tree that came (reported) is walked at once, so its records keep their
// place among the events' ones; the first read's, as far as a slice takes.
void ChangeWatch::AddTree(const std::string& top, int parent, const std::string& top_name, bool report) {
  // Its folders go above every other of the walk, so this tree's are walked first.
  const size_t folders = unwatched_.size();
  const size_t listings = listings_.size();
  unwatched_.push_back({top, parent, top_name, report});
  const int64_t until = report ? INT64_MAX : ClockNanoseconds(CLOCK_MONOTONIC) + kWalkSlice;
  if (WalkAbove(until, folders, listings) || walking()) service_.WalkLater();
}

bool ChangeWatch::Walk(int64_t until) { return WalkAbove(until, 0, 0); }

bool ChangeWatch::WalkAbove(int64_t until, size_t folders, size_t listings) {
  while (listings_.size() > listings || unwatched_.size() > folders) {
    if (ClockNanoseconds(CLOCK_MONOTONIC) >= until) return true;
    if (listings_.size() > listings) {
      ListSome(until);
      continue;
    }
    const Unwatched next = std::move(unwatched_.back());
    unwatched_.pop_back();
    OpenListing(next);
  }
  return false;
}

void ChangeWatch::OpenListing(const Unwatched& next) {
  int fd = -1;
  int64_t write_time = 0;
  // The root's watch is made already, by Start.
  const int wd = next.path.empty() && root_wd_ >= 0 && next.parent == -1 ? root_wd_ : -1;
  if (wd >= 0) {
    fd = ::openat(file_.fd(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
  }
  const int watched = wd >= 0 ? wd : WatchFolder(next.path, next.parent, next.name, &fd, &write_time);
  if (watched < 0) {
    // A folder gone already needs nothing, and one the user may not read is
    // seen from its parent only; one that cannot be watched for want of
    // watches or descriptors loses changes.
    if (errno != ENOENT && errno != ENOTDIR && errno != ELOOP && errno != EACCES && errno != EPERM &&
        errno != EEXIST) {
      OnOverflow();
    }
    return;
  }
  DIR* listing = ::fdopendir(fd);
  if (listing == nullptr) {
    ::close(fd);
    return;
  }
  bool report = next.report;
  bool catch_up = !report && wd < 0 && write_time >= walk_start_;
  struct statx status;
  if (catch_up && ::statx(fd, "", AT_EMPTY_PATH, STATX_BTIME, &status) == 0 && (status.stx_mask & STATX_BTIME) &&
      Nanoseconds(status.stx_btime) >= walk_start_) {
    report = true;  // made since: its parent's listing reported it as added, and all it holds is new
    catch_up = false;
  }
  listings_.push_back(Listing{std::unique_ptr<DIR, DirCloser>(listing), watched, report, catch_up, false, {}});
}

void ChangeWatch::ListSome(int64_t until) {
  Listing& listing = listings_.back();
  if (!Has(listing.wd)) {  // gone or replaced meanwhile
    listings_.pop_back();
    return;
  }
  const int at = ::dirfd(listing.dir.get());
  for (int count = 0;; ++count) {
    if ((count & 63) == 63 && ClockNanoseconds(CLOCK_MONOTONIC) >= until) return;
    const dirent* entry = ::readdir(listing.dir.get());
    if (entry == nullptr) break;
    if (entry->d_name[0] == '.' && (entry->d_name[1] == 0 || (entry->d_name[1] == '.' && entry->d_name[2] == 0))) {
      continue;
    }
    Listed(at, listing.wd, entry->d_name, entry->d_type);
  }
  // A folder whose entries changed, none of which is here now: one went away.
  if (listing.catch_up && !listing.caught) OnOverflow();
  listings_.pop_back();
}

// `listings_.back()` is the listing of `wd`.
void ChangeWatch::Listed(int at, int wd, const std::string& name, unsigned char type) {
  Listing& listing = listings_.back();
  Folder& folder = folders_[wd];
  bool is_folder = type == DT_DIR;
  if (type == DT_UNKNOWN) {
    struct stat status;
    is_folder = ::fstatat(at, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(status.st_mode);
  }
  ++folder.held;
  if (folder.unseen) {
    if (const std::optional<EntryState> state = ReadEntryState(at, name, false)) folder.entries[name] = *state;
  }
  if (is_folder) unwatched_.push_back({Join(folder.path, name), wd, name, listing.report});
  if (!listing.report && !listing.catch_up) return;  // most of a walk: nothing to report
  if (listing.told.count(name) != 0) return;  // its event reported it
  DWORD action = 0;
  if (listing.report) {
    action = FILE_ACTION_ADDED;
  } else if (listing.catch_up) {
    struct statx status;
    if (::statx(at, name.c_str(), AT_SYMLINK_NOFOLLOW, STATX_CTIME | STATX_BTIME, &status) != 0 ||
        Nanoseconds(status.stx_ctime) < walk_start_) {
      return;
    }
    listing.caught = true;
    const bool born = (status.stx_mask & STATX_BTIME) == 0 || Nanoseconds(status.stx_btime) >= walk_start_;
    action = born ? FILE_ACTION_ADDED : FILE_ACTION_MODIFIED;
  } else {
    return;
  }
  Queue(action, Join(folder.path, name), action == FILE_ACTION_ADDED ? NameFilter(is_folder) : kAttribFilter);
  if (action == FILE_ACTION_ADDED) {
    scanned_[wd].insert(name);
    Touched(wd);
  }
}

void ChangeWatch::Told(int wd, const std::string& name) {
  for (Listing& listing : listings_) {
    if (listing.wd == wd) listing.told.insert(name);
  }
}

bool ChangeWatch::Unscan(int wd, const std::string& name) {
  bool found = false;
  for (auto* names : {&scanned_, &sealed_}) {
    auto it = names->find(wd);
    if (it != names->end() && it->second.erase(name) != 0) found = true;
  }
  return found;
}

void ChangeWatch::SealScans() {
  for (auto& entry : scanned_) sealed_[entry.first].insert(entry.second.begin(), entry.second.end());
  scanned_.clear();
}

void ChangeWatch::DropTree(const std::string& path) {
  for (auto it = folders_.begin(); it != folders_.end();) {
    if (IsWithin(it->second.path, path)) {
      service_.DropWatch(it->first, this);
      scanned_.erase(it->first);
      sealed_.erase(it->first);
      it = folders_.erase(it);
    } else {
      ++it;
    }
  }
  unwatched_.erase(std::remove_if(unwatched_.begin(), unwatched_.end(),
                                  [&](const Unwatched& folder) { return IsWithin(folder.path, path); }),
                   unwatched_.end());
}

void ChangeWatch::Queue(DWORD action, const std::string& path, DWORD filter) {
  if (!records_.Queue(action, path, filter)) {  // the records were lost
    scanned_.clear();
    sealed_.clear();
  }
}

void ChangeWatch::OnCreated(int wd, const std::string& name, bool folder) {
  Busy(wd, name);
  if (Unscan(wd, name)) return;  // reported by a listing
  Told(wd, name);
  Folder& at = folders_[wd];
  ++at.held;
  const std::string path = Join(at.path, name);
  Queue(FILE_ACTION_ADDED, path, NameFilter(folder));
  Refresh(wd, name);
  Touched(wd);
  if (folder) AddTree(path, wd, name, true);
}

void ChangeWatch::OnRemoved(int wd, const std::string& name, bool folder, bool moved) {
  Unscan(wd, name);
  Busy(wd, name);
  Told(wd, name);
  Folder& at = folders_[wd];
  if (at.held > 0) --at.held;
  const std::string path = Join(at.path, name);
  Queue(FILE_ACTION_REMOVED, path, NameFilter(folder));
  at.entries.erase(name);
  Touched(wd);
  // A deleted folder's watches end by themselves; a moved one is still watched elsewhere.
  if (folder && moved) DropTree(path);
}

void ChangeWatch::OnRenamed(int from_wd, const std::string& from, int to_wd, const std::string& to, bool folder) {
  Unscan(from_wd, from);
  Unscan(to_wd, to);
  Busy(from_wd, from);
  Busy(to_wd, to);
  Told(from_wd, from);
  Told(to_wd, to);
  Folder& source = folders_[from_wd];
  if (source.held > 0) --source.held;
  ++folders_[to_wd].held;
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
  // A watched folder, or one the walk has yet to come to, at or below the old name.
  const auto move = [&](auto& moved) {
    if (moved.path == old_path) {
      moved.parent = to_wd;
      moved.name = to;
    }
    if (IsWithin(moved.path, old_path)) {
      moved.path = new_path + moved.path.substr(old_path.size());
      moved_watches = true;
    }
  };
  for (auto& entry : folders_) move(entry.second);
  for (Unwatched& moved : unwatched_) move(moved);
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
  std::unordered_map<std::string, EntryState>& entries = folder->second.entries;
  // Only the scan needs every state now; an IN_ATTRIB reads its own.
  const std::optional<EntryState> state =
      folder->second.unseen ? ReadEntryState(file_.fd(), Join(folder->second.path, name), false) : std::nullopt;
  if (state) {
    entries[name] = *state;
  } else if (!entries.empty()) {
    entries.erase(name);
  }
}

// Any IN_ATTRIB may be a change of owner, permissions or last-access time. A
// change of the read-only attribute or of the last-write time shows in the
// entry's state; a state read after the change already (for an event handled
// before this one) leaves unknown what changed, and then every kind counts.
// Without a kept state, the entry alone tells (the opening comment).
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
  } else if (now) {
    changed = kOthers;
    if (now->read_only) changed |= FILE_NOTIFY_CHANGE_ATTRIBUTES;
    if (now->write_time == now->change_time) changed |= FILE_NOTIFY_CHANGE_LAST_WRITE;
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
  sealed_.erase(wd);
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

// What the old folder held is reported as removed where it is known (every
// entry of a scanned folder; elsewhere its subfolders and the entries with a
// kept state); else the folder itself is reported as removed and added again.
void ChangeWatch::Replace(int wd) {
  const Folder old = folders_[wd];
  std::vector<std::pair<std::string, bool>> held;
  for (const auto& entry : old.entries) held.emplace_back(entry.first, entry.second.folder);
  for (const auto& entry : folders_) {
    if (entry.second.parent == wd && old.entries.count(entry.second.name) == 0) held.emplace_back(entry.second.name, true);
  }
  if (held.size() < old.held) {
    Queue(FILE_ACTION_REMOVED, old.path, FILE_NOTIFY_CHANGE_DIR_NAME);
    Queue(FILE_ACTION_ADDED, old.path, FILE_NOTIFY_CHANGE_DIR_NAME);
  } else {
    for (const auto& entry : held) Queue(FILE_ACTION_REMOVED, Join(old.path, entry.first), NameFilter(entry.second));
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
  sealed_.clear();
}

void ChangeWatch::Restart(bool instance) {
  folders_.clear();
  unwatched_.clear();
  listings_.clear();
  busy_.reset();
  root_wd_ = -1;
  guard_wd_ = -1;
  OnOverflow();
  if (!instance || Start() != ERROR_SUCCESS) records_.Fail(ERROR_NETNAME_DELETED);
}

}  // namespace w32
