// _callback_peer: callback windows with callables of the tests' own (an Echo,
// a PyCallbackWnd that calls its callable with every message from WM_APP up,
// and a DectorCallback), and the native threads the tests need.
#include "python/python_compat.h"
#include <windows.h>

#include <set>
#include <string>
#include <thread>

#include "callback/py_callback_wnd.h"
#include "detector/dector_callback.h"

namespace {

class Echo : public device::PyCallbackWnd {
 public:
  LRESULT WndProc(UINT message, WPARAM wparam, LPARAM lparam) override {
    if (message < WM_APP) return PyCallbackWnd::WndProc(message, wparam, lparam);
    Call("(Ikl)", message, static_cast<unsigned long>(wparam), static_cast<long>(lparam));
    return 1;  // nothing of the object is touched after the call
  }
  void CallWith(const char* which);
};

std::set<device::PyCallbackWnd*> live;

void Echo::CallWith(const char* which) {
  const std::string name(which);
  if (name == "i") {
    Call("i", 5);
  } else if (name == "sss") {
    Call("sss", "DISC_CHANGE", "ARRIVE", "E");
  } else if (name == "uuuu") {
    Call("uuuu", u"C:\\M\u00fcsic", u"Rename", u"\U0001F600.mp3", u"");
  } else if (name == "(ii)") {
    Call("(ii)", 1, 2);
  } else if (name == "") {
    Call("");
  } else if (name == "null") {
    Call(nullptr);
  } else if (name == "bad") {
    Call("(uq)", u"x", 1);
  } else {
    PyErr_Format(PyExc_ValueError, "no call named %s", which);
  }
}

bool ToObject(PyObject* object, device::PyCallbackWnd** found) {
  auto* address = static_cast<device::PyCallbackWnd*>(PyLong_AsVoidPtr(object));
  if (PyErr_Occurred() != nullptr) return false;
  if (live.count(address) == 0) {
    PyErr_SetString(PyExc_ValueError, "no such object");
    return false;
  }
  *found = address;
  return true;
}

bool ToEcho(PyObject* object, Echo** echo) {
  device::PyCallbackWnd* found = nullptr;
  if (!ToObject(object, &found)) return false;
  *echo = dynamic_cast<Echo*>(found);
  if (*echo == nullptr) PyErr_SetString(PyExc_TypeError, "not an Echo");
  return *echo != nullptr;
}

HWND ToWindow(PyObject* object) { return static_cast<HWND>(PyLong_AsVoidPtr(object)); }

// Create(kind, callable=None): kind "echo" or "dector".
PyObject* Create(PyObject*, PyObject* args) {
  const char* kind = nullptr;
  PyObject* callable = Py_None;
  if (!PyArg_ParseTuple(args, "s|O:Create", &kind, &callable)) return nullptr;
  device::PyCallbackWnd* object = nullptr;
  if (std::string(kind) == "echo") {
    object = new Echo;
  } else if (std::string(kind) == "dector") {
    object = new device::DectorCallback;
  } else {
    return PyErr_Format(PyExc_ValueError, "no kind %s", kind);
  }
  object->SetCallback(callable);
  live.insert(object);
  return PyLong_FromVoidPtr(object);
}

PyObject* Destroy(PyObject*, PyObject* args) {
  PyObject* handle = nullptr;
  device::PyCallbackWnd* object = nullptr;
  if (!PyArg_ParseTuple(args, "O:Destroy", &handle) || !ToObject(handle, &object)) return nullptr;
  live.erase(object);
  delete object;
  Py_RETURN_NONE;
}

PyObject* SetCallback(PyObject*, PyObject* args) {
  PyObject* handle = nullptr;
  PyObject* callable = nullptr;
  device::PyCallbackWnd* object = nullptr;
  if (!PyArg_ParseTuple(args, "OO:SetCallback", &handle, &callable) || !ToObject(handle, &object)) return nullptr;
  object->SetCallback(callable);
  Py_RETURN_NONE;
}

PyObject* Window(PyObject*, PyObject* args) {
  PyObject* handle = nullptr;
  device::PyCallbackWnd* object = nullptr;
  if (!PyArg_ParseTuple(args, "O:Window", &handle) || !ToObject(handle, &object)) return nullptr;
  return PyLong_FromVoidPtr(object->window());
}

// The object's WndProc called directly, as DectorCallback_WndProc does.
PyObject* WndProc(PyObject*, PyObject* args) {
  PyObject* handle = nullptr;
  unsigned int message = 0;
  unsigned long wparam = 0;
  long lparam = 0;
  device::PyCallbackWnd* object = nullptr;
  if (!PyArg_ParseTuple(args, "OIkl:WndProc", &handle, &message, &wparam, &lparam) || !ToObject(handle, &object)) {
    return nullptr;
  }
  return pycompat::IntFromLong(object->WndProc(message, wparam, lparam));
}

PyObject* CallWith(PyObject*, PyObject* args) {
  PyObject* handle = nullptr;
  const char* which = nullptr;
  Echo* echo = nullptr;
  if (!PyArg_ParseTuple(args, "Os:CallWith", &handle, &which) || !ToEcho(handle, &echo)) return nullptr;
  echo->CallWith(which);
  if (PyErr_Occurred() != nullptr) return nullptr;
  Py_RETURN_NONE;
}

PyObject* Post(PyObject*, PyObject* args) {
  PyObject* hwnd = nullptr;
  unsigned int message = 0;
  unsigned long wparam = 0;
  long lparam = 0;
  if (!PyArg_ParseTuple(args, "OIkl:Post", &hwnd, &message, &wparam, &lparam)) return nullptr;
  return PyBool_FromLong(PostMessageW(ToWindow(hwnd), message, wparam, lparam));
}

// Posts count messages, wParam 0 to count - 1, from a thread without Python state.
PyObject* PostFromThread(PyObject*, PyObject* args) {
  PyObject* hwnd = nullptr;
  unsigned int message = 0;
  unsigned long count = 0;
  if (!PyArg_ParseTuple(args, "OIk:PostFromThread", &hwnd, &message, &count)) return nullptr;
  const HWND window = ToWindow(hwnd);
  unsigned long posted = 0;
  Py_BEGIN_ALLOW_THREADS
  std::thread([&] {
    for (unsigned long i = 0; i < count; ++i) posted += PostMessageW(window, message, i, 0) ? 1 : 0;
  }).join();
  Py_END_ALLOW_THREADS
  return pycompat::IntFromLong(static_cast<long>(posted));
}

// Calls the callable count times from a thread without Python state.
PyObject* CallFromThread(PyObject*, PyObject* args) {
  PyObject* handle = nullptr;
  int count = 0;
  device::PyCallbackWnd* object = nullptr;
  if (!PyArg_ParseTuple(args, "Oi:CallFromThread", &handle, &count) || !ToObject(handle, &object)) return nullptr;
  Py_BEGIN_ALLOW_THREADS
  std::thread([&] {
    for (int i = 0; i < count; ++i) object->Call("i", i);
  }).join();
  Py_END_ALLOW_THREADS
  Py_RETURN_NONE;
}

PyMethodDef kMethods[] = {
    {"Create", Create, METH_VARARGS, nullptr},
    {"Destroy", Destroy, METH_VARARGS, nullptr},
    {"SetCallback", SetCallback, METH_VARARGS, nullptr},
    {"Window", Window, METH_VARARGS, nullptr},
    {"WndProc", WndProc, METH_VARARGS, nullptr},
    {"CallWith", CallWith, METH_VARARGS, nullptr},
    {"Post", Post, METH_VARARGS, nullptr},
    {"PostFromThread", PostFromThread, METH_VARARGS, nullptr},
    {"CallFromThread", CallFromThread, METH_VARARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

pycompat::ModuleDefinition module_definition{"_callback_peer", nullptr, kMethods};

PyObject* MakeModule() { return pycompat::CreateModule(module_definition); }

}  // namespace

DEVICE_MODULE_INIT(_callback_peer, MakeModule)
