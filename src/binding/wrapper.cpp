#include "binding/wrapper.h"

#include <cstdio>
#include <cstring>

namespace device::binding {
namespace {

PyObject* this_name = nullptr;

PyTypeObject* WrapperType();

PyObject* ThisName() {
  if (this_name == nullptr) this_name = pycompat::TextFromString("this");
  return this_name;
}

PySwigObject* AsWrapper(PyObject* object) { return reinterpret_cast<PySwigObject*>(object); }

// This module's wrappers carry the serial of the live object after the
// shared fields; other modules' wrappers of the same name need not.
struct SerialWrapper {
  PySwigObject shared;
  uint64_t serial;
};

uint64_t SerialOf(PyObject* object) {
  return Py_TYPE(object) == WrapperType() ? reinterpret_cast<SerialWrapper*>(object)->serial : 0;
}

PyObject* Representation(PyObject* self) {
  const PySwigObject* wrapper = AsWrapper(self);
  char address[32];
  std::snprintf(address, sizeof address, "%lx", reinterpret_cast<unsigned long>(wrapper->address));
  PyObject* text = pycompat::TextFromFormat("<Swig Object of type '%s' at 0x%s>", ShownName(wrapper->type), address);
  if (text != nullptr && wrapper->next != nullptr) pycompat::TextAppendAndDel(&text, PyObject_Repr(wrapper->next));
  return text;
}

#if !DEVICE_PYTHON3
int Print(PyObject* self, FILE* file, int) {
  PyObject* text = Representation(self);
  if (text == nullptr) return 1;
  std::fputs(pycompat::TextAsUtf8(text), file);
  Py_DECREF(text);
  return 0;
}
#endif

// An underscore, the address's bytes in memory order, the mangled name.
PyObject* Text(PyObject* self) {
  const PySwigObject* wrapper = AsWrapper(self);
  static const char kHex[] = "0123456789abcdef";
  char text[1 + 2 * sizeof(void*) + 1];
  unsigned char bytes[sizeof(void*)];
  std::memcpy(bytes, &wrapper->address, sizeof bytes);
  text[0] = '_';
  for (size_t i = 0; i < sizeof bytes; ++i) {
    text[1 + 2 * i] = kHex[bytes[i] >> 4];
    text[2 + 2 * i] = kHex[bytes[i] & 15];
  }
  text[sizeof text - 1] = 0;
  return pycompat::TextFromFormat("%s%s", text, wrapper->type->name);
}

int Compare(PyObject* a, PyObject* b) {
  const auto x = reinterpret_cast<uintptr_t>(AsWrapper(a)->address);
  const auto y = reinterpret_cast<uintptr_t>(AsWrapper(b)->address);
  return x < y ? -1 : (x > y ? 1 : 0);
}

PyObject* AsLong(PyObject* self) { return PyLong_FromVoidPtr(AsWrapper(self)->address); }

#if DEVICE_PYTHON3
// Python 3 has no three-way comparison: the six rich comparisons, by address,
// between wrappers; anything else is the other operand's business.
PyObject* RichCompare(PyObject* a, PyObject* b, int operation) {
  if (!IsWrapper(a) || !IsWrapper(b)) Py_RETURN_NOTIMPLEMENTED;
  Py_RETURN_RICHCOMPARE(Compare(a, b), 0, operation);
}
#else
// The address as the host's %x and %o formatting shows it: digits only.
PyObject* FormatAddress(PyObject* self, const char* format) {
  char text[32];
  std::snprintf(text, sizeof text, format, reinterpret_cast<unsigned long>(AsWrapper(self)->address));
  return PyString_FromString(text);
}

PyObject* AsOctal(PyObject* self) { return FormatAddress(self, "%lo"); }
PyObject* AsHex(PyObject* self) { return FormatAddress(self, "%lx"); }
#endif

// Runs the registered destroy function on a temporary, non-owning wrapper of
// the same address, so that nothing can keep the dying wrapper itself.
void DestroyNative(PySwigObject* wrapper) {
  auto* data = static_cast<ClassData*>(wrapper->type->class_data);
  PyObject* destroy = data != nullptr ? data->destroy : nullptr;
  if (destroy == nullptr) {
    std::printf("swig/python detected a memory leak of type '%s', no destructor found.\n", ShownName(wrapper->type));
    return;
  }
  // Keep an exception already in flight apart from whatever the call raises.
  PyObject *type, *value, *traceback;
  PyErr_Fetch(&type, &value, &traceback);
  PyObject* result = nullptr;
  PyObject* temporary =
      MakeWrapper(wrapper->address, wrapper->type, 0, SerialOf(reinterpret_cast<PyObject*>(wrapper)));
  if (temporary != nullptr) {
    if (data->destroy_takes_tuple) {
      result = PyObject_CallFunctionObjArgs(destroy, temporary, nullptr);
    } else {
      result = PyCFunction_GET_FUNCTION(destroy)(PyCFunction_GET_SELF(destroy), temporary);
    }
    Py_DECREF(temporary);
  }
  Py_XDECREF(result);
  // Python 2 leaves the destroy function's exception pending when none was in
  // flight; Python 3 lets no deallocation leave one, so there it is reported
  // as unraisable, as an exception in __del__ is.
  if (result == nullptr && (type != nullptr || DEVICE_PYTHON3)) PyErr_WriteUnraisable(destroy);
  if (type != nullptr) PyErr_Restore(type, value, traceback);
}

// A chain is released link by link: a long chain must not recurse once per link.
void Dealloc(PyObject* self) {
  PySwigObject* wrapper = AsWrapper(self);
  if (wrapper->own) DestroyNative(wrapper);
  PyObject* next = wrapper->next;
  PyObject_Free(self);
  while (next != nullptr) {
    if (Py_REFCNT(next) != 1 || Py_TYPE(next) != WrapperType()) {
      Py_DECREF(next);
      break;
    }
    PyObject* after = AsWrapper(next)->next;
    AsWrapper(next)->next = nullptr;
    Py_DECREF(next);
    next = after;
  }
}

PyObject* Disown(PyObject* self, PyObject*) {
  AsWrapper(self)->own = 0;
  Py_RETURN_NONE;
}

PyObject* Acquire(PyObject* self, PyObject*) {
  AsWrapper(self)->own = 1;
  Py_RETURN_NONE;
}

PyObject* Own(PyObject* self, PyObject* args) {
  PyObject* value = nullptr;
  if (!PyArg_UnpackTuple(args, "own", 0, 1, &value)) return nullptr;
  PySwigObject* wrapper = AsWrapper(self);
  PyObject* was = PyBool_FromLong(wrapper->own);
  if (value != nullptr) {
    const int truth = PyObject_IsTrue(value);
    if (truth < 0) {
      Py_DECREF(was);
      return nullptr;
    }
    wrapper->own = truth ? 1 : 0;
  }
  return was;
}

PyObject* Append(PyObject* self, PyObject* other) {
  if (!IsWrapper(other)) {
    PyErr_SetString(PyExc_TypeError, "append() takes a PySwigObject");
    return nullptr;
  }
  // A chain that came back to itself would make every walk endless.
  for (PyObject* walk = other; walk != nullptr; walk = AsWrapper(walk)->next) {
    if (walk == self) {
      PyErr_SetString(PyExc_ValueError, "append() would make the chain a cycle");
      return nullptr;
    }
  }
  PySwigObject* wrapper = AsWrapper(self);
  Py_INCREF(other);
  Py_XSETREF(wrapper->next, other);
  Py_RETURN_NONE;
}

PyObject* Next(PyObject* self, PyObject*) {
  PyObject* next = AsWrapper(self)->next;
  if (next == nullptr) next = Py_None;
  Py_INCREF(next);
  return next;
}

PyObject* ReprMethod(PyObject* self, PyObject*) { return Representation(self); }

PyMethodDef kMethods[] = {
    {"disown", Disown, METH_NOARGS, "releases ownership of the pointer"},
    {"acquire", Acquire, METH_NOARGS, "aquires ownership of the pointer"},
    {"own", Own, METH_VARARGS, "returns/sets ownership of the pointer"},
    {"append", Append, METH_O, "appends another 'this' object"},
    {"next", Next, METH_NOARGS, "returns the next 'this' object"},
    {"__repr__", ReprMethod, METH_NOARGS, "returns object representation"},
    {nullptr, nullptr, 0, nullptr},
};

// Python 3's hex() and oct() read the integer through nb_index and add their prefix.
PyNumberMethods MakeNumberMethods() {
  PyNumberMethods methods{};
  methods.nb_int = AsLong;
#if DEVICE_PYTHON3
  methods.nb_index = AsLong;
#else
  methods.nb_long = AsLong;
  methods.nb_oct = AsOctal;
  methods.nb_hex = AsHex;
#endif
  return methods;
}

PyNumberMethods number_methods = MakeNumberMethods();

PyTypeObject MakeWrapperType() {
  PyTypeObject type{};
  Py_SET_REFCNT(&type, 1);
  Py_SET_TYPE(&type, &PyType_Type);
  type.tp_name = "PySwigObject";
  type.tp_basicsize = sizeof(SerialWrapper);
  type.tp_dealloc = Dealloc;
#if DEVICE_PYTHON3
  type.tp_richcompare = RichCompare;
#else
  type.tp_print = Print;
  type.tp_compare = Compare;
#endif
  type.tp_repr = Representation;
  type.tp_as_number = &number_methods;
  type.tp_str = Text;
  type.tp_getattro = PyObject_GenericGetAttr;
  type.tp_flags = Py_TPFLAGS_DEFAULT;
  type.tp_doc = "Swig object carries a C/C++ instance pointer";
  type.tp_methods = kMethods;
  return type;
}

PyTypeObject* WrapperType() {
  static PyTypeObject type = MakeWrapperType();
  static bool ready = PyType_Ready(&type) == 0;
  return ready ? &type : nullptr;
}

// A "this" that is itself an object with a "this", and so on, ends here.
constexpr int kMaxThisDepth = 64;

}  // namespace

bool IsWrapper(PyObject* object) {
  PyTypeObject* type = Py_TYPE(object);
  if (type == WrapperType()) return true;
  // Other modules' wrapper types count by name; a Python class of that name does not.
  return !(type->tp_flags & Py_TPFLAGS_HEAPTYPE) && type->tp_basicsize >= static_cast<Py_ssize_t>(sizeof(PySwigObject)) &&
         std::strcmp(type->tp_name, "PySwigObject") == 0;
}

PyObject* MakeWrapper(void* address, TypeRecord* type, int flags, uint64_t serial) {
  if (address == nullptr) Py_RETURN_NONE;
  PyTypeObject* wrapper_type = WrapperType();
  if (wrapper_type == nullptr) return nullptr;
  SerialWrapper* made = PyObject_NEW(SerialWrapper, wrapper_type);
  if (made == nullptr) return nullptr;
  PySwigObject* wrapper = &made->shared;
  wrapper->address = address;
  wrapper->type = type;
  wrapper->own = (flags & kOwn) ? 1 : 0;
  wrapper->next = nullptr;
  made->serial = serial;
  return reinterpret_cast<PyObject*>(wrapper);
}

PyObject* FindWrapper(PyObject* object) {
  Py_INCREF(object);
  for (int depth = 0; object != nullptr && depth < kMaxThisDepth; ++depth) {
    if (IsWrapper(object)) return object;
    PyObject* found = nullptr;
    if (pycompat::LookupOldStyleInstance(object, ThisName(), &found)) {
      Py_XINCREF(found);
    } else if (PyObject** dictionary = _PyObject_GetDictPtr(object)) {
      found = *dictionary != nullptr ? PyDict_GetItem(*dictionary, ThisName()) : nullptr;
      Py_XINCREF(found);
    } else if (PyWeakref_CheckProxy(object)) {
      found = PyWeakref_GET_OBJECT(object);
      found = found == Py_None ? nullptr : found;
      Py_XINCREF(found);
    } else {
      found = PyObject_GetAttr(object, ThisName());
      if (found == nullptr) PyErr_Clear();
    }
    Py_DECREF(object);
    object = found;
  }
  Py_XDECREF(object);
  return nullptr;
}

bool ConvertToAddress(PyObject* object, TypeRecord* expected, void** address, int flags, uint64_t* serial) {
  if (object == Py_None) {
    *address = nullptr;
    if (serial != nullptr) *serial = 0;
    return true;
  }
  PyObject* found = FindWrapper(object);
  if (found == nullptr) return false;
  bool converted = false;
  for (PySwigObject* wrapper = AsWrapper(found); wrapper != nullptr && !converted;
       wrapper = wrapper->next != nullptr && IsWrapper(wrapper->next) ? AsWrapper(wrapper->next) : nullptr) {
    void* value = wrapper->address;
    if (expected != nullptr && wrapper->type != expected) {
      CastEntry* entry = expected->casts;
      while (entry != nullptr && std::strcmp(entry->type->name, wrapper->type->name) != 0) entry = entry->next;
      if (entry == nullptr) continue;
      if (entry != expected->casts) {  // move to the front: the next search finds it first
        entry->prev->next = entry->next;
        if (entry->next != nullptr) entry->next->prev = entry->prev;
        entry->next = expected->casts;
        entry->prev = nullptr;
        expected->casts->prev = entry;
        expected->casts = entry;
      }
      if (entry->converter != nullptr) value = entry->converter(value);
    }
    *address = value;
    if (serial != nullptr) *serial = SerialOf(reinterpret_cast<PyObject*>(wrapper));
    if (flags & kDisown) wrapper->own = 0;
    converted = true;
  }
  Py_DECREF(found);
  return converted;
}

namespace {

// Hangs `data` on `record` and on every record that accepts it without
// conversion and has no class yet.
void HangClassData(TypeRecord* record, ClassData* data) {
  for (CastEntry* entry = record->casts; entry != nullptr; entry = entry->next) {
    if (entry->converter == nullptr && entry->type->class_data == nullptr) {
      entry->type->class_data = data;
      HangClassData(entry->type, data);
    }
  }
}

}  // namespace

void RegisterProxyClass(TypeRecord* record, PyObject* klass) {
  // A second registration reuses the record's own data in place, so records
  // that share it follow the new class.
  auto* data = static_cast<ClassData*>(record->class_data);
  if (data != nullptr && record->owns_class_data) {
    Py_CLEAR(data->klass);
    Py_CLEAR(data->instance_maker);
    Py_CLEAR(data->maker_arguments);
    Py_CLEAR(data->destroy);
    *data = ClassData{};
  } else {
    data = new ClassData{};
  }
  Py_INCREF(klass);
  data->klass = klass;
  if (pycompat::IsOldStyleClass(klass)) {
    Py_INCREF(klass);
    data->maker_arguments = klass;
  } else {
    data->instance_maker = PyObject_GetAttrString(klass, "__new__");
    if (data->instance_maker == nullptr) PyErr_Clear();
    if (data->instance_maker != nullptr) {
      data->maker_arguments = PyTuple_Pack(1, klass);
    } else {
      Py_INCREF(klass);
      data->maker_arguments = klass;
    }
  }
  data->destroy = PyObject_GetAttrString(klass, "__swig_destroy__");
  if (PyErr_Occurred()) {
    PyErr_Clear();
    Py_CLEAR(data->destroy);
  }
  if (data->destroy != nullptr) {
    const bool takes_one_object = PyCFunction_Check(data->destroy) && (PyCFunction_GET_FLAGS(data->destroy) & METH_O);
    data->destroy_takes_tuple = takes_one_object ? 0 : 1;
  }
  record->class_data = data;
  record->owns_class_data = 1;
  HangClassData(record, data);
}

const char* ShownName(const TypeRecord* record) {
  const char* last = std::strrchr(record->display, '|');
  return last != nullptr ? last + 1 : record->display;
}

void ReleaseThisName() { Py_CLEAR(this_name); }

}  // namespace device::binding
