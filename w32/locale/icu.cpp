#include "locale/icu.h"

#include <dirent.h>
#include <dlfcn.h>
#include <link.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>

#include "support/delay_load.h"

namespace w32 {
namespace {

constexpr char kPrefix[] = "libicuuc.so.";

// The major version of a file named libicuuc.so.<major>[.<minor>...]; 0 otherwise.
int VersionOf(const std::string& file) {
  const size_t at = file.rfind(kPrefix);
  if (at == std::string::npos) return 0;
  const char* digits = file.c_str() + at + sizeof kPrefix - 1;
  char* end = nullptr;
  const long major = std::strtol(digits, &end, 10);
  if (end == digits || (*end != 0 && *end != '.') || major <= 0 || major > 10000) return 0;
  return static_cast<int>(major);
}

// The newest libicuuc.so.<major> in the C library's own folder, where the
// distribution keeps its shared libraries; 0 when there is none.
int NewestInLibraryFolder(std::string* folder) {
  Dl_info info{};
  if (::dladdr(reinterpret_cast<void*>(&std::fopen), &info) == 0 || info.dli_fname == nullptr) return 0;
  *folder = info.dli_fname;
  folder->erase(folder->find_last_of('/') + 1);
  std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder->c_str()), ::closedir);
  if (!dir) return 0;
  int newest = 0;
  while (const dirent* entry = ::readdir(dir.get())) {
    const std::string name = entry->d_name;
    if (name.compare(0, sizeof kPrefix - 1, kPrefix) != 0) continue;
    const int version = VersionOf(name);
    if (version > newest && name == kPrefix + std::to_string(version)) newest = version;
  }
  return newest;
}

// Opens ICU's common library; `version` is the major version its symbols carry.
void* OpenCommonLibrary(int* version) {
  std::string folder;
  if ((*version = NewestInLibraryFolder(&folder)) != 0) {
    if (void* handle = OpenLibrary((folder + kPrefix + std::to_string(*version)).c_str())) return handle;
  }
  void* handle = OpenLibrary("libicuuc.so");  // the development link, wherever the loader finds it
  if (handle == nullptr) return nullptr;
  link_map* map = nullptr;
  char* real = nullptr;
  if (::dlinfo(handle, RTLD_DI_LINKMAP, &map) == 0 && map != nullptr && (real = ::realpath(map->l_name, nullptr))) {
    *version = VersionOf(real);
    std::free(real);
  }
  return handle;
}

// Binds `name` with the library's version suffix, or plain when ICU was built
// without renaming.
template <class Function>
bool Bind(const LibrarySymbols& symbols, const std::string& suffix, const char* name, Function*& slot) {
  return symbols.Resolve((name + suffix).c_str(), slot) || symbols.Resolve(name, slot);
}

bool BindAll(void* handle, int version, IcuApi& api) {
  const LibrarySymbols symbols(handle);
  const std::string suffix = version > 0 ? "_" + std::to_string(version) : "";
  return Bind(symbols, suffix, "uloc_addLikelySubtags", api.uloc_addLikelySubtags) &&
         Bind(symbols, suffix, "uloc_getCountry", api.uloc_getCountry) &&
         Bind(symbols, suffix, "uloc_getDisplayName", api.uloc_getDisplayName) &&
         Bind(symbols, suffix, "uloc_getISO3Country", api.uloc_getISO3Country) &&
         Bind(symbols, suffix, "uloc_getISO3Language", api.uloc_getISO3Language) &&
         Bind(symbols, suffix, "uloc_getLCID", api.uloc_getLCID) &&
         Bind(symbols, suffix, "uloc_getLanguage", api.uloc_getLanguage) &&
         Bind(symbols, suffix, "uloc_getLocaleForLCID", api.uloc_getLocaleForLCID);
}

}  // namespace

// A bound ICU stays loaded for the life of the process.
const IcuApi* Icu() {
  static std::once_flag once;
  static IcuApi api;
  static bool loaded = false;
  std::call_once(once, [] {
    int version = 0;
    void* handle = OpenCommonLibrary(&version);
    if (handle == nullptr) return;
    loaded = BindAll(handle, version, api);
    if (!loaded) CloseLibrary(handle);
  });
  return loaded ? &api : nullptr;
}

}  // namespace w32
