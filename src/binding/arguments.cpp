#include "binding/arguments.h"

#include <climits>

#include "binding/wrapper.h"
#include "common/wide_text.h"

namespace device::binding {

Load LoadUnsigned32(PyObject* object, unsigned long& value) {
  if (PyInt_Check(object)) {
    // An int past 32 bits is a long on a 32-bit host, whose failure is a mismatch.
    const long number = PyInt_AsLong(object);
    if (number < 0) return Load::kOverflow;
    if (static_cast<unsigned long>(number) > 0xFFFFFFFFul) return Load::kMismatch;
    value = static_cast<unsigned long>(number);
    return Load::kOk;
  }
  if (PyLong_Check(object)) {
    const unsigned long number = PyLong_AsUnsignedLong(object);
    if (PyErr_Occurred() || number > 0xFFFFFFFFul) {
      PyErr_Clear();
      return Load::kMismatch;
    }
    value = number;
    return Load::kOk;
  }
  return Load::kMismatch;
}

Load LoadSigned32(PyObject* object, long& value) {
  if (PyInt_Check(object)) {
    const long number = PyInt_AsLong(object);
    if (number < INT_MIN || number > INT_MAX) return Load::kMismatch;
    value = number;
    return Load::kOk;
  }
  if (PyLong_Check(object)) {
    const long number = PyLong_AsLong(object);
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
  if (PyInt_Check(object)) {
    const long number = PyInt_AsLong(object);
    if (number < 0) return Load::kOverflow;
    value = static_cast<unsigned long long>(number);
    return Load::kOk;
  }
  if (PyLong_Check(object)) {
    const unsigned long long number = PyLong_AsUnsignedLongLong(object);
    if (PyErr_Occurred()) {
      PyErr_Clear();
      return Load::kMismatch;
    }
    value = number;
    return Load::kOk;
  }
  return Load::kMismatch;
}

Load LoadSigned64(PyObject* object, long long& value) {
  if (PyInt_Check(object)) {
    value = PyInt_AsLong(object);
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
  value = Utf16FromUcs4(PyUnicode_AS_UNICODE(object), static_cast<size_t>(PyUnicode_GET_SIZE(object)));
  return Load::kOk;
}

Load ArgVoidPointer::From(PyObject* object, void*& value) {
  return ConvertToAddress(object, nullptr, &value) ? Load::kOk : Load::kMismatch;
}

}  // namespace device::binding

