#pragma once
// The scan of folders whose changes inotify cannot see: on network and FUSE
// file systems inotify reports only what this machine does through the mount,
// so the entries of such folders are listed again now and then and compared
// with what the watch keeps of them.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace w32 {

// What a watch keeps of an entry: what the filter compares, and what tells a
// scan that it changed or moved.
struct EntryState {
  bool folder;
  bool read_only;
  int64_t write_time;   // nanoseconds
  int64_t change_time;  // the inode's change time when this was read
  uint64_t size;
  uint64_t inode;
  bool judged;  // read for an IN_ATTRIB: its change was compared already
};

// The state of `name` in the folder `at`; none when it cannot be read. With
// `fresh`, a network file system asks its server rather than its cache.
std::optional<EntryState> ReadEntryState(int at, const std::string& name, bool fresh);

// Changes made to this file system elsewhere (another machine, the folder
// behind a FUSE mount) give no inotify events.
bool ChangesUnseenOn(std::string_view fstype);

// One folder of a scan: filled from the watch with its lock held, then read
// without it.
struct FolderScan {
  int wd = -1;
  std::string path;         // relative to the watched folder
  int64_t folder_time = 0;  // the folder's last-write time at its last listing; 0 when never listed
  size_t kept = 0;          // how many entries the watch keeps
  // The share of the kept entries whose states this round reads (when the
  // folder is not listed): `sweep_count` from the `sweep_from`th on, in the
  // watch's order, and their names.
  size_t sweep_from = 0;
  size_t sweep_count = 0;
  std::vector<std::string> names;
  // The scan thread's own memory of the folder's last listing: each entry's
  // name hash and inode as listed, sorted.
  std::vector<std::pair<size_t, uint64_t>> known;
  // Read by ScanFolder:
  int error = 0;  // errno when the folder could not be read
  // `entries` and `unchanged` are the whole listing; else `entries` are the
  // names read, absent ones without state.
  bool listed = false;
  std::vector<std::pair<std::string, std::optional<EntryState>>> entries;
  std::vector<std::string> unchanged;  // listed as in `known`: their states are left to the sweep
};

// Reads the folder below `root`: its own last-write time, asked of the
// server; when that moved (or the file system keeps none), its listing, with
// the states of the entries that came or changed inode since the last one
// (of every entry at the first); else the states of `names`. Entries' states
// come from the client's attribute cache, which a network file system renews
// after its own timeout (FUSE: 1 s by default; NFS: up to a minute).
void ScanFolder(int root, FolderScan& folder);

}  // namespace w32
