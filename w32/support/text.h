#pragma once
// Text conversions between the platform's UTF-16 and Linux's UTF-8.
#include <string>
#include <string_view>

namespace w32 {

// Length of a zero-terminated UTF-16 string.
size_t WideLength(const char16_t* text);

// Appends the UTF-8 form of a code point (a surrogate gets its three-byte form).
void AppendUtf8(std::string& out, char32_t c);

// Ill-formed sequences become U+FFFD, so a conversion never fails.
std::string ToUtf8(std::u16string_view text);
std::u16string ToUtf16(std::string_view text);

// ASCII-only case folding, as the platform's ordinal case-insensitive compare.
char16_t AsciiLower(char16_t c);
std::u16string AsciiLower(std::u16string_view text);

}  // namespace w32
