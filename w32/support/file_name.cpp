#include "support/file_name.h"

#include <vector>

#include "support/text.h"

namespace w32 {
namespace {

bool IsHigh(char32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLow(char32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }
bool IsEscape(char32_t c) { return c >= 0xDC80 && c <= 0xDCFF; }
bool IsContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// One piece of a byte name: a character (a surrogate only from its
// three-byte form) or a byte that does not decode.
struct Piece {
  char32_t value;
  size_t size;  // bytes used
  bool escaped;
};

Piece NextPiece(std::string_view bytes, size_t at) {
  const unsigned char lead = static_cast<unsigned char>(bytes[at]);
  if (lead < 0x80) return {lead, 1, false};
  size_t extra = 0;
  char32_t c = 0, min = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    extra = 1, c = lead & 0x1F, min = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    extra = 2, c = lead & 0x0F, min = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    extra = 3, c = lead & 0x07, min = 0x10000;
  }
  bool whole = extra > 0;
  for (size_t i = 1; whole && i <= extra; ++i) {
    if (at + i >= bytes.size() || !IsContinuation(static_cast<unsigned char>(bytes[at + i]))) {
      whole = false;
    } else {
      c = (c << 6) | (static_cast<unsigned char>(bytes[at + i]) & 0x3F);
    }
  }
  // Surrogates of the escape range keep their bytes escaped: those units
  // already stand for single bytes.
  if (whole && c >= min && c <= 0x10FFFF && !IsEscape(c)) return {c, extra + 1, false};
  return {static_cast<char32_t>(0xDC00 + lead), 1, true};
}

}  // namespace

std::u16string FileNameFromBytes(std::string_view bytes) {
  std::vector<Piece> pieces;
  for (size_t at = 0; at < bytes.size(); at += pieces.back().size) pieces.push_back(NextPiece(bytes, at));
  // A high surrogate's form followed by a low unit would read back as one
  // pair, so such forms stay escaped; from the end, since escaping one makes
  // the high form before it precede a low unit too.
  bool low_follows = false;
  for (size_t i = pieces.size(); i-- > 0;) {
    Piece& piece = pieces[i];
    if (!piece.escaped && IsHigh(piece.value) && low_follows) piece.escaped = true;
    low_follows = piece.escaped || IsLow(piece.value);
  }
  std::u16string out;
  out.reserve(bytes.size());
  size_t at = 0;
  for (const Piece& piece : pieces) {
    if (piece.escaped) {
      for (size_t i = 0; i < piece.size; ++i) out += static_cast<char16_t>(0xDC00 + static_cast<unsigned char>(bytes[at + i]));
    } else if (piece.value >= 0x10000) {
      out += static_cast<char16_t>(0xD800 + ((piece.value - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + ((piece.value - 0x10000) & 0x3FF));
    } else {
      out += static_cast<char16_t>(piece.value);
    }
    at += piece.size;
  }
  return out;
}

bool FileNameToBytes(std::u16string_view name, std::string* bytes) {
  std::string out;
  out.reserve(name.size());
  for (size_t i = 0; i < name.size(); ++i) {
    char32_t c = name[i];
    if (IsHigh(c) && i + 1 < name.size() && IsLow(name[i + 1])) {
      c = 0x10000 + ((c - 0xD800) << 10) + (name[i + 1] - 0xDC00);
      ++i;
    } else if (IsEscape(c)) {
      out += static_cast<char>(c - 0xDC00);
      continue;
    }
    AppendUtf8(out, c);
  }
  if (FileNameFromBytes(out) != name) return false;
  *bytes = std::move(out);
  return true;
}

}  // namespace w32
