#include "registry/reg_file.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "support/text.h"

namespace w32 {
namespace {

const std::pair<std::u16string_view, std::u16string_view> kRootAliases[] = {
    {u"hklm", u"hkey_local_machine"},
    {u"hkcu", u"hkey_current_user"},
    {u"hkcr", u"hkey_classes_root"},
    {u"hku", u"hkey_users"},
};

std::u16string Decode(std::string_view bytes) {
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF && static_cast<unsigned char>(bytes[1]) == 0xFE) {
    std::u16string text;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
      text += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) | (static_cast<unsigned char>(bytes[i + 1]) << 8));
    }
    return text;
  }
  if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
  return ToUtf16(bytes);
}

// Physical lines joined where a line ends in a backslash (hex continuation).
std::vector<std::u16string> LogicalLines(const std::u16string& text) {
  std::vector<std::u16string> lines;
  std::u16string current;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(u'\n', start);
    if (end == std::u16string::npos) end = text.size();
    std::u16string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == u'\r') line.pop_back();
    const size_t first = line.find_first_not_of(u" \t");
    line = first == std::u16string::npos ? std::u16string() : line.substr(first);
    if (!current.empty() && current.back() == u'\\' && current.front() != u';') {
      current.pop_back();
      current += line;
    } else {
      if (!current.empty()) lines.push_back(current);
      current = line;
    }
    start = end + 1;
  }
  if (!current.empty()) lines.push_back(current);
  return lines;
}

std::u16string NormaliseKeyPath(std::u16string_view path) {
  std::u16string lower = AsciiLower(path);
  while (!lower.empty() && lower.back() == u'\\') lower.pop_back();
  for (const auto& [alias, full] : kRootAliases) {
    if (lower.compare(0, alias.size(), alias) == 0 && (lower.size() == alias.size() || lower[alias.size()] == u'\\')) {
      return std::u16string(full) + lower.substr(alias.size());
    }
  }
  return lower;
}

void AppendUtf16LE(std::vector<BYTE>& out, std::u16string_view text) {
  for (char16_t c : text) {
    out.push_back(static_cast<BYTE>(c & 0xFF));
    out.push_back(static_cast<BYTE>(c >> 8));
  }
  out.push_back(0);
  out.push_back(0);
}

int HexDigit(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

// Comma-separated bytes of one or two hex digits each.
bool ParseHexBytes(std::u16string_view text, std::vector<BYTE>& out) {
  while (!text.empty()) {
    const size_t comma = text.find(u',');
    std::u16string_view token = text.substr(0, comma);
    text = comma == std::u16string_view::npos ? std::u16string_view() : text.substr(comma + 1);
    while (!token.empty() && (token.front() == u' ' || token.front() == u'\t')) token.remove_prefix(1);
    while (!token.empty() && (token.back() == u' ' || token.back() == u'\t')) token.remove_suffix(1);
    if (token.empty() && text.empty() && comma != std::u16string_view::npos) break;  // a trailing comma
    if (token.empty() || token.size() > 2) return false;
    int value = 0;
    for (char16_t c : token) {
      const int digit = HexDigit(c);
      if (digit < 0) return false;
      value = value * 16 + digit;
    }
    out.push_back(static_cast<BYTE>(value));
  }
  return true;
}

// A quoted string starting at text[pos] == '"'; returns the position after the closing quote.
size_t ParseQuoted(std::u16string_view text, size_t pos, std::u16string& out) {
  for (size_t i = pos + 1; i < text.size(); ++i) {
    if (text[i] == u'\\' && i + 1 < text.size()) {
      out += text[++i];
    } else if (text[i] == u'"') {
      return i + 1;
    } else {
      out += text[i];
    }
  }
  return std::u16string_view::npos;
}

bool ParseData(std::u16string_view data, RegistryValue& value) {
  if (!data.empty() && data.front() == u'"') {
    std::u16string text;
    if (ParseQuoted(data, 0, text) == std::u16string_view::npos) return false;
    value.type = REG_SZ;
    AppendUtf16LE(value.data, text);
    return true;
  }
  const std::u16string lower = AsciiLower(data);
  if (lower.compare(0, 6, u"dword:") == 0) {
    std::u16string_view digits = std::u16string_view(data).substr(6);
    if (digits.empty() || digits.size() > 8) return false;
    DWORD number = 0;
    for (char16_t c : digits) {
      const int d = HexDigit(c);
      if (d < 0) return false;
      number = number * 16 + static_cast<DWORD>(d);
    }
    value.type = REG_DWORD;
    for (int i = 0; i < 4; ++i) value.data.push_back(static_cast<BYTE>(number >> (8 * i)));
    return true;
  }
  if (lower.compare(0, 4, u"hex:") == 0) {
    value.type = REG_BINARY;
    return ParseHexBytes(std::u16string_view(data).substr(4), value.data);
  }
  if (lower.compare(0, 4, u"hex(") == 0) {
    const size_t close = lower.find(u"):");
    if (close == std::u16string::npos) return false;
    DWORD type = 0;
    for (size_t i = 4; i < close; ++i) {
      const int d = HexDigit(lower[i]);
      if (d < 0) return false;
      type = type * 16 + static_cast<DWORD>(d);
    }
    value.type = type;
    return ParseHexBytes(std::u16string_view(data).substr(close + 2), value.data);
  }
  return false;
}

}  // namespace

RegistryHive ParseRegFile(std::string_view bytes) {
  RegistryHive hive;
  RegistryKey* key = nullptr;
  for (const std::u16string& line : LogicalLines(Decode(bytes))) {
    if (line.empty() || line.front() == u';') continue;
    if (line.front() == u'[') {
      const size_t close = line.rfind(u']');
      if (close == std::u16string::npos) {
        key = nullptr;
        continue;
      }
      std::u16string_view path = std::u16string_view(line).substr(1, close - 1);
      if (!path.empty() && path.front() == u'-') {
        const std::u16string gone = NormaliseKeyPath(path.substr(1));
        for (auto it = hive.begin(); it != hive.end();) {
          const bool below = it->first == gone || it->first.compare(0, gone.size() + 1, gone + u"\\") == 0;
          it = below ? hive.erase(it) : std::next(it);
        }
        key = nullptr;
        continue;
      }
      key = &hive[NormaliseKeyPath(path)];
      continue;
    }
    if (key == nullptr) continue;
    std::u16string name;
    size_t pos = 0;
    if (line.front() == u'@') {
      pos = 1;
    } else if (line.front() == u'"') {
      pos = ParseQuoted(line, 0, name);
      if (pos == std::u16string::npos) continue;
    } else {
      continue;
    }
    if (pos >= line.size() || line[pos] != u'=') continue;
    std::u16string_view data = std::u16string_view(line).substr(pos + 1);
    const std::u16string lower_name = AsciiLower(name);
    if (data == u"-") {
      key->values.erase(lower_name);
      continue;
    }
    RegistryValue value;
    if (ParseData(data, value)) key->values[lower_name] = std::move(value);
  }
  return hive;
}

RegistryHive LoadRegistry() {
  const char* path = std::getenv("W32_REGISTRY");
  if (path == nullptr || *path == 0) return {};
  std::ifstream file(path, std::ios::binary);
  if (!file) return {};
  std::ostringstream bytes;
  bytes << file.rdbuf();
  return ParseRegFile(bytes.str());
}

}  // namespace w32
