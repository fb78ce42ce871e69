#pragma once
// The watch tree of one directory handle: the inotify watches of its folder
// and of every folder below, each folder's path relative to the handle's
// folder, and the per-entry state that tells what an IN_ATTRIB changed and
// what a scan compares.
#include <windows.h>

#include <dirent.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "kernel/change_records.h"
#include "kernel/change_scan.h"
#include "kernel/file.h"

namespace w32 {

class ChangeWatch;

// What a watch tree needs of the service that owns the inotify instance; the
// service implements it, so the tree never calls the service by name.
class InotifyWatches {
 public:
  // Guards the service and every tree.
  virtual std::mutex& Lock() = 0;
  virtual bool HasInstance() const = 0;
  // A kernel watch of `path` with `mask`, with the tree listed under it once; -1 with errno on failure.
  virtual int AddWatch(const std::string& path, uint32_t mask, ChangeWatch* user) = 0;
  virtual void DropWatch(int wd, ChangeWatch* user) = 0;
  // The watch on a watched folder's parent, which tells when the folder leaves it.
  virtual int AddGuard(const std::string& path, ChangeWatch* guarded) = 0;
  virtual void DropGuard(int wd, ChangeWatch* guarded) = 0;
  // The trees to tell of every change, and to restart with a new instance.
  virtual void AddUser(ChangeWatch* watch) = 0;
  virtual void RemoveUser(ChangeWatch* watch) = 0;
  // Whether changes to the mount `mount` can be missed by inotify; if so,
  // scans of the folders on it start.
  virtual bool ChangesUnseen(uint64_t mount) = 0;
  // A tree has folders left to watch: the service goes on with them (Walk).
  virtual void WalkLater() = 0;

 protected:
  ~InotifyWatches() = default;
};

// Made by the handle's first ReadDirectoryChangesW; everything but its end
// runs with the service's lock held.
class ChangeWatch : public FileChangeState {
 public:
  ChangeWatch(InotifyWatches& service, File& file, DWORD filter);
  ~ChangeWatch() override;
  ChangeWatch(const ChangeWatch&) = delete;
  ChangeWatch& operator=(const ChangeWatch&) = delete;

  // Watches the folder (and its subtree); ERROR_SUCCESS or why not.
  DWORD Start();
  ChangeRecords& records() { return records_; }

  bool Has(int wd) const { return folders_.count(wd) != 0; }
  void OnCreated(int wd, const std::string& name, bool folder);
  void OnRemoved(int wd, const std::string& name, bool folder, bool moved);
  void OnRenamed(int from_wd, const std::string& from, int to_wd, const std::string& to, bool folder);
  void OnWritten(int wd, const std::string& name);
  void OnAttributes(int wd, const std::string& name);
  void OnAccessed(int wd, const std::string& name);
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
  // Every event queued so far has been read: once they are handled, each
  // name that a listing of a new folder reported has had its own event.
  void SealScans();
  void ForgetScans() { sealed_.clear(); }
  // Watches and lists more of the tree, until `until`; false once all is watched.
  bool Walk(int64_t until);
  bool walking() const { return !listings_.empty() || !unwatched_.empty(); }

  // A scan of the folders whose changes inotify cannot see: false when there
  // are none. `root` is a descriptor of the watched folder for the scan to
  // close; from here to ApplyScan, entries that events change are left to them.
  bool BeginScan(int* root, std::vector<FolderScan>* folders);
  // The names of each folder's share of entries that the scan reads (FolderScan::sweep_count).
  void SweepNames(std::vector<FolderScan>& folders) const;
  // What the scan found that no event told: the same records as for events.
  void ApplyScan(std::vector<FolderScan>& folders);
  uint64_t serial() const { return serial_; }

 private:
  struct Folder {
    std::string path;  // relative to the watched folder
    int parent = -1;   // the watch of the folder that holds it; -1 for the watched folder
    std::string name;  // its name there
    uint64_t mount = 0;  // which folder this is: its mount and inode
    uint64_t inode = 0;
    bool unseen = false;  // its file system's changes can be missed by inotify: it is scanned
    int64_t listed_time = 0;  // its last-write time when it was last listed (watched or scanned)
    // Of a scanned folder every entry's state; of another only the states
    // that an IN_ATTRIB needed, until the entry changes again.
    std::unordered_map<std::string, EntryState> entries;
    size_t held = 0;  // how many entries it has, as far as the walk and events tell
  };
  // A folder to watch and list, below the one of `parent`.
  struct Unwatched {
    std::string path;
    int parent;
    std::string name;
    bool report;  // its entries are new: each is reported as added
  };
  struct DirCloser {
    void operator()(DIR* listing) const { ::closedir(listing); }
  };
  struct Listing {
    std::unique_ptr<DIR, DirCloser> dir;
    int wd;
    bool report;
    // The folder changed after the first read was armed, before its watch
    // was made: entries changed since then are reported.
    bool catch_up;
    bool caught = false;  // such an entry was found
    std::unordered_set<std::string> told;  // names events told of while it is listed
  };
  // A change a scan found.
  struct Found {
    int wd;
    std::string name;
    EntryState state;
  };

  // The entry `name` of the folder `wd` changed through an event.
  void Busy(int wd, const std::string& name);
  // The folder of `wd` is another one now (a mount came or went there): what
  // the old one held is removed, what the new one holds is added and watched.
  void Replace(int wd);
  // Opens `path` (relative to the watched folder), entry `name` of the folder
  // under `parent`, and watches it; -1 with errno on failure.
  // Its last-write time goes to `*write_time`.
  int WatchFolder(const std::string& path, int parent, const std::string& name, int* fd, int64_t* write_time);
  // Watches `path` and every folder below it; with `report`, each entry found
  // is reported as added. Without, it walks as far as a few milliseconds
  // take, the rest in the background (Walk).
  void AddTree(const std::string& path, int parent, const std::string& name, bool report);
  // Walks until `until` or until only the first `folders` unwatched folders
  // and `listings` listings are left; false when none of those above is left.
  bool WalkAbove(int64_t until, size_t folders, size_t listings);
  // Watches an unwatched folder and opens its listing.
  void OpenListing(const Unwatched& next);
  // Lists the next entries of the innermost listing, closing it at its end.
  void ListSome(int64_t until);
  // The walk found the entry `name` of the folder under `wd`, listed from `at`.
  void Listed(int at, int wd, const std::string& name, unsigned char type);
  // An event told of `name` in the folder under `wd`: a listing of it leaves it to the event.
  void Told(int wd, const std::string& name);
  // The name was reported by a listing and waits for its own event: true, and it waits no more.
  bool Unscan(int wd, const std::string& name);
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

  InotifyWatches& service_;
  File& file_;
  const DWORD filter_;  // the first read's; later reads cannot change what is watched
  const bool compares_;  // the filter tells attribute and last-write changes from others
  int root_wd_ = -1;
  int guard_wd_ = -1;  // the watch on the parent folder
  uint64_t mount_id_ = 0;  // the folder's mount, 0 when unknown
  std::unordered_map<int, Folder> folders_;  // by watch descriptor
  // Names that the listing of a new folder reported, until the events queued
  // before the listing are all read: their own creation events are not
  // repeated. Sealed once every event queued so far was read.
  std::unordered_map<int, std::unordered_set<std::string>> scanned_;
  std::unordered_map<int, std::unordered_set<std::string>> sealed_;
  // The walk: folders still to watch, last first, and the one being listed.
  std::vector<Unwatched> unwatched_;
  std::vector<Listing> listings_;  // innermost last
  int64_t walk_start_ = 0;  // when the first read was armed: the file systems' clock, nanoseconds
  // Entries that events changed since the scan began, by folder.
  std::optional<std::unordered_map<int, std::unordered_set<std::string>>> busy_;
  const uint64_t serial_;
  ChangeRecords records_;
};

}  // namespace w32
