#include "kernel/handle_table.h"

#include <mutex>
#include <unordered_map>

namespace w32 {
namespace {

struct Table {
  std::mutex lock;
  std::unordered_map<ULONG_PTR, std::shared_ptr<KernelObject>> objects;
  ULONG_PTR next = 4;
};

Table& TheTable() {
  static Table* table = new Table;  // outlives static destructors that close handles
  return *table;
}

}  // namespace

HANDLE InsertHandle(std::shared_ptr<KernelObject> object) {
  Table& table = TheTable();
  std::lock_guard<std::mutex> guard(table.lock);
  const ULONG_PTR value = table.next;
  table.next += 4;
  table.objects.emplace(value, std::move(object));
  return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<KernelObject> LookupHandle(HANDLE handle) {
  Table& table = TheTable();
  std::lock_guard<std::mutex> guard(table.lock);
  auto it = table.objects.find(reinterpret_cast<ULONG_PTR>(handle));
  return it == table.objects.end() ? nullptr : it->second;
}

std::shared_ptr<KernelObject> RemoveHandle(HANDLE handle) {
  Table& table = TheTable();
  std::lock_guard<std::mutex> guard(table.lock);
  auto it = table.objects.find(reinterpret_cast<ULONG_PTR>(handle));
  if (it == table.objects.end()) return nullptr;
  std::shared_ptr<KernelObject> object = std::move(it->second);
  table.objects.erase(it);
  return object;
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
