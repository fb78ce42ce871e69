#pragma once
// Drive letters over native paths. C: is "/"; further letters come from the
// drive table folder (W32_DRIVES), from mounts under /media, /run/media and
// /mnt, and from every optical drive present, with or without a disc. A
// volume (by its file system's UUID, else its source and mount point) keeps
// its letter while it is present and gets it again, in any process of the
// user, whenever it is free (volume_letters.h); a mount of an optical drive's
// disc takes the drive's letter.
#include <string>
#include <string_view>
#include <vector>

namespace w32 {

// The native path of a path the module passes: the drive form ("X:\a\b",
// "X:/a/b", "X:") through the drive table, any other text unchanged. False
// with ERROR_PATH_NOT_FOUND when the table has no such letter or the letter
// has no root now (a drive whose medium is not mounted).
bool ToNativePath(std::u16string_view path, std::string* native);

// The drive form of an absolute native path, under the letter with the longest
// root that holds it ("/home/u/a" -> "C:\home\u\a"); other text unchanged.
std::u16string ToDrivePath(std::string_view native);

// The native root of a letter ('c' or 'C' -> "/"); empty when it has none.
std::string DriveRoot(char16_t letter);

// A letter given to a mount point or an optical drive, as it stands now.
struct DriveVolume {
  char16_t letter = 0;      // 'D' ...
  std::string root;         // the mount point; empty while nothing is mounted
  std::string device;       // the kernel's block device name ("sdb1", "sr0"); empty for none
  std::string fstype;       // of the mount; empty while nothing is mounted
  int mount_id = 0;         // of the mount; 0 while nothing is mounted
  bool optical = false;     // the letter belongs to an optical drive
  bool folder = false;      // C: or a letter of the table folder: a root that may be missing
  std::string uuid;         // of the mounted file system; empty when it has none or nothing is mounted
  std::string label;
};

// What a letter stands for: false when the table has no such letter.
// C: and the table folder's letters report the mount that holds their root.
bool LookupDrive(char16_t letter, DriveVolume* volume);

// Reads the mount table and the optical drives again, giving letters to what
// is new, and returns the letters of volumes and optical drives: those
// present, and those gone whose letter no other volume has taken since.
std::vector<DriveVolume> RefreshDrives();

}  // namespace w32
