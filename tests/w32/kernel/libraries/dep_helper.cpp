// The library NeedsDep.dll needs, in the same folder and nowhere else. Its
// DllUnregisterServer is not NeedsDep's own: a lookup in NeedsDep must miss it.
extern "C" __attribute__((visibility("default"))) int DependencyAnswer() { return 7; }

extern "C" __attribute__((visibility("default"))) int DllUnregisterServer() { return 0; }
