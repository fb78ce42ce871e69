#pragma once
// MMer: AES-128 in CBC mode without padding for Python byte strings. Every
// Encode and Decode restarts its chain from the vector given to SetParam.
#include "python/python_compat.h"

#include "crypto/rijndael_cipher.h"

namespace device {

class MMer {
 public:
  MMer();
  virtual ~MMer();
  MMer(const MMer&) = delete;
  MMer& operator=(const MMer&) = delete;

  // A tuple of two 16-byte byte strings (str; bytes on Python 3), the key and
  // the vector: int 1. Anything else raises WindowsError 160 and changes nothing.
  PyObject* SetParam(PyObject* parameters);
  // A byte string (or, on Python 2, unicode in the default encoding) whose
  // length is a multiple of 16: a new byte string of the same length.
  // Anything else raises WindowsError 160.
  PyObject* Encode(PyObject* data);
  PyObject* Decode(PyObject* data);

 private:
  PyObject* Transform(PyObject* data, bool encrypt);

  RijndaelCipher cipher_;
};

}  // namespace device
