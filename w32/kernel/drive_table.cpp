#include "kernel/drive_table.h"

#include <windows.h>
#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <poll.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <mutex>

#include "kernel/mount_table.h"
#include "support/file_name.h"
#include "support/sysroot.h"
#include "support/text.h"

namespace w32 {
namespace {

bool IsAsciiLetter(char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }

int LetterIndex(char16_t letter) { return AsciiLower(letter) - u'a'; }

// The folder of symbolic links named like "d:" that give further letters.
std::string DriveTableFolder() {
  if (const char* folder = std::getenv("W32_DRIVES"); folder != nullptr && *folder != 0) return folder;
  if (const char* config = std::getenv("XDG_CONFIG_HOME"); config != nullptr && *config == '/') {
    return std::string(config) + "/w32/drives";
  }
  if (const char* home = std::getenv("HOME"); home != nullptr && *home == '/') {
    return std::string(home) + "/.config/w32/drives";
  }
  return {};
}

std::string LinkTarget(const std::string& link) {
  std::string target(4096, '\0');
  const ssize_t n = ::readlink(link.c_str(), target.data(), target.size());
  if (n <= 0 || static_cast<size_t>(n) >= target.size()) return {};
  target.resize(n);
  if (target[0] == '/') return target;
  return link.substr(0, link.find_last_of('/') + 1) + target;
}

// Where desktops mount removable and network volumes: /media/NAME,
// /media/USER/NAME, /run/media/USER/NAME, /mnt/NAME, /mnt/GROUP/NAME.
bool IsVolumeMountPoint(std::string_view point) {
  const auto depth_below = [&](std::string_view base) -> int {
    if (point.size() <= base.size() || point.substr(0, base.size()) != base) return 0;
    const std::string_view rest = point.substr(base.size());
    if (rest.front() == '/' || rest.back() == '/') return 0;
    return 1 + static_cast<int>(std::count(rest.begin(), rest.end(), '/'));
  };
  const int media = depth_below("/media/");
  const int run_media = depth_below("/run/media/");
  const int mnt = depth_below("/mnt/");
  return media == 1 || media == 2 || run_media == 2 || mnt == 1 || mnt == 2;
}

enum class SlotKind { kNone, kFixed, kMount, kOptical };

struct Slot {
  SlotKind kind = SlotKind::kNone;
  std::string key;   // the mount point or the optical drive's block name
  std::string root;  // now; empty while nothing is mounted there
  std::string device;
  std::string fstype;
  int mount_id = 0;
};

class DriveTable {
 public:
  DriveTable() {
    slots_[LetterIndex(u'c')] = Slot{SlotKind::kFixed, "/", "/", {}, {}};
    ReadTableFolder();
    mountinfo_fd_ = ::open(SysPath("/proc/self/mountinfo").c_str(), O_RDONLY | O_CLOEXEC);
    struct statfs fs {};
    live_mountinfo_ = mountinfo_fd_ >= 0 && ::fstatfs(mountinfo_fd_, &fs) == 0 && fs.f_type == PROC_SUPER_MAGIC;
    ReadVolumes();
  }

  std::string Root(char16_t letter) {
    if (!IsAsciiLetter(letter)) return {};
    std::lock_guard<std::mutex> lock(mutex_);
    RefreshIfChangedLocked();
    AdoptTableLinkLocked(LetterIndex(letter));
    return slots_[LetterIndex(letter)].root;
  }

  std::array<std::string, 26> Roots() {
    std::lock_guard<std::mutex> lock(mutex_);
    RefreshIfChangedLocked();
    std::array<std::string, 26> roots;
    for (int i = 0; i < 26; ++i) roots[i] = slots_[i].root;
    return roots;
  }

  bool Lookup(char16_t letter, DriveVolume* volume) {
    if (!IsAsciiLetter(letter)) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    RefreshIfChangedLocked();
    AdoptTableLinkLocked(LetterIndex(letter));
    const Slot& slot = slots_[LetterIndex(letter)];
    if (slot.kind == SlotKind::kNone) return false;
    *volume = VolumeLocked(LetterIndex(letter));
    if (slot.kind == SlotKind::kFixed && !slot.root.empty()) {
      // The mount that holds the root: the longest mount point above it.
      const Mount* holder = nullptr;
      for (const Mount& mount : mounts_) {
        const std::string& point = mount.point;
        const bool above = slot.root.compare(0, point.size(), point) == 0 &&
                           (point == "/" || slot.root.size() == point.size() || slot.root[point.size()] == '/');
        if (above && (holder == nullptr || point.size() >= holder->point.size())) holder = &mount;
      }
      if (holder != nullptr) {
        volume->device = BlockDeviceName(holder->source);
        volume->fstype = holder->fstype;
      }
    }
    return true;
  }

  std::vector<DriveVolume> Refresh() {
    std::lock_guard<std::mutex> lock(mutex_);
    ReadVolumes();
    std::vector<DriveVolume> volumes;
    for (int i = 0; i < 26; ++i) {
      if (slots_[i].kind == SlotKind::kMount || slots_[i].kind == SlotKind::kOptical) {
        volumes.push_back(VolumeLocked(i));
      }
    }
    return volumes;
  }

 private:
  DriveVolume VolumeLocked(int index) const {
    const Slot& slot = slots_[index];
    DriveVolume volume;
    volume.letter = static_cast<char16_t>(u'A' + index);
    volume.root = slot.root;
    volume.device = slot.device;
    volume.fstype = slot.fstype;
    volume.mount_id = slot.mount_id;
    volume.optical = slot.kind == SlotKind::kOptical;
    volume.folder = slot.kind == SlotKind::kFixed;
    return volume;
  }

  // A link made in the table folder after it was read gives its letter when
  // that letter is first asked for, unless the letter went to a volume meanwhile.
  void AdoptTableLinkLocked(int index) {
    if (slots_[index].kind != SlotKind::kNone) return;
    const std::string folder = DriveTableFolder();
    if (folder.empty()) return;
    for (const char letter : {static_cast<char>('a' + index), static_cast<char>('A' + index)}) {
      std::string root = LinkTarget(folder + "/" + letter + ":");
      if (root.empty()) continue;
      while (root.size() > 1 && root.back() == '/') root.pop_back();
      slots_[index] = Slot{SlotKind::kFixed, root, root, {}, {}};
      return;
    }
  }

  void ReadTableFolder() {
    const std::string folder = DriveTableFolder();
    if (folder.empty()) return;
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return;
    while (const dirent* entry = ::readdir(dir)) {
      const std::string name = entry->d_name;
      if (name.size() != 2 || name[1] != ':' || !IsAsciiLetter(name[0])) continue;
      Slot& slot = slots_[LetterIndex(name[0])];
      if (slot.kind != SlotKind::kNone) continue;  // C: stays "/"
      std::string root = LinkTarget(folder + "/" + name);
      while (root.size() > 1 && root.back() == '/') root.pop_back();
      slot = Slot{SlotKind::kFixed, root, root, {}, {}};
    }
    ::closedir(dir);
  }

  // The live mount table tells, by POLLPRI, that it changed since it was last
  // polled; a mount table that is a plain file (a test's machine) is read each time.
  void RefreshIfChangedLocked() {
    if (live_mountinfo_) {
      pollfd changed{mountinfo_fd_, POLLPRI, 0};
      if (::poll(&changed, 1, 0) <= 0 || (changed.revents & (POLLPRI | POLLERR)) == 0) return;
    }
    ReadVolumes();
  }

  // The slot of a key, given the lowest free letter from D: on when new; -1
  // when every letter is taken.
  int SlotFor(SlotKind kind, const std::string& key) {
    for (int i = 0; i < 26; ++i) {
      if (slots_[i].kind == kind && slots_[i].key == key) return i;
    }
    for (int i = LetterIndex(u'd'); i < 26; ++i) {
      if (slots_[i].kind == SlotKind::kNone) {
        slots_[i] = Slot{kind, key, {}, {}, {}};
        return i;
      }
    }
    return -1;
  }

  void ReadVolumes() {
    mounts_ = ReadMounts();
    for (Slot& slot : slots_) {
      if (slot.kind == SlotKind::kMount || slot.kind == SlotKind::kOptical) {
        slot.root.clear();
        slot.fstype.clear();
        slot.mount_id = 0;
        if (slot.kind == SlotKind::kMount) slot.device.clear();
      }
    }
    for (const std::string& drive : OpticalDrives()) {
      const int index = SlotFor(SlotKind::kOptical, drive);
      if (index >= 0) slots_[index].device = drive;
    }
    for (const Mount& mount : mounts_) {
      const std::string device = BlockDeviceName(mount.source);
      int index = -1;
      if (IsOpticalDeviceName(device)) {
        index = SlotFor(SlotKind::kOptical, device);
        if (index >= 0) slots_[index].device = device;
      } else if (IsVolumeMountPoint(mount.point)) {
        index = SlotFor(SlotKind::kMount, mount.point);
        if (index >= 0) slots_[index].device = device;
      }
      if (index < 0 || !slots_[index].root.empty()) continue;  // the first mount of a disc names its root
      slots_[index].root = mount.point;
      slots_[index].fstype = mount.fstype;
      slots_[index].mount_id = mount.id;
    }
  }

  std::mutex mutex_;
  std::array<Slot, 26> slots_;
  std::vector<Mount> mounts_;
  int mountinfo_fd_ = -1;
  bool live_mountinfo_ = false;
};

DriveTable& Table() {
  static DriveTable* table = new DriveTable;  // used by threads that may outlive static destruction
  return *table;
}

}  // namespace

std::string DriveRoot(char16_t letter) { return Table().Root(letter); }

bool LookupDrive(char16_t letter, DriveVolume* volume) { return Table().Lookup(letter, volume); }

std::vector<DriveVolume> RefreshDrives() { return Table().Refresh(); }

bool ToNativePath(std::u16string_view path, std::string* native) {
  if (path.size() < 2 || path[1] != u':' || !IsAsciiLetter(path[0])) {
    if (FileNameToBytes(path, native)) return true;
    SetLastError(ERROR_INVALID_NAME);
    return false;
  }
  std::string root = DriveRoot(path[0]);
  if (root.empty()) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return false;
  }
  std::string rest;
  if (!FileNameToBytes(path.substr(2), &rest)) {
    SetLastError(ERROR_INVALID_NAME);
    return false;
  }
  for (char& c : rest) {
    if (c == '\\') c = '/';
  }
  const size_t start = rest.find_first_not_of('/');
  rest.erase(0, start == std::string::npos ? rest.size() : start);
  if (!rest.empty() && root.back() != '/') root += '/';
  *native = root + rest;
  return true;
}

std::u16string ToDrivePath(std::string_view native) {
  if (native.empty() || native[0] != '/') return FileNameFromBytes(native);
  const std::array<std::string, 26> roots = Table().Roots();
  int best = -1;
  for (int i = 0; i < 26; ++i) {
    const std::string& root = roots[i];
    if (root.empty() || native.compare(0, root.size(), root) != 0) continue;
    const bool whole = native.size() == root.size() || root == "/" || native[root.size()] == '/';
    if (whole && (best < 0 || root.size() > roots[best].size())) best = i;
  }
  if (best < 0) return FileNameFromBytes(native);
  std::string rest(native.substr(roots[best] == "/" ? 1 : roots[best].size()));
  if (!rest.empty() && rest[0] == '/') rest.erase(0, 1);
  for (char& c : rest) {
    if (c == '/') c = '\\';
  }
  return std::u16string(1, static_cast<char16_t>(u'A' + best)) + u":\\" + FileNameFromBytes(rest);
}

}  // namespace w32
