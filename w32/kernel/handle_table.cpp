#include "kernel/handle_table.h"

#include "support/handle_map.h"

namespace w32 {
namespace {

HandleMap<KernelObject>& Handles() {
  static auto* handles = new HandleMap<KernelObject>(4, 4);  // outlives static destructors that close handles
  return *handles;
}

}  // namespace

HANDLE InsertHandle(std::shared_ptr<KernelObject> object) {
  return reinterpret_cast<HANDLE>(Handles().Insert(std::move(object), [](KernelObject&, ULONG_PTR) {}));
}

std::shared_ptr<KernelObject> LookupHandle(HANDLE handle) {
  return Handles().Lookup(reinterpret_cast<ULONG_PTR>(handle));
}

std::shared_ptr<KernelObject> RemoveHandle(HANDLE handle) {
  return Handles().Remove(reinterpret_cast<ULONG_PTR>(handle));
}

}  // namespace w32

// CloseHandle: drops the handle from the table; the object ends with its last reference.
BOOL WINAPI CloseHandle(HANDLE handle) {
  std::shared_ptr<w32::KernelObject> object = w32::RemoveHandle(handle);
  if (!object) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}
