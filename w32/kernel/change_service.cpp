// The directory change service over inotify.
//
// One inotify instance serves the whole process. Its reader thread moves the
// kernel's queue into the process as fast as it fills; the service thread
// sleeps in poll(2) between changes, reads the rest itself (so an idle
// service handles an event without a hop between threads), and handles the
// events in batches of at most 64 KiB, letting the lock go between them, so
// that reads are armed and delivered while a burst is being handled. Between
// batches it walks the trees being set up, a slice of a few milliseconds at a
// time. A watch descriptor may serve several
// trees (one folder watched through two handles, or nested watched folders);
// an old-name event waits a moment for its new-name partner, so that a move
// within the watched folders is one rename. The thread also polls the mount
// table, through which the trees find folders that were unmounted.
//
// When waiting on or reading the inotify instance fails, the service thread
// makes a new one and watches every handle's folders again; each handle's
// next read finishes with 0 bytes, as changes were lost meanwhile. Without a
// new instance every read fails with ERROR_NETNAME_DELETED. A failing mount
// table descriptor is replaced the same way (MountTableWatch).
#include "kernel/change_service.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "kernel/change_scan.h"
#include "kernel/file.h"
#include "kernel/mount_table.h"

namespace w32 {
namespace {

// How long an old-name event waits for its new-name partner before it counts as a move out.
constexpr int kMovePairMilliseconds = 10;
// Events are handled in batches of about this many bytes (some 1,500 events).
constexpr size_t kBatchBytes = 65536;
// Events read but not yet handled: about a million, 80 times what the kernel
// keeps by default. Past this the reader waits and the kernel's queue
// overflows, which reports lost changes; a consumer that far behind loses
// changes on the platform too, whose buffer is the read's 64 KiB.
constexpr size_t kReadAheadBytes = size_t{64} << 20;
// The walk's slice: how long it holds the lock at a time.
constexpr int64_t kWalkSlice = 2000000;  // nanoseconds

int64_t MonotonicNanoseconds() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return now.tv_sec * 1000000000LL + now.tv_nsec;
}

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
    the_service = new ChangeService(fd);
    std::thread([] { the_service->Run(); }).detach();
  }
  return the_service;
}

ChangeService::ChangeService(int fd)
    : fd_(fd), reader_(kReadAheadBytes), walk_fd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
  reader_.SetInstance(fd);
}

void ChangeService::WalkLater() { ::eventfd_write(walk_fd_, 1); }

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
    int timeout = -1;
    if (walking_) {
      timeout = 0;
    } else if (move_from_) {
      timeout = static_cast<int>(std::max<int64_t>(0, (move_deadline_ - MonotonicNanoseconds()) / 1000000 + 1));
    }
    // A negative descriptor is skipped.
    pollfd ready[4] = {
        {fd_, POLLIN, 0}, mounts_.PollEntry(), {reader_.ready_fd(), POLLIN, 0}, {walk_fd_, POLLIN, 0}};
    const int count = ::poll(ready, 4, timeout);
    const int poll_error = count < 0 ? errno : 0;
    if (count > 0 && (ready[3].revents & POLLIN)) {
      eventfd_t walks = 0;
      ::eventfd_read(walk_fd_, &walks);
    }
    std::lock_guard<std::mutex> guard(lock_);
    if (poll_error != 0 && poll_error != EINTR) {
      Recover(false);
      continue;
    }
    if (count > 0 && (ready[0].revents & (POLLERR | POLLNVAL))) {
      Recover((ready[0].revents & POLLNVAL) != 0);
      continue;
    }
    if (mounts_.Changed(count > 0 ? ready[1].revents : 0)) CheckMounts();
    const bool caught_up = HandleBatch();
    if (read_error_ != 0) {
      Recover(read_error_ == EBADF);
      continue;
    }
    if (caught_up && move_from_ && MonotonicNanoseconds() >= move_deadline_) {
      // No partner came: the item left the watched folders.
      const Change from = std::move(*move_from_);
      move_from_.reset();
      DispatchMove(from, nullptr);
    }
    walking_ = Walk();
    for (ChangeWatch* watch : watches_) watch->records().Deliver();
  }
}

bool ChangeService::Walk() {
  const int64_t until = MonotonicNanoseconds() + kWalkSlice;
  bool left = false;
  for (ChangeWatch* watch : watches_) {
    if (watch->walking() && watch->Walk(until)) left = true;
  }
  return left;
}

std::unordered_set<uint64_t> ChangeService::ReadMountTable() {
  std::unordered_set<uint64_t> mounts;
  for (const Mount& mount : ParseMountInfo(mounts_.Read())) {
    mounts.insert(static_cast<uint64_t>(mount.id));
    mount_unseen_[static_cast<uint64_t>(mount.id)] = ChangesUnseenOn(mount.fstype);
  }
  return mounts;
}

void ChangeService::CheckMounts() {
  const std::unordered_set<uint64_t> mounts = ReadMountTable();
  if (mounts.empty()) return;  // the table could not be read: nothing is known
  for (ChangeWatch* watch : watches_) watch->CheckMount(mounts);
}

bool ChangeService::ChangesUnseen(uint64_t mount) {
  if (mount_unseen_.count(mount) == 0) ReadMountTable();
  auto it = mount_unseen_.find(mount);
  if (it == mount_unseen_.end() || !it->second) return false;
  if (!scanning_) {
    scanning_ = true;
    std::thread([this] { RunScans(); }).detach();
  }
  scans_wanted_.notify_one();
  return true;
}

void ChangeService::Recover(bool closed) {
  // A descriptor closed behind our back may have been reused: it is not ours to close.
  if (!closed && fd_ >= 0) ::close(fd_);
  fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  reader_.SetInstance(fd_);
  read_error_ = 0;
  users_.clear();
  guards_.clear();
  move_from_.reset();
  for (ChangeWatch* watch : watches_) {
    watch->Restart(fd_ >= 0);
    watch->records().Deliver();
  }
}

bool ChangeService::HandleBatch() {
  bool caught_up = true;
  read_error_ = reader_.Take(&events_, kBatchBytes, &caught_up);
  if (caught_up) {
    for (ChangeWatch* watch : watches_) watch->SealScans();
  }
  HandleEvents(events_);
  const bool any = !events_.empty();
  events_.clear();
  if (events_.capacity() > 4 * kBatchBytes) std::vector<char>().swap(events_);
  if (caught_up) {
    for (ChangeWatch* watch : watches_) watch->ForgetScans();
  }
  return caught_up || !any;
}

void ChangeService::Drain() {
  for (;;) {
    const bool caught_up = HandleBatch();
    for (ChangeWatch* watch : watches_) watch->records().Deliver();
    if (caught_up || read_error_ != 0) return;
  }
}

void ChangeService::DrainAll(std::unique_lock<std::mutex>& guard) {
  Drain();
  if (!move_from_) return;
  // The service thread's poll does not know of this half: its partner is waited for here.
  guard.unlock();
  std::this_thread::sleep_for(std::chrono::milliseconds(kMovePairMilliseconds));
  guard.lock();
  Drain();
  if (move_from_) {
    const Change from = std::move(*move_from_);
    move_from_.reset();
    DispatchMove(from, nullptr);
  }
}

void ChangeService::HandleEvents(const std::vector<char>& events) {
  for (size_t offset = 0; offset + sizeof(inotify_event) <= events.size();) {
    inotify_event header;
    std::memcpy(&header, events.data() + offset, sizeof header);
    const char* name = events.data() + offset + sizeof header;
    offset += sizeof header + header.len;
    Change change{header.wd, header.mask, header.cookie, header.len > 0 ? std::string(name, ::strnlen(name, header.len)) : ""};
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
      move_deadline_ = MonotonicNanoseconds() + kMovePairMilliseconds * 1000000LL;
      continue;
    }
    Dispatch(change);
  }
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
      watch->OnAccessed(event.wd, name);
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
