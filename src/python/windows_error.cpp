#include "python/windows_error.h"

namespace pycompat {
namespace {

// The Windows host's class: args stay (winerror, strerror), errno is the C
// library's code for the Windows error, str shows the Windows code.
// The same source for Python 2 and 3; _exceptions_module names the module of
// the built-in exceptions.
const char kWindowsErrorSource[] =
    "_integers = (int, __builtins__.get('long', int))\n"
    "_errno_of = {2: 2, 3: 2, 4: 24, 5: 13, 6: 9, 8: 12, 14: 12, 18: 2, 32: 13, 53: 2,\n"
    "             80: 17, 87: 22, 123: 2, 160: 22, 161: 2, 183: 17, 206: 2}\n"
    "class WindowsError(OSError):\n"
    "    def __init__(self, *args):\n"
    "        OSError.__init__(self, *args)\n"
    "        self.winerror = None\n"
    "        if 2 <= len(args) <= 3 and isinstance(args[0], _integers):\n"
    "            self.winerror = args[0]\n"
    "            self.errno = _errno_of.get(args[0], 22)\n"
    "    def __str__(self):\n"
    "        if self.winerror is None or self.strerror is None:\n"
    "            return OSError.__str__(self)\n"
    "        if self.filename is not None:\n"
    "            return '[Error %s] %s: %r' % (self.winerror, self.strerror, self.filename)\n"
    "        return '[Error %s] %s' % (self.winerror, self.strerror)\n"
    "WindowsError.__module__ = _exceptions_module\n";

PyObject* MakeWindowsError() {
  PyObject* globals = PyDict_New();
  if (globals == nullptr) return nullptr;
  PyDict_SetItemString(globals, "__builtins__", PyEval_GetBuiltins());
  PyObject* module_name = pycompat::TextFromString(pycompat::kExceptionsModule);
  if (module_name == nullptr || PyDict_SetItemString(globals, "_exceptions_module", module_name) != 0) {
    Py_XDECREF(module_name);
    Py_DECREF(globals);
    return nullptr;
  }
  Py_DECREF(module_name);
  PyObject* done = PyRun_String(kWindowsErrorSource, Py_file_input, globals, globals);
  PyObject* type = nullptr;
  if (done != nullptr) {
    type = PyDict_GetItemString(globals, "WindowsError");
    Py_XINCREF(type);
  }
  Py_XDECREF(done);
  Py_DECREF(globals);
  return type;
}

// The platform's message texts, without their final period.
const char* MessageText(DWORD code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND: return "The system cannot find the file specified";
    case ERROR_PATH_NOT_FOUND: return "The system cannot find the path specified";
    case ERROR_ACCESS_DENIED: return "Access is denied";
    case ERROR_INVALID_HANDLE: return "The handle is invalid";
    case ERROR_NOT_ENOUGH_MEMORY: return "Not enough storage is available to process this command";
    case ERROR_INVALID_PARAMETER: return "The parameter is incorrect";
    case ERROR_BAD_ARGUMENTS: return "One or more arguments are not correct";
    case ERROR_ALREADY_EXISTS: return "Cannot create a file when that file already exists";
    default: return "Unknown error";
  }
}

}  // namespace

PyObject* WindowsErrorType() {
  static PyObject* type = nullptr;
  if (type != nullptr) return type;
  PyObject* builtins = PyEval_GetBuiltins();
  if (builtins == nullptr) return nullptr;
  type = PyDict_GetItemString(builtins, "WindowsError");
  if (type != nullptr) {
    Py_INCREF(type);
    return type;
  }
  type = MakeWindowsError();
  if (type == nullptr) return nullptr;
  PyDict_SetItemString(builtins, "WindowsError", type);
  // Where its module says it lives, so that pickling finds it.
  if (PyObject* exceptions = PyImport_ImportModule(pycompat::kExceptionsModule)) {
    PyObject_SetAttrString(exceptions, "WindowsError", type);
    Py_DECREF(exceptions);
  } else {
    PyErr_Clear();
  }
  return type;
}

PyObject* SetWindowsError(DWORD code) {
  PyObject* type = WindowsErrorType();
  if (type == nullptr) return nullptr;
  PyObject* value = Py_BuildValue("(ks)", static_cast<unsigned long>(code), MessageText(code));
  if (value != nullptr) {
    PyErr_SetObject(type, value);
    Py_DECREF(value);
  }
  return nullptr;
}

}  // namespace pycompat
