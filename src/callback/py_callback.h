#pragma once
// Holds a Python callable and calls it with values built from a format, under
// the interpreter lock, from whatever thread the event arrives on.
#include "python/python_compat.h"

#include <atomic>
#include <cstdarg>

namespace device {

class PyCallback {
 public:
  // Makes sure the interpreter is ready for calls from other threads.
  PyCallback();
  virtual ~PyCallback();
  PyCallback(const PyCallback&) = delete;
  PyCallback& operator=(const PyCallback&) = delete;

  // Holds a reference to the callable; null or None clears it. Called with
  // the interpreter lock held.
  void SetCallback(PyObject* callable);

  // Calls the callable, if one is set, with the values the format describes,
  // as Py_BuildValue reads them, except that "u" takes a zero-terminated UTF-16
  // string (const WCHAR*) and "s" always makes a byte string (bytes on Python
  // 3). A one-character format still makes a one-element tuple. The result
  // is dropped; an exception is printed and cleared.
  //
  // The callable may destroy the object that calls it: after Call returns,
  // the caller must not touch the object unless it knows it still lives.
  void Call(const char* format, ...);

 protected:
  // The call itself, with the interpreter lock held. A new reference to the
  // result, or null after an error, which is printed. When the arguments
  // cannot be built, the callable is not called.
  PyObject* Invoke(const char* format, va_list values);

  // Written under the interpreter lock; read without it only to skip a call
  // when there is nothing to call.
  std::atomic<PyObject*> callable_;
};

}  // namespace device
