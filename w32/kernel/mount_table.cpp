#include "kernel/mount_table.h"

#include <dirent.h>
#include <limits.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdlib>

#include "support/sysroot.h"

namespace w32 {
namespace {

// mountinfo writes space, tab, newline and backslash as three octal digits.
std::string DecodeEscapes(std::string_view field) {
  std::string out;
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size()) {
      const std::string_view digits = field.substr(i + 1, 3);
      if (std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '7'; })) {
        out += static_cast<char>((digits[0] - '0') * 64 + (digits[1] - '0') * 8 + (digits[2] - '0'));
        i += 3;
        continue;
      }
    }
    out += field[i];
  }
  return out;
}

std::vector<std::string_view> SplitFields(std::string_view line) {
  std::vector<std::string_view> fields;
  size_t start = 0;
  while (start < line.size()) {
    const size_t end = std::min(line.find(' ', start), line.size());
    if (end > start) fields.push_back(line.substr(start, end - start));
    start = end + 1;
  }
  return fields;
}

}  // namespace

std::vector<Mount> ParseMountInfo(std::string_view text) {
  std::vector<Mount> mounts;
  while (!text.empty()) {
    const size_t end = std::min(text.find('\n'), text.size());
    const std::vector<std::string_view> fields = SplitFields(text.substr(0, end));
    text.remove_prefix(std::min(end + 1, text.size()));
    // id parent major:minor root point options [optional...] - fstype source super-options
    const auto separator = std::find(fields.begin(), fields.end(), "-");
    if (fields.size() < 5 || separator == fields.end() || separator - fields.begin() < 6 ||
        fields.end() - separator < 3) {
      continue;
    }
    mounts.push_back(Mount{std::atoi(std::string(fields[0]).c_str()), DecodeEscapes(fields[4]),
                           DecodeEscapes(separator[1]), DecodeEscapes(separator[2])});
  }
  return mounts;
}

std::vector<Mount> ReadMounts() { return ParseMountInfo(ReadSysText("/proc/self/mountinfo")); }

bool IsNetworkFileSystem(std::string_view fstype) {
  static constexpr std::string_view kNetwork[] = {
      "nfs", "nfs4", "cifs", "smb3", "smbfs", "ncpfs", "afs", "9p", "ceph", "glusterfs", "lustre",
      "fuse.sshfs", "fuse.davfs", "davfs", "fuse.glusterfs", "fuse.rclone", "fuse.s3fs"};
  return std::find(std::begin(kNetwork), std::end(kNetwork), fstype) != std::end(kNetwork);
}

bool IsRamFileSystem(std::string_view fstype) { return fstype == "tmpfs" || fstype == "ramfs"; }

std::string BlockDeviceName(std::string_view source) {
  if (source.substr(0, 5) != "/dev/") return {};
  std::string path(source);
  // Links such as /dev/mapper/x or /dev/disk/by-label/x name the kernel's device.
  char resolved[PATH_MAX];
  if (::realpath(SysPath(source).c_str(), resolved) != nullptr) path = resolved;
  const std::string name = path.substr(path.find_last_of('/') + 1);
  if (name.empty() || ReadSysText("/sys/class/block/" + name + "/dev").empty()) {
    // Without sysfs the device's own name still tells an optical drive.
    return IsOpticalDeviceName(name) ? name : std::string();
  }
  return name;
}

bool IsOpticalDeviceName(std::string_view name) {
  return name.size() > 2 && name.substr(0, 2) == "sr" &&
         std::all_of(name.begin() + 2, name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool IsRemovableBlockDevice(const std::string& name) {
  const std::string device = "/sys/class/block/" + name;
  std::string removable = ReadSysValue(device + "/removable");
  if (removable.empty()) removable = ReadSysValue(device + "/../removable");  // a partition's disk
  return removable == "1";
}

std::vector<std::string> OpticalDrives() {
  std::vector<std::string> drives;
  DIR* dir = ::opendir(SysPath("/sys/block").c_str());
  if (dir == nullptr) return drives;
  while (const dirent* entry = ::readdir(dir)) {
    if (IsOpticalDeviceName(entry->d_name)) drives.emplace_back(entry->d_name);
  }
  ::closedir(dir);
  std::sort(drives.begin(), drives.end(), [](const std::string& a, const std::string& b) {
    return a.size() != b.size() ? a.size() < b.size() : a < b;
  });
  return drives;
}

}  // namespace w32
