#pragma once
// Libraries that few processes need are opened on first use, as the platform
// delay-loads DLLs: the loader does not map them (and their own dependencies)
// into every process that loads libw32.
//
// A user lists the functions it needs once, and gets a table of typed
// function pointers with the function that fills it from the library:
//
//   #define BUS_FUNCTIONS(F) F(dbus_message_unref) F(dbus_bus_get)
//   W32_DELAY_LOADED_API(BusApi, BindBus, BUS_FUNCTIONS)
//   DelayLoaded<BusApi> bus("libdbus-1.so.3", BindBus);
//   if (const BusApi* api = bus.Get()) api->dbus_message_unref(message);
//
// A missing library or symbol makes Get return null, every time; the caller
// turns that into its own failure.
#include <mutex>

namespace w32 {

// The symbols of one opened library.
class LibrarySymbols {
 public:
  explicit LibrarySymbols(void* handle) : handle_(handle) {}

  // Points `slot` at `name`; false when the library has no such symbol.
  template <class Function>
  bool Resolve(const char* name, Function*& slot) const {
    slot = reinterpret_cast<Function*>(Find(name));
    return slot != nullptr;
  }

 private:
  void* Find(const char* name) const;
  void* handle_;
};

// Opens a library by soname (RTLD_NOW | RTLD_LOCAL); null when it is not there.
void* OpenLibrary(const char* soname);
void CloseLibrary(void* handle);

#define W32_API_MEMBER(name) decltype(&::name) name;
#define W32_API_RESOLVE(name) &&symbols.Resolve(#name, api.name)
#define W32_DELAY_LOADED_API(Api, Bind, LIST) \
  struct Api {                                \
    LIST(W32_API_MEMBER)                      \
  };                                          \
  inline bool Bind(const ::w32::LibrarySymbols& symbols, Api& api) { return true LIST(W32_API_RESOLVE); }

template <class Api>
class DelayLoaded {
 public:
  using Bind = bool (*)(const LibrarySymbols&, Api&);
  constexpr DelayLoaded(const char* soname, Bind bind) : soname_(soname), bind_(bind) {}
  DelayLoaded(const DelayLoaded&) = delete;
  DelayLoaded& operator=(const DelayLoaded&) = delete;

  // The bound table, or null when the library or a symbol is missing. The
  // first call opens the library; concurrent first calls wait for it.
  const Api* Get() {
    std::call_once(once_, [this] { loaded_ = Load(); });
    return loaded_ ? &api_ : nullptr;
  }

 private:
  // A bound library stays loaded for the life of the process.
  bool Load() {
    void* handle = OpenLibrary(soname_);
    if (handle == nullptr) return false;
    if (bind_(LibrarySymbols(handle), api_)) return true;
    api_ = Api{};
    CloseLibrary(handle);
    return false;
  }

  const char* soname_;
  Bind bind_;
  std::once_flag once_;
  bool loaded_ = false;
  Api api_{};
};

}  // namespace w32
