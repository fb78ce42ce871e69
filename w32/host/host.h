#pragma once
// What a host application gets from the system besides the platform API:
// captured debugger output (and, later, the message loop and broadcasts).
#include <string>
#include <vector>

namespace w32::host {

// The debugger output written since the last call, one entry per write.
std::vector<std::u16string> TakeDebugOutput();

}  // namespace w32::host
