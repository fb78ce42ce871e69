// _bridge_bench: a callback window whose callable gets the time each message
// was posted, and a native worker (no Python state) that posts them.
#include "python/python_compat.h"
#include <windows.h>

#include <chrono>
#include <memory>
#include <thread>

#include "callback/py_callback_wnd.h"

namespace {

long long Now() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Calls the callable with the posting time carried in wParam.
class StampWindow : public device::PyCallbackWnd {
 public:
  LRESULT WndProc(UINT message, WPARAM wparam, LPARAM lparam) override {
    if (message != WM_APP) return PyCallbackWnd::WndProc(message, wparam, lparam);
    Call("(L)", static_cast<long long>(wparam));
    return 0;
  }
};

std::unique_ptr<StampWindow> window;
std::thread poster;

PyObject* BenchNow(PyObject*, PyObject*) { return PyLong_FromLongLong(Now()); }

// Open(callable): the window, on the calling thread.
PyObject* Open(PyObject*, PyObject* args) {
  PyObject* callable = nullptr;
  if (!PyArg_ParseTuple(args, "O:Open", &callable)) return nullptr;
  window = std::make_unique<StampWindow>();
  window->SetCallback(callable);
  Py_RETURN_NONE;
}

// StartPoster(count, interval_us): posts count stamped messages, one per interval.
PyObject* StartPoster(PyObject*, PyObject* args) {
  int count = 0;
  int interval_us = 0;
  if (!PyArg_ParseTuple(args, "ii:StartPoster", &count, &interval_us)) return nullptr;
  if (window == nullptr || poster.joinable()) return PyErr_Format(PyExc_RuntimeError, "no window, or a poster runs");
  const HWND target = window->window();
  poster = std::thread([target, count, interval_us] {
    for (int i = 0; i < count; ++i) {
      PostMessageW(target, WM_APP, static_cast<WPARAM>(Now()), 0);
      std::this_thread::sleep_for(std::chrono::microseconds(interval_us));
    }
  });
  Py_RETURN_NONE;
}

PyObject* Close(PyObject*, PyObject*) {
  if (poster.joinable()) {
    Py_BEGIN_ALLOW_THREADS
    poster.join();
    Py_END_ALLOW_THREADS
  }
  window.reset();
  Py_RETURN_NONE;
}

PyMethodDef kMethods[] = {
    {"Now", BenchNow, METH_NOARGS, "Now() -> int: the monotonic clock in nanoseconds."},
    {"Open", Open, METH_VARARGS, "Open(callable): a stamp window on this thread."},
    {"StartPoster", StartPoster, METH_VARARGS, "StartPoster(count, interval_us): a native poster thread."},
    {"Close", Close, METH_NOARGS, "Close(): joins the poster and destroys the window."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

namespace {

pycompat::ModuleDefinition module_definition{"_bridge_bench", nullptr, kMethods};

PyObject* MakeModule() { return pycompat::CreateModule(module_definition); }

}  // namespace

DEVICE_MODULE_INIT(_bridge_bench, MakeModule)
