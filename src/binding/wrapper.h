#pragma once
// The wrapper object that carries a native address into Python, and the
// search for the wrapper behind a proxy instance.
#include "python/python_compat.h"

#include <cstdint>

#include "binding/type_registry.h"

namespace device::binding {

struct PySwigObject {
  PyObject_HEAD
  void* address;
  TypeRecord* type;
  int own;
  PyObject* next;  // the next wrapper of a chain, a new reference
};

enum WrapperFlags { kOwn = 1, kDisown = 1 };

// A wrapper of the module's own type or of another module's on this runtime.
bool IsWrapper(PyObject* object);

// A new wrapper, or None for a null address, carrying the live object's
// serial (0: none). Returns a new reference.
PyObject* MakeWrapper(void* address, TypeRecord* type, int flags, uint64_t serial = 0);

// The wrapper behind a proxy instance, its dictionary, a weak proxy or an
// attribute "this" (a new reference), or null with no error set.
PyObject* FindWrapper(PyObject* object);

// The native address of `object` for the expected record (null: any record).
// None gives a null address. With kDisown the wrapper taken stops owning.
// With `serial`, also the serial of the wrapper taken (0 when it carries
// none). Returns false on a type mismatch.
bool ConvertToAddress(PyObject* object, TypeRecord* expected, void** address, int flags = 0,
                      uint64_t* serial = nullptr);

// X_swigregister: hangs the proxy class's data on `record`.
void RegisterProxyClass(TypeRecord* record, PyObject* klass);

// The last display name of a record: the text that messages show.
const char* ShownName(const TypeRecord* record);

// Releases the cached "this" name; called by the registry's release function.
void ReleaseThisName();

}  // namespace device::binding
