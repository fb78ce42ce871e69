#pragma once
// Facts about the machine and the user: the user's name, free disk space,
// processors, and, through WMI, memory and the display adapter.
#include <Python.h>
#include <windows.h>

#include <optional>
#include <string>

namespace device {

std::u16string GetUserName();
// Free megabytes of the volume holding `path`; no value when the platform fails.
std::optional<int> GetAvailableDiskSpaceMB(const WCHAR* path);
int GetLogicalCpuNumber();

}  // namespace device
