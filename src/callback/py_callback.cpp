#include "callback/py_callback.h"

#include <windows.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>

#include "python/gil.h"

namespace device {
namespace {

PyObject* NewNone() {
  Py_INCREF(Py_None);
  return Py_None;
}

PyObject* FromUtf16(const WCHAR* text) {
  return text == nullptr ? NewNone() : pycompat::UnicodeFromUtf16(text);
}

PyObject* FromUnsigned(unsigned long value) {
  return value <= static_cast<unsigned long>(LONG_MAX) ? pycompat::IntFromLong(static_cast<long>(value))
                                                       : PyLong_FromUnsignedLong(value);
}

// Py_VaBuildValue cannot take UTF-16 (the host's unicode holds UCS4 or
// Python 3's own forms), and its "s" is text on Python 3: a format with "u",
// "s" or "z" is built here, "s" and "z" as byte strings (str on Python 2,
// bytes on Python 3). It is a flat list of codes, optionally in one pair of
// parentheses: u, s, z, i, I, l, k and O, with Py_BuildValue's meanings otherwise.
PyObject* BuildWithText(const char* format, va_list values) {
  std::string_view codes(format);
  if (codes.size() >= 2 && codes.front() == '(' && codes.back() == ')') codes = codes.substr(1, codes.size() - 2);
  std::vector<PyObject*> items;
  va_list own;
  va_copy(own, values);
  bool built = true;
  for (const char code : codes) {
    PyObject* item = nullptr;
    switch (code) {
      case 'u':
        item = FromUtf16(va_arg(own, const WCHAR*));
        break;
      case 's':
      case 'z': {
        const char* text = va_arg(own, const char*);
        item = text == nullptr ? NewNone() : PyBytes_FromString(text);
        break;
      }
      case 'i':
        item = pycompat::IntFromLong(va_arg(own, int));
        break;
      case 'I':
        item = FromUnsigned(va_arg(own, unsigned int));
        break;
      case 'l':
        item = pycompat::IntFromLong(va_arg(own, long));
        break;
      case 'k':
        item = FromUnsigned(va_arg(own, unsigned long));
        break;
      case 'O':
        item = va_arg(own, PyObject*);
        if (item == nullptr) {
          PyErr_SetString(PyExc_SystemError, "NULL object passed to a callback format");
        } else {
          Py_INCREF(item);
        }
        break;
      default:
        PyErr_Format(PyExc_SystemError, "bad format char '%c' in a callback format with text", code);
        break;
    }
    if (item == nullptr) {
      built = false;
      break;
    }
    items.push_back(item);
  }
  va_end(own);
  PyObject* tuple = built ? PyTuple_New(static_cast<Py_ssize_t>(items.size())) : nullptr;
  for (size_t i = 0; i < items.size(); ++i) {
    if (tuple != nullptr) {
      PyTuple_SET_ITEM(tuple, static_cast<Py_ssize_t>(i), items[i]);
    } else {
      Py_DECREF(items[i]);
    }
  }
  return tuple;
}

}  // namespace

PyCallback::PyCallback() : callable_(nullptr) { pycompat::InitThreads(); }

PyCallback::~PyCallback() { SetCallback(nullptr); }

void PyCallback::SetCallback(PyObject* callable) {
  // The old callable goes last: its release may run Python code that sets another.
  PyObject* old = callable_.exchange(nullptr);
  if (callable != nullptr && callable != Py_None) {
    Py_INCREF(callable);
    callable_ = callable;
  }
  Py_XDECREF(old);
}

void PyCallback::Call(const char* format, ...) {
  if (callable_ == nullptr) return;
  // Whether there is still something to call is known only under the lock:
  // another thread may drop the callable while this one waits for it.
  GilEnsureGuard lock;
  va_list values;
  va_start(values, format);
  PyObject* result = Invoke(format, values);
  va_end(values);
  Py_XDECREF(result);
}

PyObject* PyCallback::Invoke(const char* format, va_list values) {
  PyObject* arguments = nullptr;
  if (format != nullptr && *format != 0) {
    char wrapped[4];
    const char* used = format;
    if (format[1] == 0) {
      std::snprintf(wrapped, sizeof wrapped, "(%c)", format[0]);
      used = wrapped;
    }
    arguments = std::strpbrk(used, "usz") != nullptr ? BuildWithText(used, values) : Py_VaBuildValue(used, values);
    if (arguments == nullptr) {
      PyErr_Print();
      return nullptr;
    }
  }
  PyObject* callable = callable_;  // set again or cleared while a call runs, it stays alive for the call
  PyObject* result = nullptr;
  if (callable != nullptr) {
    Py_INCREF(callable);
    result = PyObject_CallObject(callable, arguments);
    Py_DECREF(callable);
  }
  Py_XDECREF(arguments);
  if (PyErr_Occurred() != nullptr) PyErr_Print();
  return result;
}

}  // namespace device
