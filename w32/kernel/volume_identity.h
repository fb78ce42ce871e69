#pragma once
// Who a volume is, whatever letter or mount point it has now: its file
// system's UUID and label.
#include <windows.h>

#include <string>
#include <string_view>

namespace w32 {

struct VolumeIdentity {
  std::string uuid;   // as blkid prints it ("3f1c...-..." for ext4, "ABCD-1234" for FAT); empty when none
  std::string label;  // empty when none
};

// The file system on a block device ("sdb1", "loop3", "sr0") below
// W32_SYSROOT: libblkid reads the device itself; where it cannot (no such
// library, no read access), udev's /dev/disk/by-uuid and by-label links tell.
VolumeIdentity ReadVolumeIdentity(const std::string& device);

// The 32-bit serial number the platform would show for a UUID: its last
// eight hex digits (exactly a FAT volume id, the low half of an NTFS serial);
// 0 when it has none.
DWORD VolumeSerial(std::string_view uuid);

}  // namespace w32
