#include <windows.h>

#include <map>
#include <mutex>

#include "support/text.h"
#include "user/window_table.h"

namespace w32::user {
namespace {

// Classes live for the life of the process; atoms count up from the platform's
// first string atom.
struct ClassTable {
  std::mutex lock;
  std::map<std::u16string, std::shared_ptr<const WindowClass>> by_name;  // ASCII-lowered names
  ATOM next_atom = 0xC000;
};

ClassTable& Classes() {
  static ClassTable* table = new ClassTable;
  return *table;
}

}  // namespace

std::shared_ptr<const WindowClass> FindClass(LPCWSTR name) {
  if (name == nullptr || IS_INTRESOURCE(name)) return nullptr;  // the module names its classes
  ClassTable& table = Classes();
  std::lock_guard<std::mutex> guard(table.lock);
  auto it = table.by_name.find(AsciiLower(name));
  return it == table.by_name.end() ? nullptr : it->second;
}

}  // namespace w32::user

// RegisterClassExW: a process-wide class table; a name registers once. Nothing is
// drawn here, so a class keeps only its window procedure.
ATOM WINAPI RegisterClassExW(const WNDCLASSEXW* klass) {
  if (klass == nullptr || klass->cbSize != sizeof(WNDCLASSEXW) || klass->lpfnWndProc == nullptr ||
      klass->lpszClassName == nullptr || IS_INTRESOURCE(klass->lpszClassName) || *klass->lpszClassName == 0 ||
      klass->cbClsExtra < 0 || klass->cbWndExtra < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (klass->cbClsExtra > 0 || klass->cbWndExtra > 0) {
    SetLastError(ERROR_NOT_SUPPORTED);  // extra class and window bytes are not modelled
    return 0;
  }
  w32::user::ClassTable& table = w32::user::Classes();
  std::lock_guard<std::mutex> guard(table.lock);
  std::u16string key = w32::AsciiLower(klass->lpszClassName);
  if (table.by_name.count(key) != 0) {
    SetLastError(ERROR_CLASS_ALREADY_EXISTS);
    return 0;
  }
  if (table.next_atom == 0xFFFF) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);  // the atom table is full
    return 0;
  }
  table.by_name.emplace(std::move(key),
                        std::make_shared<const w32::user::WindowClass>(w32::user::WindowClass{klass->lpfnWndProc}));
  return table.next_atom++;
}
