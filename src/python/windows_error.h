#pragma once
// WindowsError for a Linux host: the class a Windows Python has built in.
#include "python/python_compat.h"
#include <windows.h>

namespace pycompat {

// The WindowsError class (borrowed). When the built-ins lack it, it is made as a
// subclass of OSError with the Windows host's shape and installed there.
PyObject* WindowsErrorType();

// Raises WindowsError for a platform error code with the platform's message
// text, as the Windows host's PyErr_SetFromWindowsErr does. Returns null.
PyObject* SetWindowsError(DWORD code);

}  // namespace pycompat
