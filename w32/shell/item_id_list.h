#pragma once
// The item identifier lists this shell hands out: the desktop (the empty
// list), the computer folder (one item with its class identifier, as the
// platform's), and a file system item (one item holding its native path).
// Lists live in task memory; ILFree or CoTaskMemFree frees them.
#include <shlobj.h>

#include <optional>
#include <string>

namespace w32 {

// Null when the memory or the item's size runs out.
PIDLIST_ABSOLUTE NewDesktopList();
PIDLIST_ABSOLUTE NewComputerList();
PIDLIST_ABSOLUTE NewPathList(const std::string& native_path);

bool IsDesktopList(PCIDLIST_ABSOLUTE list);
bool IsComputerList(PCIDLIST_ABSOLUTE list);
// The native path of a file system item's list.
std::optional<std::string> PathOfList(PCIDLIST_ABSOLUTE list);

}  // namespace w32
