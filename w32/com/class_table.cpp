#include "com/class_table.h"

#include <mutex>
#include <vector>

#include "com/apartment.h"

namespace w32::com {
namespace {

struct ClassEntry {
  CLSID clsid;
  CreateObject create;
};

struct ClassTable {
  std::mutex lock;
  std::vector<ClassEntry> classes;
};

// Made on first use: registrations run during static initialisation, in any order.
ClassTable& Table() {
  static ClassTable table;
  return table;
}

}  // namespace

ClassRegistration::ClassRegistration(const CLSID& clsid, CreateObject create) {
  ClassTable& table = Table();
  std::lock_guard<std::mutex> guard(table.lock);
  table.classes.push_back({clsid, create});
}

CreateObject FindClass(const CLSID& clsid) {
  ClassTable& table = Table();
  std::lock_guard<std::mutex> guard(table.lock);
  for (const ClassEntry& entry : table.classes) {
    if (entry.clsid == clsid) return entry.create;
  }
  return nullptr;
}

}  // namespace w32::com

// CoCreateInstance: the class table's in-process classes; none aggregates.
HRESULT WINAPI CoCreateInstance(REFCLSID clsid, LPUNKNOWN outer, DWORD context, REFIID iid, LPVOID* object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (!w32::com::ThreadHasCom()) return CO_E_NOTINITIALIZED;
  const w32::com::CreateObject create = w32::com::FindClass(clsid);
  if (create == nullptr || (context & CLSCTX_INPROC_SERVER) == 0) return REGDB_E_CLASSNOTREG;
  if (outer != nullptr) return CLASS_E_NOAGGREGATION;
  return create(iid, object);
}
