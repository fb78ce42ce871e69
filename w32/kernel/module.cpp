#include <windows.h>
#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "kernel/drive_table.h"
#include "kernel/library_file.h"
#include "support/debug_channel.h"
#include "support/text.h"

namespace w32 {
namespace {

// The platform's system libraries that libw32.so stands in for. They are
// always loaded; their handles are the addresses of these records.
struct SystemModule {
  const char16_t* name;  // lower case, with its extension
};

const SystemModule kSystemModules[] = {
    {u"kernel32.dll"},
    {u"ole32.dll"},
    {u"shfolder.dll"},
    {u"shell32.dll"},
};

// What each system module exports to GetProcAddress: the functions the module
// looks up at run time, found among libw32.so's own symbols.
struct Export {
  const char16_t* module;
  const char* function;
};

const Export kExports[] = {
    {u"ole32.dll", "CoInitializeEx"},
    {u"shfolder.dll", "SHGetFolderPathW"},
    {u"shell32.dll", "SHGetKnownFolderPath"},
    {u"kernel32.dll", "GetUserGeoID"},
    {u"kernel32.dll", "GetGeoInfoW"},
};

// The module's own base name: the extension ".dll" is implied, as the
// platform does for a name without one; a trailing dot means no extension.
std::u16string ModuleKey(const char16_t* name) {
  std::u16string key = AsciiLower(name);
  const size_t slash = key.find_last_of(u"\\/");
  if (slash != std::u16string::npos) key.erase(0, slash + 1);
  if (!key.empty() && key.back() == u'.') {
    key.pop_back();
  } else if (key.find(u'.') == std::u16string::npos) {
    key += u".dll";
  }
  return key;
}

HMODULE HandleOf(const SystemModule& module) {
  return reinterpret_cast<HMODULE>(const_cast<SystemModule*>(&module));
}

const SystemModule* FindSystemModule(HMODULE handle) {
  for (const SystemModule& module : kSystemModules) {
    if (HandleOf(module) == handle) return &module;
  }
  return nullptr;
}

const SystemModule* FindSystemModule(const char16_t* name) {
  const std::u16string key = ModuleKey(name);
  for (const SystemModule& module : kSystemModules) {
    if (key == module.name) return &module;
  }
  return nullptr;
}

// The first address of the library mapped at `address`, or null.
void* BaseOf(const void* address, std::string* file) {
  Dl_info info{};
  if (dladdr(address, &info) == 0 || info.dli_fbase == nullptr) return nullptr;
  if (file != nullptr) *file = info.dli_fname != nullptr ? info.dli_fname : "";
  return info.dli_fbase;
}

void* SelfLibrary() {
  static void* library = [] {
    std::string file;
    BaseOf(reinterpret_cast<void*>(&GetModuleHandleW), &file);
    return dlopen(file.c_str(), RTLD_LAZY | RTLD_NOLOAD);
  }();
  return library;
}

// Libraries loaded through w32: a module handle is the library's first mapped
// address, as the platform's is its base address. Every LoadLibrary made one
// dlopen and counts one; every FreeLibrary undoes one. dlopen and dlclose run
// outside the lock, since a library's constructors may load libraries too.
class LoadedLibraries {
 public:
  // Counts one load of an opened library; its handle.
  HMODULE Add(void* library) {
    link_map* map = nullptr;
    if (dlinfo(library, RTLD_DI_LINKMAP, &map) != 0) return nullptr;
    HMODULE handle = static_cast<HMODULE>(BaseOf(reinterpret_cast<void*>(map->l_ld), nullptr));
    if (handle == nullptr) return nullptr;
    std::lock_guard<std::mutex> guard(lock_);
    Entry& entry = libraries_[handle];
    entry.library = library;
    ++entry.count;
    return handle;
  }

  void* Find(HMODULE handle) {
    std::lock_guard<std::mutex> guard(lock_);
    auto it = libraries_.find(handle);
    return it == libraries_.end() ? nullptr : it->second.library;
  }

  // Takes one load away; the library to dlclose, or null for a stranger handle.
  void* Remove(HMODULE handle) {
    std::lock_guard<std::mutex> guard(lock_);
    auto it = libraries_.find(handle);
    if (it == libraries_.end()) return nullptr;
    void* library = it->second.library;
    if (--it->second.count == 0) libraries_.erase(it);
    return library;
  }

 private:
  struct Entry {
    void* library = nullptr;
    unsigned count = 0;
  };
  std::mutex lock_;
  std::map<HMODULE, Entry> libraries_;
};

LoadedLibraries& Loaded() {
  static LoadedLibraries loaded;
  return loaded;
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// Opens, deepest first, the libraries that `path` needs and that lie in
// `folder`, so that the loader binds them before it searches its own path.
void OpenNeededFrom(const std::string& folder, const std::string& path, std::set<std::string>* seen,
                    std::vector<void*>* opened) {
  std::vector<std::string> needed;
  if (InspectLibraryFile(path, &needed) != ERROR_SUCCESS) return;
  for (const std::string& name : needed) {
    if (name.find('/') != std::string::npos) continue;
    const std::string candidate = folder + name;
    // Only a library file: dlopen of a FIFO there would wait for a writer.
    std::vector<std::string> unused;
    if (!seen->insert(candidate).second || InspectLibraryFile(candidate, &unused) != ERROR_SUCCESS) continue;
    OpenNeededFrom(folder, candidate, seen, opened);
    if (void* library = dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL)) opened->push_back(library);
  }
}

HMODULE Load(LPCWSTR name, DWORD flags) {
  if (name == nullptr || *name == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (const SystemModule* module = FindSystemModule(name)) return HandleOf(*module);
  std::string path;
  if (!ToNativePath(name, &path)) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  // A bare name is searched for by the loader; a path names its file.
  if (path.find('/') != std::string::npos) {
    std::vector<std::string> needed;
    const DWORD error = InspectLibraryFile(path, &needed);
    if (error != ERROR_SUCCESS) {
      W32_DEBUG(kDebugModule, "LoadLibraryExW %s: %s", path.c_str(),
                error == ERROR_BAD_EXE_FORMAT ? "no 64-bit library of this machine" : std::strerror(errno));
      SetLastError(error);
      return nullptr;
    }
  }
  std::vector<void*> dependencies;
  if ((flags & LOAD_WITH_ALTERED_SEARCH_PATH) != 0 && path.find('/') != std::string::npos) {
    std::set<std::string> seen{path};
    OpenNeededFrom(FolderOf(path), path, &seen, &dependencies);
  }
  void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) W32_DEBUG(kDebugModule, "LoadLibraryExW %s: %s", path.c_str(), dlerror());
  // The library now holds its dependencies itself.
  for (void* dependency : dependencies) dlclose(dependency);
  if (library == nullptr) {
    SetLastError(ERROR_MOD_NOT_FOUND);  // the file, or one it needs, could not be loaded
    return nullptr;
  }
  HMODULE handle = Loaded().Add(library);
  if (handle == nullptr) {
    dlclose(library);
    SetLastError(ERROR_MOD_NOT_FOUND);
  }
  return handle;
}

// Copies `text` as GetModuleFileNameW does: cut to the buffer with a
// terminating zero, and the buffer's size with ERROR_INSUFFICIENT_BUFFER.
DWORD CopyFileName(const std::u16string& text, LPWSTR buffer, DWORD size) {
  if (size == 0) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  if (text.size() >= size) {
    std::memcpy(buffer, text.data(), (size - 1) * sizeof(WCHAR));
    buffer[size - 1] = 0;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
  }
  std::memcpy(buffer, text.data(), text.size() * sizeof(WCHAR));
  buffer[text.size()] = 0;
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(text.size());
}

}  // namespace
}  // namespace w32

// GetModuleHandleW: finds one of the system modules that libw32.so provides.
HMODULE WINAPI GetModuleHandleW(LPCWSTR name) {
  if (name == nullptr) {
    SetLastError(ERROR_NOT_SUPPORTED);  // the executable is not a w32 module
    return nullptr;
  }
  if (const w32::SystemModule* module = w32::FindSystemModule(name)) return w32::HandleOf(*module);
  SetLastError(ERROR_MOD_NOT_FOUND);
  return nullptr;
}

// GetModuleHandleExW: a system module by name, or the library mapped at an
// address (FROM_ADDRESS) through dladdr; counts a load unless asked not to.
BOOL WINAPI GetModuleHandleExW(DWORD flags, LPCWSTR name, HMODULE* module) {
  constexpr DWORD kKnown = GET_MODULE_HANDLE_EX_FLAG_PIN | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT |
                           GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS;
  if (module != nullptr) *module = nullptr;
  if (module == nullptr || (flags & ~kKnown) != 0 ||
      ((flags & GET_MODULE_HANDLE_EX_FLAG_PIN) != 0 && (flags & GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT) != 0)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if ((flags & GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS) == 0) {
    *module = GetModuleHandleW(name);
    return *module != nullptr;
  }
  std::string file;
  HMODULE found = static_cast<HMODULE>(w32::BaseOf(name, &file));
  if (found == nullptr) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return FALSE;
  }
  if ((flags & GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT) == 0) {
    const int pin = (flags & GET_MODULE_HANDLE_EX_FLAG_PIN) != 0 ? RTLD_NODELETE : 0;
    void* library = dlopen(file.c_str(), RTLD_LAZY | RTLD_NOLOAD | pin);
    if (library == nullptr) {
      SetLastError(ERROR_MOD_NOT_FOUND);
      return FALSE;
    }
    if (pin != 0) {
      dlclose(library);  // RTLD_NODELETE keeps it mapped for the process
    } else {
      found = w32::Loaded().Add(library);
    }
  }
  *module = found;
  return TRUE;
}

// GetModuleFileNameW: the file of a mapped library through dladdr, the
// executable for null, libw32.so for a system module; in drive form.
DWORD WINAPI GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size) {
  std::string file;
  if (module == nullptr) {
    char target[4096];
    const ssize_t n = ::readlink("/proc/self/exe", target, sizeof target - 1);
    if (n <= 0) {
      SetLastError(ERROR_MOD_NOT_FOUND);
      return 0;
    }
    file.assign(target, static_cast<size_t>(n));
  } else {
    const void* address = w32::FindSystemModule(module) != nullptr ? reinterpret_cast<void*>(&GetModuleFileNameW)
                                                                   : static_cast<const void*>(module);
    void* base = w32::BaseOf(address, &file);
    if (base == nullptr || (address == module && base != module)) {
      SetLastError(ERROR_MOD_NOT_FOUND);
      return 0;
    }
  }
  return w32::CopyFileName(w32::ToDrivePath(file), buffer, size);
}

// LoadLibraryW: LoadLibraryExW without flags.
HMODULE WINAPI LoadLibraryW(LPCWSTR name) { return LoadLibraryExW(name, nullptr, 0); }

// LoadLibraryExW: dlopen, each call counting one load. With
// LOAD_WITH_ALTERED_SEARCH_PATH the libraries it needs are taken from its own
// folder first. System module names give libw32.so's module records.
HMODULE WINAPI LoadLibraryExW(LPCWSTR name, HANDLE file, DWORD flags) {
  if (file != nullptr || (flags & ~static_cast<DWORD>(LOAD_WITH_ALTERED_SEARCH_PATH)) != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return w32::Load(name, flags);
}

// FreeLibrary: undoes one load; the library is unmapped with its last. A
// system module is never unloaded; any other handle is refused.
BOOL WINAPI FreeLibrary(HMODULE module) {
  if (w32::FindSystemModule(module) != nullptr) return TRUE;
  void* library = w32::Loaded().Remove(module);
  if (library == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  dlclose(library);
  return TRUE;
}

// GetProcAddress: dlsym in a library loaded through w32; for a system module,
// only what the export table gives it, found in libw32.so itself.
FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name) {
  const w32::SystemModule* system = w32::FindSystemModule(module);
  void* library = system != nullptr ? w32::SelfLibrary() : w32::Loaded().Find(module);
  if (library == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  // An ordinal (a "name" below 0x10000) has no meaning here.
  if (reinterpret_cast<ULONG_PTR>(name) < 0x10000) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  if (system != nullptr) {
    bool exported = false;
    for (const w32::Export& row : w32::kExports) {
      exported = exported || (std::u16string_view(row.module) == system->name && std::strcmp(row.function, name) == 0);
    }
    if (!exported) {
      SetLastError(ERROR_PROC_NOT_FOUND);
      return nullptr;
    }
  }
  // dlsym also searches the library's dependencies: only its own symbols count.
  const void* owner = system != nullptr ? w32::BaseOf(reinterpret_cast<void*>(&GetProcAddress), nullptr) : module;
  void* symbol = dlsym(library, name);
  if (symbol == nullptr || w32::BaseOf(symbol, nullptr) != owner) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  return reinterpret_cast<FARPROC>(symbol);
}
