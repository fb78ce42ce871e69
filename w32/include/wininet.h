#pragma once
// WinINet: the connection state.
#include "windef.h"

#define INTERNET_CONNECTION_MODEM 0x01
#define INTERNET_CONNECTION_LAN 0x02
#define INTERNET_CONNECTION_PROXY 0x04
#define INTERNET_CONNECTION_OFFLINE 0x20
#define INTERNET_CONNECTION_CONFIGURED 0x40

#define INTERNETAPI_(type) DECLSPEC_IMPORT type WINAPI

INTERNETAPI_(BOOL) InternetGetConnectedState(LPDWORD lpdwFlags, DWORD dwReserved);
