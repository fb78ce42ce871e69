#include <windows.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "kernel/drive_table.h"
#include "kernel/mount_table.h"
#include "support/file_name.h"

// GetDriveTypeW: from the drive table's letter and the device behind its
// mount: an optical drive (sr*, with or without a disc), a network or memory
// file system, the removable flag of the block device, else fixed. A path
// that is no drive root, or a drive with nothing mounted, has no root directory.
UINT WINAPI GetDriveTypeW(LPCWSTR root_path) {
  std::u16string root;
  if (root_path == nullptr) {
    char cwd[4096];
    if (::getcwd(cwd, sizeof cwd) == nullptr) return DRIVE_UNKNOWN;
    root = w32::ToDrivePath(cwd).substr(0, 3);
  } else {
    root = root_path;
  }
  const bool drive_form = (root.size() == 2 || root.size() == 3) && root[1] == u':' &&
                          (root.size() == 2 || root[2] == u'\\' || root[2] == u'/');
  w32::DriveVolume volume;
  if (!drive_form || !w32::LookupDrive(root[0], &volume)) return DRIVE_NO_ROOT_DIR;
  if (volume.optical || w32::IsOpticalDeviceName(volume.device)) return DRIVE_CDROM;
  struct stat info {};
  if (volume.root.empty() ||
      (volume.folder && (::stat(volume.root.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)))) {
    return DRIVE_NO_ROOT_DIR;
  }
  if (w32::IsNetworkFileSystem(volume.fstype)) return DRIVE_REMOTE;
  if (w32::IsRamFileSystem(volume.fstype)) return DRIVE_RAMDISK;
  if (!volume.device.empty() && w32::IsRemovableBlockDevice(volume.device)) return DRIVE_REMOVABLE;
  return DRIVE_FIXED;
}

namespace {

// What a letter maps to: its block device ("/dev/sr0"), else its native root.
std::u16string DosDeviceTarget(const w32::DriveVolume& volume) {
  if (!volume.device.empty()) return w32::FileNameFromBytes("/dev/" + volume.device);
  return w32::FileNameFromBytes(volume.root);
}

}  // namespace

// QueryDosDeviceW: the drive letters ("X:") of the drive table and what each
// maps to: the block device behind it ("/dev/sr0"), else its native root. A
// null name lists the letters. Each string ends in a zero, the list in a second.
DWORD WINAPI QueryDosDeviceW(LPCWSTR device_name, LPWSTR target_path, DWORD max_chars) {
  std::u16string list;
  w32::DriveVolume volume;
  if (device_name == nullptr) {
    for (char16_t letter = u'A'; letter <= u'Z'; ++letter) {
      if (w32::LookupDrive(letter, &volume)) list += std::u16string{letter, u':', 0};
    }
  } else {
    const std::u16string name(device_name);
    if (name.size() != 2 || name[1] != u':' || !w32::LookupDrive(name[0], &volume)) {
      SetLastError(ERROR_FILE_NOT_FOUND);
      return 0;
    }
    list = DosDeviceTarget(volume);
    list += u'\0';
  }
  list += u'\0';
  if (target_path == nullptr || list.size() > max_chars) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::copy(list.begin(), list.end(), target_path);
  return static_cast<DWORD>(list.size());
}
