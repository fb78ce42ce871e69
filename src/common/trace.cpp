#include "common/trace.h"

#include <windows.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "common/wide_text.h"

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

void TraceW(const wchar_t* format, ...) {
  if (!trace_enabled) return;
  // vswprintf reports a cut as failure; a larger scratch buffer gives the text
  // that is then cut to what the trace buffer holds.
  std::vector<wchar_t> buffer(kWideTraceBuffer);
  int written = -1;
  while (true) {
    va_list args;
    va_start(args, format);
    written = std::vswprintf(buffer.data(), buffer.size(), format, args);
    va_end(args);
    if (written >= 0 || buffer.size() >= 1 << 20) break;
    buffer.resize(buffer.size() * 4);
  }
  if (written < 0) written = static_cast<int>(buffer.size()) - 1;
  const size_t kept = std::min<size_t>(static_cast<size_t>(written), kWideTraceBuffer - 1);
  const std::u16string text = Utf16FromUcs4(buffer.data(), kept);
  OutputDebugStringW(text.c_str());
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
