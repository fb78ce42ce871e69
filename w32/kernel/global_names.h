#pragma once
// "Global\" names as other users see them: every handle of one holds an
// abstract unix socket named after it. Such a socket lives exactly as long as
// its holder's descriptors, the kernel records who made it, and it leaves
// nothing behind: a name no process holds blocks no one.
#include <windows.h>

#include <string>

#include "support/unique_fd.h"

namespace w32 {

// Shows the name whose hash is `hash` to other users for as long as `holder`
// lives, then looks whether another user holds it too. ERROR_ACCESS_DENIED
// when one does, also when one claims it at this very moment (then neither
// gets it); ERROR_NOT_SUPPORTED when the kernel cannot tell who holds it.
DWORD ShowGlobalName(const std::string& hash, UniqueFd& holder);

}  // namespace w32
