#include <windows.h>

namespace {
thread_local DWORD last_error = ERROR_SUCCESS;
}

// GetLastError: the calling thread's last error, a thread-local value.
DWORD WINAPI GetLastError(void) { return last_error; }

// SetLastError: sets the calling thread's last error.
void WINAPI SetLastError(DWORD code) { last_error = code; }
