#pragma once
// Machine facts are read below W32_SYSROOT (default "/"), so a test can make
// a whole machine in a folder.
#include <string>
#include <string_view>

namespace w32 {

// The path below the root of an absolute system path ("/proc/self/mountinfo").
std::string SysPath(std::string_view absolute);

// A small system file's whole text (sysfs and procfs attributes); empty when
// it cannot be read.
std::string ReadSysText(std::string_view absolute);

// The same without trailing white space ("1\n" -> "1").
std::string ReadSysValue(std::string_view absolute);

}  // namespace w32
