#pragma once
// Facts about the machine and the user: the user's name, free disk space,
// processors, and, through WMI, memory and the display adapter.
#include "python/python_compat.h"
#include <windows.h>

#include <optional>
#include <string>

namespace device {

std::u16string GetUserName();
// Free megabytes of the volume holding `path`; no value when the platform fails.
std::optional<int> GetAvailableDiskSpaceMB(const WCHAR* path);
int GetLogicalCpuNumber();

// Through WMI; COM must be initialised on the calling thread. Every failure of
// the WMI steps gives no value (None).
// Total physical memory in bytes, saturated at the largest 32-bit signed value.
std::optional<int> GetTotalMemorySize();
// A new tuple (caption, description) of the first display adapter, or None.
PyObject* GetDisplayAdapterNames();
// Whether the first display adapter is an integrated graphics part of the
// "Ironlake" generation (Intel devices 0042 and 0046).
std::optional<bool> IsIronLake();

}  // namespace device
