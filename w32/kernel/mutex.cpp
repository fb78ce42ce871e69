#include <windows.h>

#include "kernel/handle_table.h"
#include "kernel/named_objects.h"

namespace w32 {
namespace {

// A mutex here is a named marker: its existence is shared across processes
// through the named-object namespace. Ownership is not modelled.
class Mutex : public KernelObject {
 public:
  explicit Mutex(std::unique_ptr<NamedObjectEntry> entry) : entry_(std::move(entry)) {}

 private:
  std::unique_ptr<NamedObjectEntry> entry_;
};

}  // namespace
}  // namespace w32

// CreateMutexW: a named mutex is a lock file of the named-object namespace.
HANDLE WINAPI CreateMutexW(LPSECURITY_ATTRIBUTES, BOOL initial_owner, LPCWSTR name) {
  if (initial_owner) {
    SetLastError(ERROR_NOT_SUPPORTED);  // mutex ownership is not built
    return nullptr;
  }
  if (name == nullptr || *name == 0) {
    HANDLE handle = w32::InsertHandle(std::make_shared<w32::Mutex>(nullptr));
    SetLastError(ERROR_SUCCESS);
    return handle;
  }
  std::unique_ptr<w32::NamedObjectEntry> entry = w32::CreateNamedObject(name);
  if (!entry) return nullptr;
  const bool created = entry->created();
  HANDLE handle = w32::InsertHandle(std::make_shared<w32::Mutex>(std::move(entry)));
  SetLastError(created ? ERROR_SUCCESS : ERROR_ALREADY_EXISTS);
  return handle;
}
