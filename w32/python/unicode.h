#pragma once
// UTF-16 text as a Python unicode object. The host's unicode holds UCS4:
// surrogate pairs become one character, a lone surrogate stays as it is.
#include <Python.h>

#include <string_view>

namespace w32::python {

// A new reference, or null with a Python error set.
PyObject* UnicodeFromUtf16(std::u16string_view text);

}  // namespace w32::python
