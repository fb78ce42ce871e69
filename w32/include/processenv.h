#pragma once
#include "minwinbase.h"

WINBASEAPI LPWSTR WINAPI GetCommandLineW(VOID);
