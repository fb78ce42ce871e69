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
#include <iterator>

#include "kernel/change_service.h"

namespace w32 {
namespace {

using Clock = std::chrono::steady_clock;

// Between two rounds: at least this, at least as long as the last round took
// (so the share is not kept busy), and ten times the processor time it took
// (so a core is not).
constexpr std::chrono::milliseconds kShortestPause{1000};
constexpr int kPausePerProcessorTime = 10;

Clock::duration ThreadTime() {
  timespec now{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}

int64_t Nanoseconds(const struct statx_timestamp& time) { return time.tv_sec * 1000000000LL + time.tv_nsec; }

// One watch's share of a round.
struct WatchScan {
  uint64_t serial;
  int root;
  std::vector<FolderScan> folders;
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
  const int fd = ::openat(root, folder.path.empty() ? "." : folder.path.c_str(),
                          O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    folder.error = errno;
    return;
  }
  const std::optional<EntryState> self = ReadEntryState(fd, "", true);
  if (!self) {
    folder.error = errno;
    ::close(fd);
    return;
  }
  const int64_t before = folder.folder_time;
  folder.folder_time = self->write_time;
  if (self->write_time != 0 && self->write_time == before) {
    for (const std::string& name : folder.names) folder.entries.emplace_back(name, ReadEntryState(fd, name, true));
    ::close(fd);
    return;
  }
  DIR* listing = ::fdopendir(fd);
  if (listing == nullptr) {
    folder.error = errno;
    ::close(fd);
    return;
  }
  for (;;) {
    errno = 0;
    const dirent* entry = ::readdir(listing);
    if (entry == nullptr) {
      folder.error = errno;
      break;
    }
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    std::optional<EntryState> state = ReadEntryState(fd, name, true);
    if (state) folder.entries.emplace_back(name, std::move(state));
  }
  folder.listed = folder.error == 0;
  ::closedir(listing);
}

void ChangeService::RunScans() {
  Clock::duration pause = kShortestPause;
  for (;;) {
    std::vector<WatchScan> round;
    {
      std::unique_lock<std::mutex> guard(lock_);
      const Clock::time_point due = Clock::now() + pause;
      scans_wanted_.wait_until(guard, due, [&] { return Clock::now() >= due; });
      for (;;) {
        for (ChangeWatch* watch : watches_) {
          WatchScan scan{watch->serial(), -1, {}};
          if (watch->BeginScan(&scan.root, &scan.folders)) round.push_back(std::move(scan));
        }
        if (!round.empty()) break;
        scans_wanted_.wait(guard);  // until a folder to scan is watched
      }
    }
    const Clock::time_point start = Clock::now();
    const Clock::duration processor = ThreadTime();
    for (WatchScan& scan : round) {
      for (FolderScan& folder : scan.folders) ScanFolder(scan.root, folder);
    }
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
    pause = std::max({Clock::duration(kShortestPause), took, kPausePerProcessorTime * (ThreadTime() - processor)});
  }
}

}  // namespace w32
