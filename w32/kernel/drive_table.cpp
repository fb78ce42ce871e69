#include "kernel/drive_table.h"

#include <windows.h>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <map>
#include <mutex>
#include <tuple>

#include "kernel/mount_table.h"
#include "kernel/mount_watch.h"
#include "kernel/volume_identity.h"
#include "kernel/volume_letters.h"
#include "support/debug_channel.h"
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
  std::string key;   // the volume's identity ("uuid:...", "mount:SOURCE\tPOINT") or "drive:sr0"
  std::string root;  // now; empty while nothing is mounted there
  std::string device;
  std::string fstype;
  int mount_id = 0;
  bool present = false;  // the volume is mounted, or the optical drive is there
  VolumeIdentity identity;
};

// C: or a letter of the table folder.
Slot FixedSlot(const std::string& root) {
  Slot slot;
  slot.kind = SlotKind::kFixed;
  slot.key = root;
  slot.root = root;
  return slot;
}

// A volume or optical drive found in one reading of the mount table.
struct Found {
  SlotKind kind;
  std::string key;
  std::string device;
  const Mount* mount;  // null for an optical drive without a mounted disc
  VolumeIdentity identity;
};

// Identities read from the devices, kept while their mount stays.
using MountKey = std::tuple<int, std::string, std::string>;  // id, source, point

class DriveTable {
 public:
  DriveTable() {
    slots_[LetterIndex(u'c')] = FixedSlot("/");
    ReadTableFolder();
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
    volume.uuid = slot.identity.uuid;
    volume.label = slot.identity.label;
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
      slots_[index] = FixedSlot(root);
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
      slot = FixedSlot(root);
    }
    ::closedir(dir);
  }

  // The live mount table tells, by POLLPRI, that it changed since it was last
  // polled; a mount table that is a plain file (a test's machine) is read each time.
  void RefreshIfChangedLocked() {
    pollfd changed = mount_table_.PollEntry();
    if (changed.fd >= 0 && ::poll(&changed, 1, 0) < 0) changed.revents = 0;
    if (changed.fd >= 0 && !mount_table_.Changed(changed.revents)) return;
    ReadVolumes();
  }

  const VolumeIdentity& IdentityOf(const Mount& mount, const std::string& device,
                                   std::map<MountKey, VolumeIdentity>* identities) {
    const MountKey key{mount.id, mount.source, mount.point};
    if (const auto now = identities->find(key); now != identities->end()) return now->second;
    if (const auto known = identities_.find(key); known != identities_.end()) return (*identities)[key] = known->second;
    return (*identities)[key] = ReadVolumeIdentity(device);
  }

  // The optical drives and the volumes mounted where desktops mount them, as
  // the mount table has them now.
  std::vector<Found> FindVolumes() {
    std::vector<Found> found;
    std::map<MountKey, VolumeIdentity> identities;
    for (const std::string& drive : OpticalDrives()) found.push_back({SlotKind::kOptical, "drive:" + drive, drive, nullptr, {}});
    for (const Mount& mount : mounts_) {
      const std::string device = BlockDeviceName(mount.source);
      std::string key;
      SlotKind kind = SlotKind::kMount;
      if (IsOpticalDeviceName(device)) {
        kind = SlotKind::kOptical;
        key = "drive:" + device;
      } else if (IsVolumeMountPoint(mount.point)) {
        const VolumeIdentity& identity = IdentityOf(mount, device, &identities);
        key = identity.uuid.empty() ? "mount:" + mount.source + "\t" + mount.point : "uuid:" + identity.uuid;
      } else {
        continue;
      }
      auto same = std::find_if(found.begin(), found.end(), [&](const Found& f) { return f.key == key; });
      if (same == found.end()) same = found.insert(found.end(), Found{kind, key, device, nullptr, {}});
      if (same->mount != nullptr) continue;  // the first mount of a volume names its root
      same->mount = &mount;
      same->identity = IdentityOf(mount, device, &identities);
    }
    identities_ = std::move(identities);
    return found;
  }

  int SlotOf(const Found& found) const {
    for (int i = 0; i < 26; ++i) {
      if (slots_[i].kind == found.kind && slots_[i].key == found.key) return i;
    }
    return -1;
  }

  void Place(int index, const Found& found) {
    Slot& slot = slots_[index];
    slot.kind = found.kind;
    slot.key = found.key;
    slot.device = found.device;
    slot.present = true;
    slot.identity = found.identity;
    if (found.mount != nullptr) {
      slot.root = found.mount->point;
      slot.fstype = found.mount->fstype;
      slot.mount_id = found.mount->id;
    }
  }

  // A volume keeps its slot in this process while it has one; a volume new
  // here gets its remembered letter when that is free, else a letter by the
  // rule of ChooseLetter. Letters of volumes gone are free for others.
  void ReadVolumes() {
    mounts_ = ReadMounts();
    const std::vector<Found> found = FindVolumes();
    std::vector<std::string> departed;
    std::vector<const Found*> arrived;
    for (Slot& slot : slots_) {
      if (slot.kind != SlotKind::kMount && slot.kind != SlotKind::kOptical) continue;
      const bool stays = std::any_of(found.begin(), found.end(),
                                     [&](const Found& f) { return f.kind == slot.kind && f.key == slot.key; });
      if (slot.present && !stays) departed.push_back(slot.key);
      Slot reset;
      reset.kind = slot.kind;
      reset.key = slot.key;
      reset.present = slot.present && stays;
      slot = std::move(reset);
    }
    for (const Found& volume : found) {
      const int index = SlotOf(volume);
      if (index < 0 || !slots_[index].present) arrived.push_back(&volume);
      if (index >= 0) Place(index, volume);
    }
    if (arrived.empty() && departed.empty()) return;
    UpdateRememberedVolumes(DriveTableFolder(), [&](std::vector<RememberedVolume>* remembered) {
      for (const std::string& key : departed) TouchVolume(remembered, key);
      bool taken[26] = {};
      for (int i = 0; i < 26; ++i) taken[i] = slots_[i].kind == SlotKind::kFixed || slots_[i].present;
      std::vector<const Found*> unplaced;
      for (const Found* volume : arrived) {
        const int index = SlotOf(*volume);
        if (index >= 0 && slots_[index].present) {
          RememberLetter(remembered, volume->key, static_cast<char16_t>(u'A' + index));
        } else {
          unplaced.push_back(volume);
        }
      }
      // Those whose remembered letter is free first, so that no newcomer takes it.
      std::stable_partition(unplaced.begin(), unplaced.end(), [&](const Found* volume) {
        return std::any_of(remembered->begin(), remembered->end(), [&](const RememberedVolume& r) {
          return r.key == volume->key && !taken[LetterIndex(r.letter)];
        });
      });
      for (const Found* volume : unplaced) {
        const char16_t letter = ChooseLetter(*remembered, volume->key, taken);
        if (letter == 0) continue;  // 23 volumes present: this one has no letter
        const int index = LetterIndex(letter);
        slots_[index] = Slot{};
        Place(index, *volume);
        taken[index] = true;
        RememberLetter(remembered, volume->key, letter);
      }
    });
  }

  std::mutex mutex_;
  std::array<Slot, 26> slots_;
  std::vector<Mount> mounts_;
  std::map<MountKey, VolumeIdentity> identities_;
  MountTableWatch mount_table_{SysPath("/proc/self/mountinfo")};
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
    W32_DEBUG(kDebugDrive, "%s: escaped bytes that would read back as other characters", ToUtf8(path).c_str());
    SetLastError(ERROR_INVALID_NAME);
    return false;
  }
  std::string root = DriveRoot(path[0]);
  if (root.empty()) {
    W32_DEBUG(kDebugDrive, "%s: drive %c: has no root now (not in the drive table, or nothing mounted)",
              ToUtf8(path).c_str(), static_cast<char>(path[0]));
    SetLastError(ERROR_PATH_NOT_FOUND);
    return false;
  }
  std::string rest;
  if (!FileNameToBytes(path.substr(2), &rest)) {
    W32_DEBUG(kDebugDrive, "%s: escaped bytes that would read back as other characters", ToUtf8(path).c_str());
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
