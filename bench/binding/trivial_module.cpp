// _trivial: the smallest extension module, the reference for import time.
#include "python/python_compat.h"

namespace {

PyMethodDef functions[] = {{nullptr, nullptr, 0, nullptr}};
pycompat::ModuleDefinition module_definition{"_trivial", nullptr, functions};

PyObject* MakeModule() { return pycompat::CreateModule(module_definition); }

}  // namespace

DEVICE_MODULE_INIT(_trivial, MakeModule)
