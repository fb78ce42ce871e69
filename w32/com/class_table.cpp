#include "com/class_table.h"

#include <cstdio>
#include <mutex>
#include <vector>

#include "com/apartment.h"
#include "support/debug_channel.h"

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

std::string ClassText(const CLSID& clsid) {
  char text[40];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", clsid.Data1, clsid.Data2,
                clsid.Data3, clsid.Data4[0], clsid.Data4[1], clsid.Data4[2], clsid.Data4[3], clsid.Data4[4],
                clsid.Data4[5], clsid.Data4[6], clsid.Data4[7]);
  return text;
}

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
  if (!w32::com::ThreadHasCom()) {
    W32_DEBUG(w32::kDebugCom, "CoCreateInstance %s: CO_E_NOTINITIALIZED: no CoInitialize on this thread",
              w32::com::ClassText(clsid).c_str());
    return CO_E_NOTINITIALIZED;
  }
  const w32::com::CreateObject create = w32::com::FindClass(clsid);
  if (create == nullptr || (context & CLSCTX_INPROC_SERVER) == 0) {
    W32_DEBUG(w32::kDebugCom, "CoCreateInstance %s: REGDB_E_CLASSNOTREG: no in-process class of that id",
              w32::com::ClassText(clsid).c_str());
    return REGDB_E_CLASSNOTREG;
  }
  if (outer != nullptr) return CLASS_E_NOAGGREGATION;
  return create(iid, object);
}
