// _trivial: the smallest extension module, the reference for import time.
#include <Python.h>

namespace {
PyMethodDef functions[] = {{nullptr, nullptr, 0, nullptr}};
}

PyMODINIT_FUNC __attribute__((visibility("default"))) init_trivial(void) {
  Py_InitModule4("_trivial", functions, nullptr, nullptr, PYTHON_API_VERSION);
}
