#pragma once
// The freedesktop.org Trash. An item goes to the first trash that takes it:
// the home trash ($XDG_DATA_HOME/Trash) when it lies on the home's file
// system, then, on the mount that really holds it (its folder's real path
// looked up in the mount table, so a bind mount is a mount of its own),
// $topdir/.Trash/$uid when $topdir/.Trash is a real folder with the sticky
// bit, then $topdir/.Trash-$uid. A top-folder trash is used only while it is
// the user's own folder and no link. An item moves in only after its
// .trashinfo (original path, deletion date) is written under a name no other
// item holds, so the desktop's trash can restore it; when no trash takes it
// nothing is moved.
#include <windows.h>

#include <string>

namespace w32 {

// ERROR_SUCCESS when the item at the absolute native `path` (not followed if
// a symbolic link) now lies in a trash; otherwise the platform error, and the
// item is where it was.
DWORD MoveToTrash(const std::string& path);

}  // namespace w32
