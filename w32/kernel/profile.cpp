#include <fcntl.h>
#include <unistd.h>
#include <windows.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "kernel/drive_table.h"
#include "kernel/file.h"
#include "support/text.h"
#include "support/unique_fd.h"

namespace w32 {
namespace {

struct ProfileEntry {
  std::u16string key;
  std::u16string value;
};

struct ProfileSection {
  std::u16string name;
  std::vector<ProfileEntry> entries;
};

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r'; }

std::u16string Trimmed(std::u16string_view text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  return std::u16string(text.substr(begin, end - begin));
}

// The file's text: UTF-16LE after its byte order mark, else UTF-8.
std::optional<std::u16string> ReadProfileText(const std::string& path) {
  const UniqueFd file(OpenRegularFile(path, O_RDONLY));
  if (!file) return std::nullopt;
  std::string bytes;
  char chunk[4096];
  for (;;) {
    const ssize_t n = ::read(file.get(), chunk, sizeof chunk);
    if (n == 0) break;
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::nullopt;
    bytes.append(chunk, static_cast<size_t>(n));
  }
  if (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE') {
    std::u16string text((bytes.size() - 2) / 2, u'\0');
    std::memcpy(text.data(), bytes.data() + 2, text.size() * sizeof(char16_t));
    return text;
  }
  if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) bytes.erase(0, 3);
  return ToUtf16(bytes);
}

// "[name]" opens a section; "key=value" lines belong to the last one opened.
// Other lines, and lines before the first section, carry nothing.
std::vector<ProfileSection> ParseProfile(std::u16string_view text) {
  std::vector<ProfileSection> sections;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(u'\n', start);
    if (end == std::u16string_view::npos) end = text.size();
    const std::u16string line = Trimmed(text.substr(start, end - start));
    start = end + 1;
    if (!line.empty() && line[0] == u'[') {
      const size_t close = line.find(u']');
      sections.push_back({Trimmed(std::u16string_view(line).substr(1, close == std::u16string::npos ? std::u16string::npos
                                                                                                     : close - 1)),
                          {}});
      continue;
    }
    const size_t equals = line.find(u'=');
    if (sections.empty() || equals == std::u16string::npos) continue;
    std::u16string value = Trimmed(std::u16string_view(line).substr(equals + 1));
    if (value.size() >= 2 && (value[0] == u'"' || value[0] == u'\'') && value.back() == value[0]) {
      value = value.substr(1, value.size() - 2);
    }
    sections.back().entries.push_back({Trimmed(std::u16string_view(line).substr(0, equals)), std::move(value)});
  }
  return sections;
}

bool SameName(std::u16string_view a, std::u16string_view b) { return AsciiLower(a) == AsciiLower(b); }

// One string, cut to the buffer: the count copied.
DWORD CopyString(std::u16string_view text, LPWSTR buffer, DWORD size) {
  const size_t count = std::min<size_t>(text.size(), size - 1);
  text.copy(buffer, count);
  buffer[count] = 0;
  return static_cast<DWORD>(count);
}

}  // namespace
}  // namespace w32

// GetPrivateProfileStringW: our reader of the platform's profile files.
// Section and key names match without regard to case; the first match wins.
// Listing the section names (a null section) or a section's keys (a null key)
// is not built.
DWORD WINAPI GetPrivateProfileStringW(LPCWSTR section, LPCWSTR key, LPCWSTR fallback, LPWSTR buffer, DWORD size,
                                      LPCWSTR file) {
  if (buffer == nullptr || size == 0) return 0;
  if (section == nullptr || key == nullptr) {
    SetLastError(ERROR_NOT_SUPPORTED);
    buffer[0] = 0;
    return 0;
  }
  std::u16string default_text = fallback != nullptr ? fallback : u"";
  while (!default_text.empty() && default_text.back() == u' ') default_text.pop_back();

  std::string path;
  std::optional<std::u16string> text;
  if (file != nullptr && w32::ToNativePath(file, &path)) text = w32::ReadProfileText(path);
  const std::vector<w32::ProfileSection> sections =
      text.has_value() ? w32::ParseProfile(*text) : std::vector<w32::ProfileSection>();

  for (const w32::ProfileSection& each : sections) {
    if (!w32::SameName(each.name, section)) continue;
    for (const w32::ProfileEntry& entry : each.entries) {
      if (w32::SameName(entry.key, key)) {
        SetLastError(ERROR_SUCCESS);
        return w32::CopyString(entry.value, buffer, size);
      }
    }
    break;
  }
  SetLastError(ERROR_FILE_NOT_FOUND);
  return w32::CopyString(default_text, buffer, size);
}
