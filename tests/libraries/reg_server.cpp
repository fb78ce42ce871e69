// A self-registering server whose registration is a file: DllRegisterServer
// creates the file named by DEVICE_TEST_REGISTRATION, DllUnregisterServer
// removes it.
#include <cstdio>
#include <cstdlib>

namespace {
constexpr int kFail = static_cast<int>(0x80004005u);
const char* RegistrationFile() { return std::getenv("DEVICE_TEST_REGISTRATION"); }
}  // namespace

extern "C" __attribute__((visibility("default"))) int DllRegisterServer() {
  const char* name = RegistrationFile();
  std::FILE* file = name != nullptr ? std::fopen(name, "w") : nullptr;
  if (file == nullptr) return kFail;
  std::fclose(file);
  return 0;
}

extern "C" __attribute__((visibility("default"))) int DllUnregisterServer() {
  const char* name = RegistrationFile();
  return name != nullptr && std::remove(name) == 0 ? 0 : kFail;
}
