#pragma once
// What the loader makes of a file before it maps it: whether it is a library
// for this machine, and the names of the libraries it needs.
#include <windows.h>

#include <string>
#include <vector>

namespace w32 {

// ERROR_SUCCESS for a shared library of this machine's kind, with its
// DT_NEEDED names in `needed`; otherwise the platform's load error:
// ERROR_MOD_NOT_FOUND (no such file), ERROR_ACCESS_DENIED (unreadable, or a
// folder), ERROR_BAD_EXE_FORMAT (not a library). A dynamic section that cannot
// be read leaves `needed` empty: the loader then judges the file itself.
DWORD InspectLibraryFile(const std::string& path, std::vector<std::string>* needed);

}  // namespace w32
