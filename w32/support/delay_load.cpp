#include "support/delay_load.h"

#include <dlfcn.h>

namespace w32 {

void* LibrarySymbols::Find(const char* name) const { return ::dlsym(handle_, name); }

void* OpenLibrary(const char* soname) { return ::dlopen(soname, RTLD_NOW | RTLD_LOCAL); }

void CloseLibrary(void* handle) { ::dlclose(handle); }

}  // namespace w32
