#include "binding/arguments.h"

#include <climits>

#include "binding/wrapper.h"

namespace device::binding {

// Each reader takes an int-kind object (pycompat::ReadIntKind) by the int rule,
// and any other int or long by the long rule, whose failures are mismatches.

Load LoadUnsigned32(PyObject* object, unsigned long& value) {
  long number = 0;
  if (pycompat::ReadIntKind(object, &number)) {
    // An int past 32 bits is a long on a 32-bit host, whose failure is a mismatch.
    if (number < 0) return Load::kOverflow;
    if (static_cast<unsigned long>(number) > 0xFFFFFFFFul) return Load::kMismatch;
    value = static_cast<unsigned long>(number);
    return Load::kOk;
  }
  if (PyLong_Check(object)) {
    const unsigned long wide = PyLong_AsUnsignedLong(object);
    if (PyErr_Occurred() || wide > 0xFFFFFFFFul) {
      PyErr_Clear();
      return Load::kMismatch;
    }
    value = wide;
    return Load::kOk;
  }
  return Load::kMismatch;
}

Load LoadSigned32(PyObject* object, long& value) {
  long number = 0;
  if (pycompat::ReadIntKind(object, &number)) {
    if (number < INT_MIN || number > INT_MAX) return Load::kMismatch;
    value = number;
    return Load::kOk;
  }
  if (PyLong_Check(object)) {
    number = PyLong_AsLong(object);
    if (PyErr_Occurred() || number < INT_MIN || number > INT_MAX) {
      PyErr_Clear();
      return Load::kMismatch;
    }
    value = number;
    return Load::kOk;
  }
  return Load::kMismatch;
}

Load LoadUnsigned64(PyObject* object, unsigned long long& value) {
  long number = 0;
  if (pycompat::ReadIntKind(object, &number)) {
    if (number < 0) return Load::kOverflow;
    value = static_cast<unsigned long long>(number);
    return Load::kOk;
  }
  if (PyLong_Check(object)) {
    const unsigned long long wide = PyLong_AsUnsignedLongLong(object);
    if (PyErr_Occurred()) {
      PyErr_Clear();
      return Load::kMismatch;
    }
    value = wide;
    return Load::kOk;
  }
  return Load::kMismatch;
}

Load LoadSigned64(PyObject* object, long long& value) {
  long small = 0;
  if (pycompat::ReadIntKind(object, &small)) {
    value = small;
    return Load::kOk;
  }
  if (PyLong_Check(object)) {
    const long long number = PyLong_AsLongLong(object);
    if (PyErr_Occurred()) {
      PyErr_Clear();
      return Load::kMismatch;
    }
    value = number;
    return Load::kOk;
  }
  return Load::kMismatch;
}

Load ArgByte::From(PyObject* object, BYTE& value) {
  unsigned long number = 0;
  const Load result = LoadUnsigned32(object, number);
  if (result != Load::kOk) return result;
  if (number > 255) return Load::kOverflow;
  value = static_cast<BYTE>(number);
  return Load::kOk;
}

Load ArgBool::From(PyObject* object, bool& value) {
  if (object == Py_True || object == Py_False) {
    value = object == Py_True;
    return Load::kOk;
  }
  long number = 0;
  const Load result = LoadSigned32(object, number);
  value = number != 0;
  return result;
}

Load ArgUnicode::From(PyObject* object, std::u16string& value) {
  if (!PyUnicode_Check(object)) return Load::kMismatch;
  value = pycompat::Utf16FromUnicode(object);
  return Load::kOk;
}

Load ArgVoidPointer::From(PyObject* object, void*& value) {
  return ConvertToAddress(object, nullptr, &value) ? Load::kOk : Load::kMismatch;
}

}  // namespace device::binding
