// _w32: the host face of w32 for Python applications and tests.
#include "python/python_compat.h"
#include <dbt.h>

#include <chrono>

#include "host/host.h"
#include "python/windows_error.h"

namespace {

using Clock = std::chrono::steady_clock;

// An int or long argument within 0..limit; raises TypeError or OverflowError naming it.
bool ToUnsigned(PyObject* object, unsigned long limit, const char* name, unsigned long* value) {
  if (!pycompat::IsInteger(object)) {
    PyErr_Format(PyExc_TypeError, "%s must be an integer", name);
    return false;
  }
  const unsigned long converted = PyLong_AsUnsignedLong(object);
  if (PyErr_Occurred() != nullptr || converted > limit) {
    PyErr_Clear();
    PyErr_Format(PyExc_OverflowError, "%s must be between 0 and %lu", name, limit);
    return false;
  }
  *value = converted;
  return true;
}

template <class T>
PyObject* ListOf(const std::vector<T>& values, PyObject* (*make)(const T&)) {
  PyObject* list = PyList_New(static_cast<Py_ssize_t>(values.size()));
  if (list == nullptr) return nullptr;
  for (size_t i = 0; i < values.size(); ++i) {
    PyObject* item = make(values[i]);
    if (item == nullptr) {
      Py_DECREF(list);
      return nullptr;
    }
    PyList_SET_ITEM(list, static_cast<Py_ssize_t>(i), item);
  }
  return list;
}

PyObject* FromLresult(const LRESULT& value) { return pycompat::IntFromLong(value); }

PyObject* FromInput(const INPUT& input) {
  switch (input.type) {
    case INPUT_MOUSE:
      return Py_BuildValue("(kllkk)", static_cast<unsigned long>(input.type), static_cast<long>(input.mi.dx),
                           static_cast<long>(input.mi.dy), static_cast<unsigned long>(input.mi.mouseData),
                           static_cast<unsigned long>(input.mi.dwFlags));
    case INPUT_KEYBOARD:
      return Py_BuildValue("(kiik)", static_cast<unsigned long>(input.type), input.ki.wVk, input.ki.wScan,
                           static_cast<unsigned long>(input.ki.dwFlags));
    default:
      return Py_BuildValue("(kkii)", static_cast<unsigned long>(input.type),
                           static_cast<unsigned long>(input.hi.uMsg), input.hi.wParamL, input.hi.wParamH);
  }
}

// A broadcast's answers; it runs without the interpreter lock: the windows'
// threads may need it.
template <class Broadcast>
PyObject* AnswersOf(Broadcast broadcast) {
  std::vector<LRESULT> answers;
  Py_BEGIN_ALLOW_THREADS
  answers = broadcast();
  Py_END_ALLOW_THREADS
  return ListOf(answers, &FromLresult);
}

PyObject* PumpMessages(PyObject*, PyObject* args) {
  PyObject* timeout_object = nullptr;
  if (!PyArg_UnpackTuple(args, "PumpMessages", 0, 1, &timeout_object)) return nullptr;
  unsigned long timeout_ms = 0;
  if (timeout_object != nullptr && !ToUnsigned(timeout_object, INFINITE - 1, "timeout_ms", &timeout_ms)) {
    return nullptr;
  }
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  w32::host::Dispatched dispatched;
  while (true) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    w32::host::WaitResult waited;
    Py_BEGIN_ALLOW_THREADS
    waited = w32::host::WaitForMessages(static_cast<DWORD>(left > 0 ? left : 0));
    if (waited == w32::host::WaitResult::kReady) dispatched = w32::host::DispatchQueued(true);
    Py_END_ALLOW_THREADS
    if (waited != w32::host::WaitResult::kInterrupted) break;
    if (PyErr_CheckSignals() < 0) return nullptr;
  }
  return pycompat::IntFromSize(dispatched.count);
}

PyObject* RunMessageLoop(PyObject*, PyObject*) {
  while (true) {
    w32::host::WaitResult waited;
    w32::host::Dispatched dispatched;
    Py_BEGIN_ALLOW_THREADS
    waited = w32::host::WaitForMessages(INFINITE);
    if (waited == w32::host::WaitResult::kReady) dispatched = w32::host::DispatchQueued(false);
    Py_END_ALLOW_THREADS
    if (dispatched.quit) return pycompat::IntFromLong(dispatched.quit_code);
    if (waited == w32::host::WaitResult::kInterrupted && PyErr_CheckSignals() < 0) return nullptr;
  }
}

PyObject* PostQuit(PyObject*, PyObject* args) {
  int code = 0;
  if (!PyArg_ParseTuple(args, "i:PostQuitMessage", &code)) return nullptr;
  PostQuitMessage(code);
  Py_RETURN_NONE;
}

PyObject* QueueFd(PyObject*, PyObject*) {
  const int fd = w32::host::QueueFd();
  if (fd < 0) {
    PyErr_SetString(PyExc_OSError, "this thread's message queue has no descriptor");
    return nullptr;
  }
  return pycompat::IntFromLong(fd);
}

PyObject* BroadcastDeviceChange(PyObject*, PyObject* args) {
  PyObject* objects[3] = {};
  if (!PyArg_UnpackTuple(args, "BroadcastDeviceChange", 3, 3, &objects[0], &objects[1], &objects[2])) return nullptr;
  unsigned long event = 0;
  unsigned long unitmask = 0;
  unsigned long flags = 0;
  if (!ToUnsigned(objects[0], 0xFFFFFFFFul, "event", &event) ||
      !ToUnsigned(objects[1], 0xFFFFFFFFul, "unitmask", &unitmask) ||
      !ToUnsigned(objects[2], 0xFFFFul, "flags", &flags)) {
    return nullptr;
  }
  DEV_BROADCAST_VOLUME volume{};
  volume.dbcv_size = sizeof volume;
  volume.dbcv_devicetype = DBT_DEVTYP_VOLUME;
  volume.dbcv_unitmask = static_cast<DWORD>(unitmask);
  volume.dbcv_flags = static_cast<WORD>(flags);
  return AnswersOf([&] { return w32::host::BroadcastRecord(WM_DEVICECHANGE, event, &volume, sizeof volume); });
}

PyObject* BroadcastPowerEvent(PyObject*, PyObject* args) {
  PyObject* event_object = nullptr;
  if (!PyArg_UnpackTuple(args, "BroadcastPowerEvent", 1, 1, &event_object)) return nullptr;
  unsigned long event = 0;
  if (!ToUnsigned(event_object, 0xFFFFFFFFul, "event", &event)) return nullptr;
  return AnswersOf([&] { return w32::host::Broadcast(WM_POWERBROADCAST, event); });
}

PyObject* TakeDebugOutput(PyObject*, PyObject*) {
  return ListOf<std::u16string>(w32::host::TakeDebugOutput(),
                                [](const std::u16string& text) { return pycompat::UnicodeFromUtf16(text); });
}

PyObject* ExecutionState(PyObject*, PyObject*) {
  return pycompat::IntFromLong(static_cast<long>(w32::host::HeldExecutionState()));
}

PyObject* TakeSentInput(PyObject*, PyObject*) { return ListOf(w32::host::TakeSentInput(), &FromInput); }

PyObject* CoInitializeHost(PyObject*, PyObject*) { return pycompat::IntFromLong(CoInitialize(nullptr)); }

PyObject* CoUninitializeHost(PyObject*, PyObject*) {
  CoUninitialize();
  Py_RETURN_NONE;
}

PyMethodDef kMethods[] = {
    {"PumpMessages", PumpMessages, METH_VARARGS,
     "PumpMessages(timeout_ms=0) -> int: dispatches the messages queued for this thread, waiting up to\n"
     "timeout_ms for the first (without the interpreter lock); returns how many were dispatched.\n"
     "A WM_QUIT stays queued."},
    {"RunMessageLoop", RunMessageLoop, METH_NOARGS,
     "RunMessageLoop() -> int: the message loop of this thread until WM_QUIT; returns its code."},
    {"PostQuitMessage", PostQuit, METH_VARARGS, "PostQuitMessage(code): ends this thread's message loop."},
    {"QueueFd", QueueFd, METH_NOARGS,
     "QueueFd() -> int: a descriptor readable while this thread's queue holds messages or a timer is due,\n"
     "for select, poll and asyncio's add_reader."},
    {"BroadcastDeviceChange", BroadcastDeviceChange, METH_VARARGS,
     "BroadcastDeviceChange(event, unitmask, flags) -> list: sends WM_DEVICECHANGE with a volume record to\n"
     "every top-level window; returns their answers."},
    {"BroadcastPowerEvent", BroadcastPowerEvent, METH_VARARGS,
     "BroadcastPowerEvent(event) -> list: sends WM_POWERBROADCAST to every top-level window; returns their\n"
     "answers."},
    {"TakeDebugOutput", TakeDebugOutput, METH_NOARGS,
     "TakeDebugOutput() -> list of unicode (str on Python 3): the debugger output written since the last call."},
    {"ExecutionState", ExecutionState, METH_NOARGS,
     "ExecutionState() -> int: the ES_ requirements that SetThreadExecutionState holds, of all threads."},
    {"TakeSentInput", TakeSentInput, METH_NOARGS,
     "TakeSentInput() -> list of tuples: the SendInput records since the last call; (type, dx, dy,\n"
     "mouseData, flags) for the mouse, (type, vk, scan, flags) for the keyboard."},
    {"CoInitialize", CoInitializeHost, METH_NOARGS,
     "CoInitialize() -> int: initialises COM on this thread (a single-threaded apartment); returns the HRESULT."},
    {"CoUninitialize", CoUninitializeHost, METH_NOARGS,
     "CoUninitialize(): undoes one successful CoInitialize of this thread."},
    {nullptr, nullptr, 0, nullptr},
};

pycompat::ModuleDefinition module_definition{"_w32", "The host face of the w32 platform layer.", kMethods};

PyObject* MakeModule() {
  PyObject* module = pycompat::CreateModule(module_definition);
  if (module != nullptr && pycompat::WindowsErrorType() == nullptr) Py_CLEAR(module);
  return module;
}

}  // namespace

DEVICE_MODULE_INIT(_w32, MakeModule)
