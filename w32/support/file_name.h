#pragma once
// Linux file names are bytes; the platform's are UTF-16. Valid UTF-8 maps to
// UTF-16; each byte that does not decode maps to the lone surrogate
// U+DC00 + byte and back, as Python 3's surrogateescape does; any other lone
// surrogate is written in the three-byte form UTF-8 would give it. So every
// name read from the file system comes back to the same bytes.
#include <string>
#include <string_view>

namespace w32 {

std::u16string FileNameFromBytes(std::string_view bytes);

// False when the text names no file exactly: its escaped bytes would read
// back as other characters (u"\xDCC3\xDCA9" would be "é"), so it could only
// reach a different file.
bool FileNameToBytes(std::u16string_view name, std::string* bytes);

}  // namespace w32
