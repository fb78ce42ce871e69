#pragma once
// Pointer-sized integer types of the 64-bit platform.
#include <cstdint>

typedef std::intptr_t INT_PTR, *PINT_PTR;
typedef std::uintptr_t UINT_PTR, *PUINT_PTR;
typedef std::intptr_t LONG_PTR, *PLONG_PTR;
typedef std::uintptr_t ULONG_PTR, *PULONG_PTR;
typedef ULONG_PTR DWORD_PTR, *PDWORD_PTR;
typedef ULONG_PTR SIZE_T, *PSIZE_T;
typedef LONG_PTR SSIZE_T, *PSSIZE_T;
typedef std::int64_t LONG64, LONGLONG;
typedef std::uint64_t ULONG64, DWORD64, ULONGLONG;
