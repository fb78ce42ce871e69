#pragma once
// Tracing to the debugger output, switched on for the life of the process by
// the DWORD "trace" of the product's registry key, read when the library loads.
#include <cstddef>
#include <string_view>

namespace device {

constexpr size_t kWideTraceBuffer = 1024;   // characters, with the terminating zero
constexpr size_t kNarrowTraceBuffer = 1023;

bool TraceEnabled();

// Each writes the text and then "\n", the text cut to its buffer. TraceA is
// printf-style; TraceW takes text already made.
void TraceW(std::u16string_view text);
void TraceA(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace device
