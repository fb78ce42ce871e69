#include "python/unicode.h"

#include <vector>

namespace w32::python {

PyObject* UnicodeFromUtf16(std::u16string_view text) {
  std::vector<Py_UNICODE> characters;
  characters.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char32_t c = text[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
      characters.push_back(static_cast<Py_UNICODE>(0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00)));
    } else {
      characters.push_back(static_cast<Py_UNICODE>(c));
    }
  }
  return PyUnicode_FromUnicode(characters.data(), static_cast<Py_ssize_t>(characters.size()));
}

}  // namespace w32::python
