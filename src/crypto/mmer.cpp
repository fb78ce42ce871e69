#include "crypto/mmer.h"

#include <climits>

#include "python/windows_error.h"

namespace device {
namespace {

constexpr Py_ssize_t kBlockBytes = 16;
constexpr int kCbc128 = 1;

// An item of the parameters: a str (or subtype) of exactly one block.
bool IsBlockString(PyObject* item) { return PyBytes_Check(item) && PyBytes_GET_SIZE(item) == kBlockBytes; }

}  // namespace

MMer::MMer() : cipher_(kCbc128) {}

MMer::~MMer() = default;

PyObject* MMer::SetParam(PyObject* parameters) {
  if (!PyTuple_Check(parameters) || PyTuple_GET_SIZE(parameters) != 2 || !IsBlockString(PyTuple_GET_ITEM(parameters, 0)) ||
      !IsBlockString(PyTuple_GET_ITEM(parameters, 1))) {
    return pycompat::SetWindowsError(ERROR_BAD_ARGUMENTS);
  }
  cipher_.SetKey(reinterpret_cast<const BYTE*>(PyBytes_AS_STRING(PyTuple_GET_ITEM(parameters, 0))), 128);
  cipher_.SetIV(reinterpret_cast<const BYTE*>(PyBytes_AS_STRING(PyTuple_GET_ITEM(parameters, 1))));
  return pycompat::IntFromLong(1);
}

PyObject* MMer::Encode(PyObject* data) { return Transform(data, true); }

PyObject* MMer::Decode(PyObject* data) { return Transform(data, false); }

// Reads straight from the string's buffer and writes straight into the result
// string: the result is the one copy the call makes. The cipher's lengths are
// 32-bit, so longer strings are refused like any other bad length.
PyObject* MMer::Transform(PyObject* data, bool encrypt) {
  char* bytes = nullptr;
  Py_ssize_t length = 0;
  if (PyBytes_AsStringAndSize(data, &bytes, &length) != 0) {
    PyErr_Clear();
    return pycompat::SetWindowsError(ERROR_BAD_ARGUMENTS);
  }
  if (length % kBlockBytes != 0 || length > INT_MAX) return pycompat::SetWindowsError(ERROR_BAD_ARGUMENTS);
  PyObject* result = PyBytes_FromStringAndSize(nullptr, length);
  if (result == nullptr) return nullptr;
  const BYTE* in = reinterpret_cast<const BYTE*>(bytes);
  BYTE* out = reinterpret_cast<BYTE*>(PyBytes_AS_STRING(result));
  if (encrypt) {
    cipher_.Encrypt(in, out, static_cast<int>(length));
  } else {
    cipher_.Decrypt(in, out, static_cast<int>(length));
  }
  return result;
}

}  // namespace device
