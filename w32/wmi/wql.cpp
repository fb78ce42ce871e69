#include "wmi/wql.h"

#include "support/text.h"

namespace w32::wmi {
namespace {

bool IsNameChar(char16_t c) {
  return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'_';
}

// Names, "*" and "," as tokens; false on any other character.
bool Tokenize(std::u16string_view text, std::vector<std::u16string>* tokens) {
  size_t i = 0;
  while (i < text.size()) {
    const char16_t c = text[i];
    if (c == u' ' || c == u'\t' || c == u'\r' || c == u'\n') {
      ++i;
    } else if (c == u'*' || c == u',') {
      tokens->push_back(std::u16string(1, c));
      ++i;
    } else if (IsNameChar(c)) {
      const size_t start = i;
      while (i < text.size() && IsNameChar(text[i])) ++i;
      tokens->push_back(std::u16string(text.substr(start, i - start)));
    } else {
      return false;
    }
  }
  return true;
}

bool IsKeyword(const std::u16string& token, std::u16string_view keyword) { return AsciiLower(token) == keyword; }

}  // namespace

HRESULT ParseSelect(std::u16string_view text, SelectQuery* query) {
  std::vector<std::u16string> tokens;
  if (!Tokenize(text, &tokens) || tokens.size() < 4 || !IsKeyword(tokens[0], u"select")) return WBEM_E_INVALID_QUERY;
  query->properties.clear();
  size_t i = 1;
  if (tokens[i] == u"*") {
    ++i;
  } else {
    while (true) {
      if (i >= tokens.size() || !IsNameChar(tokens[i][0]) || IsKeyword(tokens[i], u"from")) {
        return WBEM_E_INVALID_QUERY;
      }
      query->properties.push_back(tokens[i++]);
      if (i >= tokens.size() || tokens[i] != u",") break;
      ++i;
    }
  }
  if (i + 2 != tokens.size() || !IsKeyword(tokens[i], u"from") || !IsNameChar(tokens[i + 1][0])) {
    return WBEM_E_INVALID_QUERY;
  }
  query->class_name = tokens[i + 1];
  return WBEM_S_NO_ERROR;
}

}  // namespace w32::wmi
