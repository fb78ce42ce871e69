#pragma once
#include "minwinbase.h"
#include "errhandlingapi.h"
#include "handleapi.h"
#include "synchapi.h"
#include "debugapi.h"

WINBASEAPI HLOCAL WINAPI LocalAlloc(UINT uFlags, SIZE_T uBytes);
WINBASEAPI HLOCAL WINAPI LocalFree(HLOCAL hMem);
