#pragma once
// Shell shortcuts and the names the shell shows for paths. Nothing here
// initialises COM: the calling thread must have done so, or the functions
// give their failure answers.
#include <windows.h>

#include <optional>
#include <string>

namespace device {

// The target of a shortcut, when it resolves to a visible, ordinary file.
std::optional<std::u16string> GetLinkFile(const WCHAR* link_file);
void CreateLink(const WCHAR* target, const WCHAR* link_file, const WCHAR* description);
void CreateInternetShortcut(const WCHAR* url, const WCHAR* file);
// The computer folder's display name, or empty.
std::u16string GetMyComputerName();
// The shell's display name of a path, or the path's bare name.
std::u16string GetPathDisplayName(const WCHAR* path);
std::optional<std::u16string> GetLongPathName(const WCHAR* path);

}  // namespace device
