#include "crypto/mmer2.h"

#include <windows.h>

#include <memory>

#include "python/windows_error.h"

namespace device {
namespace {

const WCHAR kDescription[] = u"OrvellineCalvetto";
constexpr Py_ssize_t kLargestBlob = 0xffffffff;

struct LocalFreeDeleter {
  void operator()(void* block) const { LocalFree(block); }
};
using LocalMemory = std::unique_ptr<void, LocalFreeDeleter>;

// The string's own buffer, or null with WindowsError 160 raised when the
// string conversion refuses the object.
char* StringBuffer(PyObject* data, Py_ssize_t& length) {
  char* bytes = nullptr;
  if (PyBytes_AsStringAndSize(data, &bytes, &length) != 0) {
    PyErr_Clear();
    pycompat::SetWindowsError(ERROR_BAD_ARGUMENTS);
    return nullptr;
  }
  return bytes;
}

PyObject* StringOf(const DATA_BLOB& blob) {
  return PyBytes_FromStringAndSize(reinterpret_cast<const char*>(blob.pbData), blob.cbData);
}

}  // namespace

MMer2::MMer2() = default;

MMer2::~MMer2() = default;

// A string longer than a blob can hold cannot be protected: None, as for any
// failure of the platform.
PyObject* MMer2::Encode(PyObject* data) {
  Py_ssize_t length = 0;
  char* bytes = StringBuffer(data, length);
  if (bytes == nullptr) return nullptr;
  DATA_BLOB in{static_cast<DWORD>(length), reinterpret_cast<BYTE*>(bytes)};
  DATA_BLOB out{};
  if (length > kLargestBlob ||
      !CryptProtectData(&in, kDescription, nullptr, nullptr, nullptr, CRYPTPROTECT_LOCAL_MACHINE, &out)) {
    Py_RETURN_NONE;
  }
  const LocalMemory owner(out.pbData);
  return StringOf(out);
}

PyObject* MMer2::Decode(PyObject* data) {
  Py_ssize_t length = 0;
  char* bytes = StringBuffer(data, length);
  if (bytes == nullptr) return nullptr;
  DATA_BLOB in{static_cast<DWORD>(length), reinterpret_cast<BYTE*>(bytes)};
  DATA_BLOB out{};
  LPWSTR description = nullptr;
  const bool opened =
      length <= kLargestBlob && CryptUnprotectData(&in, &description, nullptr, nullptr, nullptr, 0, &out) != FALSE;
  const LocalMemory description_owner(description);
  const LocalMemory data_owner(out.pbData);
  if (!opened) Py_RETURN_NONE;
  return StringOf(out);
}

}  // namespace device
