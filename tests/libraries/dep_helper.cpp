// The library NeedsDep.dll needs, in the same folder and nowhere else.
extern "C" __attribute__((visibility("default"))) int DependencyAnswer() { return 7; }
