#pragma once
// Where the platform's special folders (CSIDL values) lie on a Linux desktop.
#include <windows.h>

#include <string>

namespace w32 {

enum class FolderLookup {
  kFound,    // `path` holds the folder's native path
  kNoPlace,  // a valid CSIDL whose folder has no place here (or no home)
  kUnknown,  // no CSIDL of the platform's list
};

// The native path of the folder of `csidl` (without CSIDL_FLAG_* bits),
// neither checked nor created; `users_own` tells a folder of the user's, which
// may be created, from one of the machine's, which belongs to the system.
FolderLookup FolderOfCsidl(int csidl, std::string* path, bool* users_own);

}  // namespace w32
