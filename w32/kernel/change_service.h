#pragma once
// The directory change service: one inotify instance for the whole process,
// drained by its reader (InotifyReader) and by one service thread, which
// hands each event to the watch trees that hold its watch and walks the
// trees being set up.
#include <sys/inotify.h>

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "kernel/change_watch.h"
#include "kernel/inotify_reader.h"
#include "kernel/mount_watch.h"

namespace w32 {

class ChangeService final : public InotifyWatches {
 public:
  // The process's service, started on first use; null with the last error set
  // when inotify cannot be had.
  static ChangeService* Get();
  // The service if one was started, else null.
  static ChangeService* Peek();

  // InotifyWatches, with the lock held.
  std::mutex& Lock() override { return lock_; }
  bool HasInstance() const override { return fd_ >= 0; }
  int AddWatch(const std::string& path, uint32_t mask, ChangeWatch* user) override {
    return Enlist(users_, path, mask, user);
  }
  void DropWatch(int wd, ChangeWatch* user) override { Unlist(users_, wd, user); }
  int AddGuard(const std::string& path, ChangeWatch* guarded) override {
    return Enlist(guards_, path, IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ONLYDIR | IN_MASK_ADD, guarded);
  }
  void DropGuard(int wd, ChangeWatch* guarded) override { Unlist(guards_, wd, guarded); }
  void AddUser(ChangeWatch* watch) override { watches_.insert(watch); }
  void RemoveUser(ChangeWatch* watch) override { watches_.erase(watch); }
  bool ChangesUnseen(uint64_t mount) override;
  void WalkLater() override;

 private:
  // An inotify event with its name.
  struct Change {
    int wd;
    uint32_t mask;
    uint32_t cookie;
    std::string name;
  };
  using Lists = std::unordered_map<int, std::vector<ChangeWatch*>>;

  explicit ChangeService(int fd);
  void Run();
  // Tells every tree which mounts the process still sees.
  void CheckMounts();
  // Reads the mount table: the ids of the mounts, and which of them are scanned.
  std::unordered_set<uint64_t> ReadMountTable();
  // The scan thread (change_scan.cpp): scans the folders whose changes
  // inotify cannot see, one round after another, each reading a share of the
  // entries; the pause between two is at least a second, as long as the last
  // round took, and a hundred times the processor time it took.
  void RunScans();
  // Takes and handles one batch of queued events: false when there was none.
  bool HandleBatch();
  void HandleEvents(const std::vector<char>& events);
  // Takes and handles every queued event.
  void Drain();
  // Walks the trees being set up for a slice; true while any is left.
  bool Walk();
  // The same, off the service thread: an old-name event left waiting is
  // paired or handled as a move out before this returns.
  void DrainAll(std::unique_lock<std::mutex>& guard);
  // The inotify instance failed (poll or read): a new one replaces it.
  void Recover(bool closed);
  void Dispatch(const Change& change);
  void DispatchMove(const Change& from, const Change* to);
  std::vector<ChangeWatch*> UsersOf(int wd) const;
  // Adds a kernel watch and lists the tree under it once; -1 on failure.
  int Enlist(Lists& lists, const std::string& path, uint32_t mask, ChangeWatch* watch);
  void Unlist(Lists& lists, int wd, ChangeWatch* watch);
  // Removes the kernel's watch once neither a tree nor a guard uses it.
  void ReleaseWatch(int wd);
  void CheckGuards(const Change& change);

  std::mutex lock_;
  int fd_;  // written only by the service thread, with the lock held; -1 once no instance could be had
  int read_error_ = 0;  // of the last failed wait or read
  InotifyReader reader_;
  std::vector<char> events_;  // the batch being handled
  const int walk_fd_;  // an eventfd: a tree has folders left to watch
  bool walking_ = false;
  MountTableWatch mounts_{"/proc/self/mountinfo"};  // the service thread's
  Lists users_;   // watch descriptor -> trees using it
  Lists guards_;  // watch descriptor -> trees of its subfolders
  std::unordered_set<ChangeWatch*> watches_;
  std::unordered_map<uint64_t, bool> mount_unseen_;  // by mount id, from the last reading of the table
  bool scanning_ = false;  // the scan thread runs
  std::condition_variable scans_wanted_;
  // An old-name event waiting for its new-name partner, until its deadline (CLOCK_MONOTONIC, nanoseconds).
  std::optional<Change> move_from_;
  int64_t move_deadline_ = 0;
};

}  // namespace w32
