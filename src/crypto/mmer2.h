#pragma once
// MMer2: protection of Python byte strings by the platform's data protection,
// bound to the machine (CRYPTPROTECT_LOCAL_MACHINE): any user of the machine
// can open what Encode made, no other machine can.
#include "python/python_compat.h"

namespace device {

class MMer2 {
 public:
  MMer2();
  virtual ~MMer2();
  MMer2(const MMer2&) = delete;
  MMer2& operator=(const MMer2&) = delete;

  // A byte string (str; bytes on Python 3; on Python 2 also unicode in the
  // default encoding): the protected blob as a byte string, or None when
  // protection fails. Anything else raises WindowsError 160.
  PyObject* Encode(PyObject* data);
  // A protected blob: the data as a byte string, or None for any bytes that
  // do not open. Anything but a byte string raises WindowsError 160.
  PyObject* Decode(PyObject* data);
};

}  // namespace device
