// _registry_peer: a second extension module on the same binding runtime. It
// joins the interpreter-wide type registry with its own records, two of which
// ("_p_RunningInstance" and "_p_void") _Device defines too.
#include "python/python_compat.h"

#include <cstring>

#include "binding/entry.h"
#include "binding/type_registry.h"
#include "binding/wrapper.h"

namespace {

using device::binding::CastEntry;
using device::binding::ModuleTypeTable;
using device::binding::TypeRecord;

enum { kPeerThing, kRunningInstance, kVoid, kCount };  // sorted by mangled name

TypeRecord records[kCount] = {
    {"_p_PeerThing", "PeerThing *", nullptr, nullptr, nullptr, 0},
    {"_p_RunningInstance", "RunningInstance *", nullptr, nullptr, nullptr, 0},
    {"_p_void", "void *", nullptr, nullptr, nullptr, 0},
};
TypeRecord* initial[kCount] = {&records[0], &records[1], &records[2]};
TypeRecord* resolved[kCount + 1] = {&records[0], &records[1], &records[2], nullptr};
CastEntry casts[kCount][2] = {
    {{&records[0], nullptr, nullptr, nullptr}, {}},
    {{&records[1], nullptr, nullptr, nullptr}, {}},
    {{&records[2], nullptr, nullptr, nullptr}, {}},
};
CastEntry* initial_casts[kCount] = {casts[0], casts[1], casts[2]};
ModuleTypeTable table = {resolved, kCount, nullptr, initial, initial_casts, nullptr};

TypeRecord* RecordNamed(const char* name) {
  for (int i = 0; i < kCount; ++i) {
    if (std::strcmp(resolved[i]->name, name) == 0) return resolved[i];
  }
  return nullptr;
}

// wrap(name, address): a non-owning wrapper of this module's type.
PyObject* Wrap(PyObject*, PyObject* args) {
  const char* name = nullptr;
  PyObject* number = nullptr;
  if (!PyArg_ParseTuple(args, "sO:wrap", &name, &number)) return nullptr;
  TypeRecord* record = RecordNamed(name);
  void* address = PyLong_AsVoidPtr(number);
  if (record == nullptr || PyErr_Occurred()) {
    if (!PyErr_Occurred()) PyErr_SetString(PyExc_KeyError, name);
    return nullptr;
  }
  return device::binding::MakeWrapper(address, record, 0);
}

// address(name, object): the address behind object for the named record, or None.
PyObject* Address(PyObject*, PyObject* args) {
  const char* name = nullptr;
  PyObject* object = nullptr;
  if (!PyArg_ParseTuple(args, "sO:address", &name, &object)) return nullptr;
  void* address = nullptr;
  if (!device::binding::ConvertToAddress(object, RecordNamed(name), &address)) Py_RETURN_NONE;
  return PyLong_FromVoidPtr(address);
}

// has_class(name): whether a proxy class was registered on the record.
PyObject* HasClass(PyObject*, PyObject* args) {
  const char* name = nullptr;
  if (!PyArg_ParseTuple(args, "s:has_class", &name)) return nullptr;
  return PyBool_FromLong(RecordNamed(name)->class_data != nullptr);
}

// ring_size(): the number of module tables in the registry's ring.
PyObject* RingSize(PyObject*, PyObject*) {
  long size = 1;
  for (const ModuleTypeTable* walk = table.next; walk != &table; walk = walk->next) ++size;
  return pycompat::IntFromLong(size);
}

PyMethodDef functions[] = {
    {"wrap", Wrap, METH_VARARGS, nullptr},
    {"address", Address, METH_VARARGS, nullptr},
    {"has_class", HasClass, METH_VARARGS, nullptr},
    {"ring_size", RingSize, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

pycompat::ModuleDefinition module_definition{"_registry_peer", nullptr, functions};

PyObject* MakeModule() {
  PyObject* module = pycompat::CreateModule(module_definition);
  if (module != nullptr) device::binding::JoinTypeRegistry(&table);
  return module;
}

}  // namespace

DEVICE_MODULE_INIT(_registry_peer, MakeModule)
