#pragma once
// The process's table of kernel handles: small numbers mapped to shared objects.
#include <windows.h>

#include <memory>

namespace w32 {

class KernelObject {
 public:
  virtual ~KernelObject() = default;
};

// Handles count up by 4 from 4 and are never reused, so a stale handle can
// never reach a newer object.
HANDLE InsertHandle(std::shared_ptr<KernelObject> object);
std::shared_ptr<KernelObject> LookupHandle(HANDLE handle);
// Removes the handle; the object ends when its last handle or user lets go.
std::shared_ptr<KernelObject> RemoveHandle(HANDLE handle);

template <class T>
std::shared_ptr<T> LookupHandleAs(HANDLE handle) {
  return std::dynamic_pointer_cast<T>(LookupHandle(handle));
}

}  // namespace w32
