#pragma once
#include "windef.h"
#include "winerror.h"

#define WINOLEAPI DECLSPEC_IMPORT HRESULT WINAPI
#define WINOLEAPI_(type) DECLSPEC_IMPORT type WINAPI

WINOLEAPI CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit);
WINOLEAPI_(void) CoUninitialize(void);
