#include "common/trace.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <string>

namespace device {
namespace {

const WCHAR kProductKey[] = u"Software\\Quillomat\\Orvelline Calvetto\\5.5";
constexpr REGSAM kReadAccess = 0x20019;

bool ReadTraceSwitch() {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kProductKey, 0, kReadAccess, &key) != ERROR_SUCCESS) return false;
  DWORD value = 0;
  DWORD size = sizeof value;
  const LSTATUS status = RegQueryValueExW(key, u"trace", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size);
  RegCloseKey(key);
  return status == ERROR_SUCCESS && value != 0;
}

// Read once, while the library loads.
const bool trace_enabled = ReadTraceSwitch();

}  // namespace

bool TraceEnabled() { return trace_enabled; }

void TraceW(std::u16string_view text) {
  if (!trace_enabled) return;
  OutputDebugStringW(std::u16string(text.substr(0, kWideTraceBuffer - 1)).c_str());
  OutputDebugStringW(u"\n");
}

void TraceA(const char* format, ...) {
  if (!trace_enabled) return;
  char buffer[kNarrowTraceBuffer];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  OutputDebugStringA(buffer);
  OutputDebugStringA("\n");
}

}  // namespace device
