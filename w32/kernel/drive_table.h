#pragma once
// Drive letters over native paths. C: is "/"; further letters come from the
// drive table. A letter, once given, keeps its root for the life of the process.
#include <string>
#include <string_view>

namespace w32 {

// The native path of a path the module passes: the drive form ("X:\a\b",
// "X:/a/b", "X:") through the drive table, any other text unchanged. False
// with ERROR_PATH_NOT_FOUND when the table has no such letter.
bool ToNativePath(std::u16string_view path, std::string* native);

// The drive form of an absolute native path, under the letter with the longest
// root that holds it ("/home/u/a" -> "C:\home\u\a"); other text unchanged.
std::u16string ToDrivePath(std::string_view native);

// The native root of a letter ('c' or 'C' -> "/"); empty when it has none.
std::string DriveRoot(char16_t letter);

}  // namespace w32
