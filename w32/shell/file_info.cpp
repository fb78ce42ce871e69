#include <windows.h>
#include <shellapi.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "kernel/drive_table.h"
#include "kernel/volume_identity.h"
#include "support/text.h"

namespace w32 {
namespace {

// What a file manager calls a drive without a label.
const char16_t* KindName(UINT type) {
  switch (type) {
    case DRIVE_REMOVABLE: return u"Removable Disk";
    case DRIVE_CDROM: return u"CD Drive";
    case DRIVE_REMOTE: return u"Network Drive";
    case DRIVE_RAMDISK: return u"RAM Disk";
    default: return u"Local Disk";
  }
}

bool IsDriveRoot(std::u16string_view path) {
  return (path.size() == 2 || path.size() == 3) && path[1] == u':' &&
         (path.size() == 2 || path[2] == u'\\' || path[2] == u'/');
}

// "LABEL (E:)" or "Removable Disk (E:)"; false when the letter names no drive.
bool DriveDisplayName(std::u16string_view root, std::u16string* name) {
  DriveVolume volume;
  if (!LookupDrive(root[0], &volume)) return false;
  const std::u16string drive_root{root[0], u':', u'\\'};
  const UINT type = GetDriveTypeW(drive_root.c_str());
  if (type == DRIVE_NO_ROOT_DIR && !volume.optical) return false;
  const std::string label = volume.folder ? ReadVolumeIdentity(volume.device).label : volume.label;
  const char16_t letter[] = {u' ', u'(', static_cast<char16_t>(AsciiLower(root[0]) - u'a' + u'A'), u':', u')', 0};
  *name = label.empty() ? std::u16string(KindName(type)) : ToUtf16(label);
  name->append(letter);
  return true;
}

// An existing file or folder is named by its last component.
bool PathDisplayName(std::u16string_view path, std::u16string* name) {
  std::string native;
  struct stat info {};
  if (!ToNativePath(path, &native) || ::stat(native.c_str(), &info) != 0) return false;
  while (!path.empty() && (path.back() == u'\\' || path.back() == u'/')) path.remove_suffix(1);
  const size_t slash = path.find_last_of(u"\\/");
  const std::u16string_view last = slash == std::u16string_view::npos ? path : path.substr(slash + 1);
  name->assign(last.empty() ? std::u16string_view(u"/") : last);  // "/": the native root
  return true;
}

// The computer folder by its parsing name, as the desktop folder gives it.
bool IsComputerFolder(std::u16string_view path) {
  return AsciiLower(path) == u"::{20d04fe0-3aea-1069-a2d8-08002b30309d}";
}

}  // namespace
}  // namespace w32

// SHGetFileInfoW: SHGFI_DISPLAYNAME only. Drive roots are named as a file
// manager names them, by volume label or else by kind, with the letter; the
// computer folder (its parsing name) is "Computer", as file managers call the
// view of every drive; other paths by their last component. 0 when the path
// names nothing.
DWORD_PTR WINAPI SHGetFileInfoW(LPCWSTR path, DWORD, SHFILEINFOW* info, UINT info_size, UINT flags) {
  if (path == nullptr || info == nullptr || info_size < sizeof(SHFILEINFOW) || flags != SHGFI_DISPLAYNAME) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const std::u16string_view text(path);
  std::u16string name;
  bool found = true;
  if (w32::IsComputerFolder(text)) {
    name = u"Computer";
  } else {
    found = w32::IsDriveRoot(text) ? w32::DriveDisplayName(text, &name) : w32::PathDisplayName(text, &name);
  }
  if (!found) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return 0;
  }
  const size_t length = std::min<size_t>(name.size(), MAX_PATH - 1);
  std::memcpy(info->szDisplayName, name.data(), length * sizeof(WCHAR));
  info->szDisplayName[length] = 0;
  return 1;
}
