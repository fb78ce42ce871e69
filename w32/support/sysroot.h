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

// The path below the root of an absolute system path ("/proc/self/mountinfo").
std::string SysPath(std::string_view absolute);

// A small system file's whole text (sysfs and procfs attributes); empty when
// it cannot be read.
std::string ReadSysText(std::string_view absolute);

// The same without trailing white space ("1\n" -> "1").
std::string ReadSysValue(std::string_view absolute);

}  // namespace w32
