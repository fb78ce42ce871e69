// A server that needs DepHelper.dll from its own folder: it loads only when
// the loader looks there.
extern "C" int DependencyAnswer();

extern "C" __attribute__((visibility("default"))) int DllRegisterServer() {
  return DependencyAnswer() == 7 ? 0 : static_cast<int>(0x80004005u);
}
