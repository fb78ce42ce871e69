// _w32: the host face of w32 for Python applications and tests.
#include <Python.h>

#include "host/host.h"
#include "python/windows_error.h"

namespace {

PyObject* FromUtf16(const std::u16string& text) {
  int byteorder = -1;  // little-endian, as char16_t is in memory here
  return PyUnicode_DecodeUTF16(reinterpret_cast<const char*>(text.data()),
                               static_cast<Py_ssize_t>(text.size() * 2), "replace", &byteorder);
}

PyObject* TakeDebugOutput(PyObject*, PyObject*) {
  const std::vector<std::u16string> lines = w32::host::TakeDebugOutput();
  PyObject* list = PyList_New(static_cast<Py_ssize_t>(lines.size()));
  if (list == nullptr) return nullptr;
  for (size_t i = 0; i < lines.size(); ++i) {
    PyObject* item = FromUtf16(lines[i]);
    if (item == nullptr) {
      Py_DECREF(list);
      return nullptr;
    }
    PyList_SET_ITEM(list, static_cast<Py_ssize_t>(i), item);
  }
  return list;
}

PyMethodDef kMethods[] = {
    {"TakeDebugOutput", TakeDebugOutput, METH_NOARGS,
     "TakeDebugOutput() -> list of unicode: the debugger output written since the last call."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

PyMODINIT_FUNC __attribute__((visibility("default"))) init_w32(void) {
  if (Py_InitModule4("_w32", kMethods, "The host face of the w32 platform layer.", nullptr, PYTHON_API_VERSION) == nullptr) return;
  w32::python::WindowsErrorType();
}
