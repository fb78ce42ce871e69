#pragma once
// The mount table of the process (/proc/self/mountinfo below W32_SYSROOT) and
// what a mount's device and file system say about the drive behind it.
#include <string>
#include <string_view>
#include <vector>

namespace w32 {

struct Mount {
  int id = 0;          // the kernel's mount id: a new mount at the same point has a new one
  std::string point;   // where it is mounted, escapes decoded
  std::string fstype;  // "ext4", "nfs4", "fuse.sshfs" ...
  std::string source;  // "/dev/sdb1", "server:/export" ...
};

// The lines of a mountinfo text; malformed lines are skipped.
std::vector<Mount> ParseMountInfo(std::string_view text);
std::vector<Mount> ReadMounts();

// The file system is reached over a network.
bool IsNetworkFileSystem(std::string_view fstype);
// The file system lives in memory.
bool IsRamFileSystem(std::string_view fstype);

// The kernel's name of the block device a mount's source names ("sdb1" for
// "/dev/sdb1", "dm-0" for a device-mapper link); empty when it names none.
std::string BlockDeviceName(std::string_view source);
// An optical drive's block device: "sr" followed by digits.
bool IsOpticalDeviceName(std::string_view name);
// The device (or, for a partition, its disk) says its medium is removable.
bool IsRemovableBlockDevice(const std::string& name);

// The optical drives present, by block name ("sr0"), sorted.
std::vector<std::string> OpticalDrives();

}  // namespace w32
