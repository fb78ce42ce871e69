// Listing folders for the scan of file systems whose changes inotify cannot
// see. The comparison with the watch's kept entries is the watch's
// (ChangeWatch::ApplyScan); the thread that runs scans is the service's
// (ChangeService::RunScans).
#include "kernel/change_scan.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <functional>
#include <iterator>
#include <map>

#include "kernel/change_service.h"

namespace w32 {
namespace {

using Clock = std::chrono::steady_clock;

// A round asks the server for every scanned folder's own last-write time, and
// for the states of as many entries as about kRoundCost of processor time
// pays for (a write to a file moves no folder's time, so only its own state
// shows it), at least as many as there are folders. Between two rounds: at
// least kShortestPause, at least as long as the last round took (so the share
// is not kept busy), and a hundred times the processor time it took, so the
// scan keeps at most a hundredth of a core busy however large the tree.
constexpr std::chrono::milliseconds kShortestPause{1000};
constexpr std::chrono::milliseconds kRoundCost{10};
constexpr int kPausePerProcessorTime = 100;
// What one request to the server costs the scan before a round has measured it.
constexpr std::chrono::microseconds kFirstReadCost{20};

Clock::duration ThreadTime() {
  timespec now{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}

int64_t Nanoseconds(const struct statx_timestamp& time) { return time.tv_sec * 1000000000LL + time.tv_nsec; }

// One watch's share of a round.
struct WatchScan {
  uint64_t serial;
  ChangeWatch* watch;  // valid while the lock that found it is held
  int root;
  std::vector<FolderScan> folders;
};

// Which kept entries the rounds read, share after share in the order of the
// watches and their folders, so that each is read again once every
// tree-size-over-share rounds. A folder's entries are taken in the watch's
// order, which changes only where entries come or go; an entry that this
// moves past the end of a share is read in the next sweep.
class Sweep {
 public:
  // Gives the folders of `round` their shares, `entries` in all, from where
  // the last round's ended.
  void Choose(std::vector<WatchScan>& round, size_t entries);

 private:
  using Key = std::pair<uint64_t, int>;  // watch serial, folder
  Key next_{0, 0};
  size_t next_from_ = 0;  // within the folder of `next_`
};

}  // namespace

std::optional<EntryState> ReadEntryState(int at, const std::string& name, bool fresh) {
  struct statx status;
  const int flags = AT_SYMLINK_NOFOLLOW | (name.empty() ? AT_EMPTY_PATH : 0) | (fresh ? AT_STATX_FORCE_SYNC : 0);
  if (::statx(at, name.c_str(), flags, STATX_TYPE | STATX_MODE | STATX_MTIME | STATX_CTIME | STATX_SIZE | STATX_INO,
              &status) != 0) {
    return std::nullopt;
  }
  return EntryState{S_ISDIR(status.stx_mode),        (status.stx_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0,
                    Nanoseconds(status.stx_mtime),   Nanoseconds(status.stx_ctime),
                    status.stx_size,                 status.stx_ino,
                    false};
}

bool ChangesUnseenOn(std::string_view fstype) {
  static constexpr std::string_view kUnseen[] = {
      "nfs",   "nfs4",   "cifs",  "smb3",      "smbfs", "ncpfs", "9p",   "ceph",
      "afs",   "coda",   "davfs", "glusterfs", "lustre", "gfs2", "ocfs2", "fuse"};
  if (std::find(std::begin(kUnseen), std::end(kUnseen), fstype) != std::end(kUnseen)) return true;
  // Any FUSE file system but fuseblk, which serves a local disk.
  return fstype.substr(0, 5) == "fuse.";
}

void ScanFolder(int root, FolderScan& folder) {
  // By path from the watched folder: no open of each folder on the server.
  const std::optional<EntryState> self = ReadEntryState(root, folder.path, true);
  if (!self || !self->folder) {
    folder.error = self ? ENOTDIR : errno;
    return;
  }
  const int64_t before = folder.folder_time;
  folder.folder_time = self->write_time;
  if (self->write_time != 0 && self->write_time == before) {
    std::string path = folder.path;
    for (std::string& name : folder.names) {
      path.resize(folder.path.size());
      if (!path.empty()) path += '/';
      path += name;
      folder.entries.emplace_back(std::move(name), ReadEntryState(root, path, false));
    }
    return;
  }
  const int fd = ::openat(root, folder.path.empty() ? "." : folder.path.c_str(),
                          O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    folder.error = errno;
    return;
  }
  DIR* listing = ::fdopendir(fd);
  if (listing == nullptr) {
    folder.error = errno;
    ::close(fd);
    return;
  }
  std::vector<std::pair<size_t, uint64_t>> listed;
  for (;;) {
    errno = 0;
    const dirent* entry = ::readdir(listing);
    if (entry == nullptr) {
      folder.error = errno;
      break;
    }
    std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    const std::pair<size_t, uint64_t> mark{std::hash<std::string>{}(name), entry->d_ino};
    listed.push_back(mark);
    if (before != 0 && std::binary_search(folder.known.begin(), folder.known.end(), mark)) {
      folder.unchanged.push_back(std::move(name));
      continue;
    }
    std::optional<EntryState> state = ReadEntryState(fd, name, false);
    if (state) folder.entries.emplace_back(std::move(name), std::move(state));
  }
  folder.listed = folder.error == 0;
  if (folder.listed) {
    std::sort(listed.begin(), listed.end());
    folder.known = std::move(listed);
  }
  ::closedir(listing);
}

void Sweep::Choose(std::vector<WatchScan>& round, size_t entries) {
  std::vector<std::pair<Key, FolderScan*>> order;
  for (WatchScan& scan : round) {
    for (FolderScan& folder : scan.folders) order.push_back({{scan.serial, folder.wd}, &folder});
  }
  if (order.empty()) return;
  const auto by_key = [](const std::pair<Key, FolderScan*>& a, const std::pair<Key, FolderScan*>& b) {
    return a.first < b.first;
  };
  std::sort(order.begin(), order.end(), by_key);
  size_t at = std::lower_bound(order.begin(), order.end(), std::pair<Key, FolderScan*>{next_, nullptr}, by_key) -
              order.begin();
  size_t from = at < order.size() && order[at].first == next_ ? next_from_ : 0;
  for (size_t step = 0; step < order.size() && entries > 0; ++step, from = 0) {
    if (at == order.size()) at = 0;
    const Key key = order[at].first;
    FolderScan& folder = *order[at++].second;
    if (from >= folder.kept) from = 0;  // it lost entries meanwhile
    folder.sweep_from = from;
    folder.sweep_count = std::min(folder.kept - from, entries);
    entries -= folder.sweep_count;
    next_ = {key.first, key.second + 1};
    next_from_ = 0;
    if (from + folder.sweep_count < folder.kept) {
      next_ = key;
      next_from_ = from + folder.sweep_count;
    }
  }
}

void ChangeService::RunScans() {
  Clock::duration pause = kShortestPause;
  Clock::duration read_cost = kFirstReadCost;
  Sweep sweep;
  // What each folder's last listing held (FolderScan::known), by watch serial and folder.
  std::map<std::pair<uint64_t, int>, std::vector<std::pair<size_t, uint64_t>>> known;
  for (;;) {
    std::vector<WatchScan> round;
    {
      std::unique_lock<std::mutex> guard(lock_);
      const Clock::time_point due = Clock::now() + pause;
      scans_wanted_.wait_until(guard, due, [&] { return Clock::now() >= due; });
      for (;;) {
        for (ChangeWatch* watch : watches_) {
          WatchScan scan{watch->serial(), watch, -1, {}};
          if (watch->BeginScan(&scan.root, &scan.folders)) round.push_back(std::move(scan));
        }
        if (!round.empty()) break;
        scans_wanted_.wait(guard);  // until a folder to scan is watched
      }
      size_t folders = 0;
      for (const WatchScan& scan : round) folders += scan.folders.size();
      const auto affordable = static_cast<size_t>(kRoundCost / read_cost);
      sweep.Choose(round, std::max(folders, affordable > folders ? affordable - folders : 0));
      for (WatchScan& scan : round) scan.watch->SweepNames(scan.folders);
    }
    const Clock::time_point start = Clock::now();
    const Clock::duration processor = ThreadTime();
    size_t reads = 0;
    std::map<std::pair<uint64_t, int>, std::vector<std::pair<size_t, uint64_t>>> still_known;
    for (WatchScan& scan : round) {
      for (FolderScan& folder : scan.folders) {
        const std::pair<uint64_t, int> key{scan.serial, folder.wd};
        auto memory = known.find(key);
        if (memory != known.end()) folder.known = std::move(memory->second);
        ScanFolder(scan.root, folder);
        reads += 1 + folder.entries.size();
        still_known[key] = std::move(folder.known);
      }
    }
    known = std::move(still_known);  // of the folders still scanned
    const Clock::duration took = Clock::now() - start;
    std::unique_lock<std::mutex> guard(lock_);
    // Events of changes made before the listing are handled first, so the
    // kept state holds every change that they report.
    DrainAll(guard);
    for (WatchScan& scan : round) {
      ::close(scan.root);
      for (ChangeWatch* watch : watches_) {
        if (watch->serial() == scan.serial) watch->ApplyScan(scan.folders);
      }
    }
    DrainAll(guard);  // the events of folders that the scan found and listed
    for (ChangeWatch* watch : watches_) {
      watch->ForgetScans();
      watch->records().Deliver();
    }
    const Clock::duration spent = ThreadTime() - processor;
    read_cost = std::max<Clock::duration>(spent / reads, std::chrono::microseconds(1));
    pause = std::max({Clock::duration(kShortestPause), took, kPausePerProcessorTime * spent});
  }
}

}  // namespace w32
