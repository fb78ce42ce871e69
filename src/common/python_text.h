#pragma once
// UTF-16 text as a Python unicode object (the host's UCS4); an ill-formed
// surrogate becomes U+FFFD. Called with the interpreter lock held.
#include <Python.h>

#include <string_view>

namespace device {

inline PyObject* UnicodeFromUtf16(std::u16string_view text) {
  int byteorder = -1;  // little-endian, as char16_t is in memory here
  return PyUnicode_DecodeUTF16(reinterpret_cast<const char*>(text.data()), static_cast<Py_ssize_t>(text.size() * 2),
                               "replace", &byteorder);
}

}  // namespace device
