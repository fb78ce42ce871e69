#pragma once
// Files that hold facts about the machine (/proc, /sys, /etc) are read below
// the root that W32_SYSROOT names (default "/"), so tests can build a machine.
#include <string>
#include <string_view>

namespace w32 {

// "$W32_SYSROOT/proc/meminfo" for "/proc/meminfo".
std::string SysrootPath(std::string_view absolute);

// The first `limit` bytes of a file below the root; false when it cannot be read.
bool ReadSysrootFile(std::string_view absolute, size_t limit, std::string* text);

}  // namespace w32
