#pragma once
#include "minwinbase.h"
#include "errhandlingapi.h"
#include "handleapi.h"
#include "synchapi.h"
#include "debugapi.h"

WINBASEAPI EXECUTION_STATE WINAPI SetThreadExecutionState(EXECUTION_STATE esFlags);

#define INFINITE 0xFFFFFFFF
