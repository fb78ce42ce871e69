#pragma once
// The Python layer (src/python): what the binding, the services that build
// Python objects and _w32 share of the host interpreter. This header is the
// one place where Python 2 and Python 3 differ for them: everything else
// includes it instead of <Python.h> and speaks through these names. Byte
// strings use the PyBytes_ names, which Python 2 maps to its str.
//
// Natural mapping: Python 2 `str` -> `bytes`, `unicode` -> `str`, `int` and
// `long` -> `int`. A Python 3 `int` inside the C `long` range reads as Python
// 2's `int` did; one beyond it as Python 2's `long`.
#include <Python.h>

#include <cstdarg>
#include <string>
#include <string_view>
#include <vector>

#include "common/wide_text.h"

#if PY_MAJOR_VERSION >= 3
#define DEVICE_PYTHON3 1
#else
#define DEVICE_PYTHON3 0
#endif

#if !DEVICE_PYTHON3 && !defined(Py_SET_TYPE)
#define Py_SET_TYPE(object, type) (Py_TYPE(object) = (type))
#define Py_SET_REFCNT(object, count) (Py_REFCNT(object) = (count))
#endif

// The module initialiser the host looks for, the library's only export:
// `PyInit_<name>` returning the module on Python 3 (whose PyMODINIT_FUNC
// exports it), `init<name>` on Python 2. `make` returns a new reference to
// the module, or null with an error set.
#if DEVICE_PYTHON3
#define DEVICE_MODULE_INIT(name, make) \
  PyMODINIT_FUNC PyInit_##name(void) { return make(); }
#else
#define DEVICE_MODULE_INIT(name, make)                                      \
  PyMODINIT_FUNC __attribute__((visibility("default"))) init##name(void) { \
    PyObject* module = make();                                              \
    Py_XDECREF(module);                                                     \
  }
#endif

namespace pycompat {

// The module that holds the built-in exceptions.
#if DEVICE_PYTHON3
constexpr char kExceptionsModule[] = "builtins";
#else
constexpr char kExceptionsModule[] = "exceptions";
#endif

// What a module is made from. Python 3 keeps a pointer to it for the life of
// the module, so it must be static.
struct ModuleDefinition {
  ModuleDefinition(const char* module_name, const char* module_doc, PyMethodDef* module_methods)
      : name(module_name), doc(module_doc), methods(module_methods) {}
  const char* name;
  const char* doc;
  PyMethodDef* methods;
#if DEVICE_PYTHON3
  PyModuleDef definition{};
#endif
};

// A new module (a new reference), in the host's list of modules. Python 2:
// Py_InitModule4 with API version 1013; Python 3: PyModule_Create.
inline PyObject* CreateModule(ModuleDefinition& module) {
#if DEVICE_PYTHON3
  module.definition = {PyModuleDef_HEAD_INIT, module.name, module.doc, -1, module.methods,
                       nullptr, nullptr, nullptr, nullptr};
  PyObject* created = PyModule_Create(&module.definition);
  if (created != nullptr && PyDict_SetItemString(PyImport_GetModuleDict(), module.name, created) != 0) {
    Py_CLEAR(created);
  }
  return created;
#else
  PyObject* created = Py_InitModule4(module.name, module.methods, module.doc, nullptr, PYTHON_API_VERSION);
  Py_XINCREF(created);
  return created;
#endif
}

// Integers. An "int-kind" object reads as Python 2's int: an int (Python 2),
// or an int inside the C long range (Python 3). Others go the long way.
inline bool ReadIntKind(PyObject* object, long* value) {
#if DEVICE_PYTHON3
  if (!PyLong_Check(object)) return false;
  int overflow = 0;
  const long number = PyLong_AsLongAndOverflow(object, &overflow);
  if (overflow != 0 || (number == -1 && PyErr_Occurred())) {
    PyErr_Clear();
    return false;
  }
  *value = number;
  return true;
#else
  if (!PyInt_Check(object)) return false;
  *value = PyInt_AsLong(object);
  return true;
#endif
}

inline bool IsInteger(PyObject* object) {
#if DEVICE_PYTHON3
  return PyLong_Check(object);
#else
  return PyInt_Check(object) || PyLong_Check(object);
#endif
}

// The host's small integer: Python 2's int, Python 3's int.
inline PyObject* IntFromLong(long value) {
#if DEVICE_PYTHON3
  return PyLong_FromLong(value);
#else
  return PyInt_FromLong(value);
#endif
}

inline PyObject* IntFromSize(size_t value) {
#if DEVICE_PYTHON3
  return PyLong_FromSize_t(value);
#else
  return PyInt_FromSize_t(value);
#endif
}

// The host's native text, what repr() and str() give: Python 2's str, Python 3's str.
inline PyObject* TextFromString(const char* text) {
#if DEVICE_PYTHON3
  return PyUnicode_FromString(text);
#else
  return PyString_FromString(text);
#endif
}

inline PyObject* TextFromFormat(const char* format, ...) {
  va_list values;
  va_start(values, format);
#if DEVICE_PYTHON3
  PyObject* text = PyUnicode_FromFormatV(format, values);
#else
  PyObject* text = PyString_FromFormatV(format, values);
#endif
  va_end(values);
  return text;
}

// Appends `tail` to `*text` and releases `tail`; on failure `*text` becomes null.
inline void TextAppendAndDel(PyObject** text, PyObject* tail) {
#if DEVICE_PYTHON3
  PyUnicode_AppendAndDel(text, tail);
#else
  PyString_ConcatAndDel(text, tail);
#endif
}

// The UTF-8 (Python 2: byte) text of native text, owned by the object.
inline const char* TextAsUtf8(PyObject* text) {
#if DEVICE_PYTHON3
  return PyUnicode_AsUTF8(text);
#else
  return PyString_AsString(text);
#endif
}

// Unicode text (Python 2's unicode, Python 3's str) of UTF-16: a surrogate
// pair becomes one character, a lone surrogate stays as it is, as a 16-bit
// host's unicode keeps it. Both hosts here hold 32-bit characters. The object
// is made at its final size and filled in place: no buffer between.
inline PyObject* UnicodeFromUtf16(const char16_t* text, size_t length) {
  const auto pair_at = [text, length](size_t i) {
    return text[i] >= 0xD800 && text[i] < 0xDC00 && i + 1 < length && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000;
  };
  size_t count = 0;
  char32_t widest = 0;
  for (size_t i = 0; i < length; ++i, ++count) {
    if (pair_at(i)) {
      widest = 0x10000;
      ++i;
    } else if (text[i] > widest) {
      widest = text[i];
    }
  }
#if DEVICE_PYTHON3
  PyObject* unicode = PyUnicode_New(static_cast<Py_ssize_t>(count), static_cast<Py_UCS4>(widest));
  if (unicode == nullptr) return nullptr;
  const int kind = PyUnicode_KIND(unicode);
  void* data = PyUnicode_DATA(unicode);
  if (kind == PyUnicode_1BYTE_KIND) {
    Py_UCS1* out = static_cast<Py_UCS1*>(data);
    for (size_t i = 0; i < length; ++i) out[i] = static_cast<Py_UCS1>(text[i]);
    return unicode;
  }
#else
  static_assert(sizeof(Py_UNICODE) == sizeof(Py_UCS4), "a UCS4 build of Python 2");
  PyObject* unicode = PyUnicode_FromUnicode(nullptr, static_cast<Py_ssize_t>(count));
  if (unicode == nullptr) return nullptr;
  Py_UNICODE* out = PyUnicode_AS_UNICODE(unicode);
#endif
  size_t at = 0;
  for (size_t i = 0; i < length; ++i, ++at) {
    char32_t c = text[i];
    if (pair_at(i)) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
    }
#if DEVICE_PYTHON3
    PyUnicode_WRITE(kind, data, at, c);
#else
    out[at] = static_cast<Py_UNICODE>(c);
#endif
  }
  return unicode;
}

inline PyObject* UnicodeFromUtf16(std::u16string_view text) { return UnicodeFromUtf16(text.data(), text.size()); }

// The text of a unicode object as UTF-16, cut at its first zero character.
inline std::u16string Utf16FromUnicode(PyObject* object) {
#if DEVICE_PYTHON3
  // Python 3 keeps one, two or four bytes a character; only four can need pairs.
  const int kind = PyUnicode_KIND(object);
  const void* data = PyUnicode_DATA(object);
  const Py_ssize_t length = PyUnicode_GET_LENGTH(object);
  if (kind == PyUnicode_4BYTE_KIND) {
    return device::Utf16FromUcs4(static_cast<const Py_UCS4*>(data), static_cast<size_t>(length));
  }
  std::u16string out;
  out.reserve(static_cast<size_t>(length));
  for (Py_ssize_t i = 0; i < length; ++i) {
    const Py_UCS4 c = PyUnicode_READ(kind, data, i);
    if (c == 0) break;
    out += static_cast<char16_t>(c);
  }
  return out;
#else
  return device::Utf16FromUcs4(PyUnicode_AS_UNICODE(object), static_cast<size_t>(PyUnicode_GET_SIZE(object)));
#endif
}

// Python 2's old-style classes and instances; Python 3 has neither.
inline bool IsOldStyleClass([[maybe_unused]] PyObject* object) {
#if DEVICE_PYTHON3
  return false;
#else
  return PyClass_Check(object);
#endif
}

// The attribute `name` of an old-style instance, through it and its class (a
// borrowed reference or null); false when `object` is no old-style instance.
inline bool LookupOldStyleInstance([[maybe_unused]] PyObject* object, [[maybe_unused]] PyObject* name,
                                   [[maybe_unused]] PyObject** found) {
#if DEVICE_PYTHON3
  return false;
#else
  if (!PyInstance_Check(object)) return false;
  *found = _PyInstance_Lookup(object, name);
  return true;
#endif
}

// An opaque pointer shared between modules of the interpreter, stored as the
// attribute `attribute` of the module `module`: PyCObject on Python 2,
// PyCapsule named "module.attribute" on Python 3. `Release` runs when the
// host destroys the object.
template <void (*Release)(void*)>
PyObject* PointerObject(void* pointer, [[maybe_unused]] const char* capsule_name) {
#if DEVICE_PYTHON3
  return PyCapsule_New(pointer, capsule_name,
                       [](PyObject* capsule) { Release(PyCapsule_GetPointer(capsule, PyCapsule_GetName(capsule))); });
#else
  return PyCObject_FromVoidPtr(pointer, Release);
#endif
}

// The pointer of such an object, found by importing `module`; null with an
// error set when there is none.
inline void* ImportPointer([[maybe_unused]] const char* module, [[maybe_unused]] const char* attribute,
                           [[maybe_unused]] const char* capsule_name) {
#if DEVICE_PYTHON3
  return PyCapsule_Import(capsule_name, 0);
#else
  return PyCObject_Import(const_cast<char*>(module), const_cast<char*>(attribute));
#endif
}

// The interpreter lock. The calling thread's state is the current one while it holds the lock.
inline PyThreadState* CurrentThreadState() {
#if DEVICE_PYTHON3
  return _PyThreadState_UncheckedGet();
#else
  return _PyThreadState_Current;
#endif
}

// Makes the lock ready for native threads: Python 3 always has it.
inline void InitThreads() {
#if !DEVICE_PYTHON3
  PyEval_InitThreads();
#endif
}

}  // namespace pycompat
