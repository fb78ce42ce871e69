#pragma once
// One type per argument kind: how a Python argument becomes a native value,
// and the type name its error message shows. `Storage` holds the converted
// value for the length of the call; `Get` gives the service its argument.
#include "python/python_compat.h"
#include <windows.h>

#include <string>

#include "binding/type_registry.h"

namespace device::binding {

enum class Load { kOk, kMismatch, kOverflow, kNullObject, kDeletedObject };

Load LoadUnsigned32(PyObject* object, unsigned long& value);
Load LoadSigned32(PyObject* object, long& value);
Load LoadUnsigned64(PyObject* object, unsigned long long& value);
Load LoadSigned64(PyObject* object, long long& value);

// Reads with one of the readers above into its wide type, then narrows.
template <class Native, class Wide>
Load Narrowed(Load (*read)(PyObject*, Wide&), PyObject* object, Native& value) {
  Wide number = 0;
  const Load result = read(object, number);
  value = static_cast<Native>(number);
  return result;
}

template <class Native>
struct ValueKind {
  using Storage = Native;
  static Native Get(Native value) { return value; }
};

struct ArgUint : ValueKind<UINT> {
  static constexpr char kType[] = "UINT";
  static Load From(PyObject* object, UINT& value) { return Narrowed(LoadUnsigned32, object, value); }
};

struct ArgDword : ValueKind<DWORD> {
  static constexpr char kType[] = "DWORD";
  static Load From(PyObject* object, DWORD& value) { return Narrowed(LoadUnsigned32, object, value); }
};

// Pointer-sized: the full 64-bit unsigned range.
struct ArgWparam : ValueKind<WPARAM> {
  static constexpr char kType[] = "WPARAM";
  static Load From(PyObject* object, WPARAM& value) { return Narrowed(LoadUnsigned64, object, value); }
};

struct ArgByte : ValueKind<BYTE> {
  static constexpr char kType[] = "BYTE";
  static Load From(PyObject* object, BYTE& value);
};

// The platform's INT and C's int: the same conversion under two names.
struct ArgINT : ValueKind<INT> {
  static constexpr char kType[] = "INT";
  static Load From(PyObject* object, INT& value) { return Narrowed(LoadSigned32, object, value); }
};

struct ArgInt : ValueKind<int> {
  static constexpr char kType[] = "int";
  static Load From(PyObject* object, int& value) { return ArgINT::From(object, value); }
};

// Pointer-sized: the full 64-bit signed range.
struct ArgLparam : ValueKind<LPARAM> {
  static constexpr char kType[] = "LPARAM";
  static Load From(PyObject* object, LPARAM& value) { return Narrowed(LoadSigned64, object, value); }
};

struct ArgBool : ValueKind<bool> {
  static constexpr char kType[] = "bool";
  static Load From(PyObject* object, bool& value);
};

// A `unicode` argument as UTF-16, cut at its first zero character.
struct ArgUnicode {
  static constexpr char kMessage[] = "Unicode string expected";
  using Storage = std::u16string;
  static Load From(PyObject* object, std::u16string& value);
  static const WCHAR* Get(const std::u16string& value) { return value.c_str(); }
};

// Any object, borrowed for the call.
struct ArgAny : ValueKind<PyObject*> {
  static Load From(PyObject* object, PyObject*& value) {
    value = object;
    return Load::kOk;
  }
};

// Any wrapper, of whatever type; None is a null address.
struct ArgVoidPointer : ValueKind<void*> {
  static constexpr char kType[] = "void *";
  static Load From(PyObject* object, void*& value);
};

}  // namespace device::binding
