#pragma once
#include "minwinbase.h"
#include "errhandlingapi.h"
#include "handleapi.h"
#include "synchapi.h"
#include "debugapi.h"

WINBASEAPI HLOCAL WINAPI LocalAlloc(UINT uFlags, SIZE_T uBytes);
WINBASEAPI HLOCAL WINAPI LocalFree(HLOCAL hMem);

WINBASEAPI EXECUTION_STATE WINAPI SetThreadExecutionState(EXECUTION_STATE esFlags);

#define INFINITE 0xFFFFFFFF
