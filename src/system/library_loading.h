#pragma once
// Registering self-registering COM servers, and holding libraries loaded.
#include <windows.h>

namespace device {

// Loads the library, calls DllRegisterServer (or DllUnregisterServer) and
// unloads it: 1 on success, -2 when loading failed, -3 without the entry
// point, -4 when the entry point failed. Failures write a debugger message.
int Regsvr(const WCHAR* path, bool register_server);

// One more load of the library, as LoadLib hands it to Python; null on failure.
void* LoadLib(const WCHAR* path);

// One load less; the platform's failure is dropped.
void FreeLib(void* module);

}  // namespace device
