#pragma once
// The freedesktop.org Trash: the home trash ($XDG_DATA_HOME/Trash) for items
// on the home's file system, $topdir/.Trash-$uid for items on other mounts.
// An item moves in only after its .trashinfo (original path, deletion date)
// is written under a name no other item holds, so the desktop's trash can
// restore it; when that cannot be done nothing is moved.
#include <windows.h>

#include <string>

namespace w32 {

// ERROR_SUCCESS when the item at the absolute native `path` (not followed if
// a symbolic link) now lies in a trash; otherwise the platform error, and the
// item is where it was.
DWORD MoveToTrash(const std::string& path);

}  // namespace w32
