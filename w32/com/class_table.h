#pragma once
// The classes CoCreateInstance makes: an in-process table that each area of
// w32 fills from its own source file with a static registration, e.g.
//
//   const w32::com::ClassRegistration kShellLink(CLSID_ShellLink, &w32::com::CreateInstanceOf<ShellLink>);
#include <objbase.h>

#include <new>
#include <string>

namespace w32::com {

// Makes a new object of a class and answers the interface asked for, with
// QueryInterface's contract (E_NOINTERFACE and a null pointer when it has none).
using CreateObject = HRESULT (*)(REFIID iid, void** object);

// Adds one class to the table for the life of the process.
class ClassRegistration {
 public:
  ClassRegistration(const CLSID& clsid, CreateObject create);
};

// The creation function of a registered class, or null.
CreateObject FindClass(const CLSID& clsid);

// A class id in its registry form, "{00021401-0000-0000-C000-000000000046}".
std::string ClassText(const CLSID& clsid);

// A CreateObject for a class whose new objects start with one reference.
template <class T>
HRESULT CreateInstanceOf(REFIID iid, void** object) {
  T* made = new (std::nothrow) T();
  if (made == nullptr) {
    *object = nullptr;
    return E_OUTOFMEMORY;
  }
  const HRESULT result = made->QueryInterface(iid, object);
  made->Release();
  return result;
}

}  // namespace w32::com
