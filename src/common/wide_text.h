#pragma once
// UTF-16 from the host's 32-bit characters (Python's UCS4 unicode, wchar_t).
#include <cstddef>
#include <string>

namespace device {

// Characters above U+FFFF become surrogate pairs; values past U+10FFFF become
// U+FFFD. The text ends at `length` or at its first zero, whichever is first.
template <class Char32>
std::u16string Utf16FromUcs4(const Char32* text, size_t length) {
  static_assert(sizeof(Char32) == 4, "32-bit characters");
  std::u16string out;
  out.reserve(length);
  for (size_t i = 0; i < length && text[i] != 0; ++i) {
    const auto c = static_cast<char32_t>(text[i]);
    if (c >= 0x10000 && c <= 0x10FFFF) {
      out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      out += static_cast<char16_t>(c > 0xFFFF ? 0xFFFD : c);
    }
  }
  return out;
}

}  // namespace device
