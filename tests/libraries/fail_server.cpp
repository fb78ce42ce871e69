// A server whose registration is refused with E_ACCESSDENIED, and whose
// unregistration succeeds with S_FALSE.
extern "C" __attribute__((visibility("default"))) int DllRegisterServer() { return static_cast<int>(0x80070005u); }

extern "C" __attribute__((visibility("default"))) int DllUnregisterServer() { return 1; }
