#pragma once
// Tracing to the debugger output, switched on for the life of the process by
// the DWORD "trace" of the product's registry key, read when the library loads.
#include <cstddef>

namespace device {

constexpr size_t kWideTraceBuffer = 1024;   // characters, with the terminating zero
constexpr size_t kNarrowTraceBuffer = 1023;

bool TraceEnabled();

// printf-style; each writes the text and then "\n", cut to its buffer. Wide
// formats follow the C library: %ls for a wide string argument.
void TraceW(const wchar_t* format, ...);
void TraceA(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace device
