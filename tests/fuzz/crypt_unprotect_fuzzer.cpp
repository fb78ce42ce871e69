// CryptUnprotectData with arbitrary bytes: it either fails, handing out
// nothing, or opens a blob and hands out exactly what it says it does.
//
// The fuzzer runs on a fake machine of fixed identity, so that the seed blobs
// of corpus/crypt_unprotect (machine-scope blobs made on that identity) open
// wherever it runs and the paths past authentication are reached.
#include <windows.h>

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

namespace {

char machine_root[] = "/tmp/w32-fuzz-machine-XXXXXX";

std::string IdentityFile() { return std::string(machine_root) + "/etc/machine-id"; }

void RemoveMachine() {
  std::remove(IdentityFile().c_str());
  rmdir((std::string(machine_root) + "/etc").c_str());
  rmdir(machine_root);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (mkdtemp(machine_root) == nullptr) return 1;
  mkdir((std::string(machine_root) + "/etc").c_str(), 0755);
  FILE* file = std::fopen(IdentityFile().c_str(), "w");
  if (file == nullptr) return 1;
  std::fputs("f0220000000000000000000000000000\n", file);
  std::fclose(file);
  setenv("W32_SYSROOT", machine_root, 1);
  std::atexit(RemoveMachine);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  DATA_BLOB in{static_cast<DWORD>(size), const_cast<BYTE*>(data)};
  DATA_BLOB out{};
  LPWSTR description = nullptr;
  if (!CryptUnprotectData(&in, &description, nullptr, nullptr, nullptr, 0, &out)) {
    if (out.pbData != nullptr || out.cbData != 0 || description != nullptr) __builtin_trap();
    return 0;
  }
  if (out.pbData == nullptr || description == nullptr) __builtin_trap();
  // Read every byte handed out, so that the sanitizer checks the sizes.
  volatile BYTE sink = 0;
  for (DWORD i = 0; i < out.cbData; ++i) sink = sink ^ out.pbData[i];
  for (const WCHAR* c = description; *c != 0; ++c) sink = sink ^ static_cast<BYTE>(*c);
  if (LocalFree(out.pbData) != nullptr || LocalFree(description) != nullptr) __builtin_trap();
  return 0;
}
