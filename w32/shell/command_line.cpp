#include <windows.h>
#include <shellapi.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/file_name.h"

namespace w32 {
namespace {

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

// The words of a command line by the platform's rules: the program word runs
// to the next quote when it starts with one, else to the first character up
// to U+0020, with no escapes; in later words blanks separate, quotes toggle
// quoting, 2n backslashes before a quote give n and a toggle, 2n+1 give n
// and a literal quote, and inside quotes a doubled quote gives one quote and
// ends the quoting.
std::vector<std::u16string> SplitCommandLine(const char16_t* line) {
  std::vector<std::u16string> words(1);
  const char16_t* p = line;
  if (*p == u'"') {
    for (++p; *p != 0 && *p != u'"'; ++p) words[0] += *p;
    if (*p == u'"') ++p;
  } else {
    for (; *p > u' '; ++p) words[0] += *p;
  }
  while (true) {
    while (IsBlank(*p)) ++p;
    if (*p == 0) break;
    std::u16string word;
    bool quoted = false;
    while (*p != 0 && (quoted || !IsBlank(*p))) {
      if (*p == u'\\') {
        size_t backslashes = 0;
        while (*p == u'\\') ++backslashes, ++p;
        if (*p == u'"') {
          word.append(backslashes / 2, u'\\');
          if (backslashes % 2 == 1) {
            word += u'"';
            ++p;
          }
        } else {
          word.append(backslashes, u'\\');
        }
      } else if (*p == u'"') {
        ++p;
        if (quoted && *p == u'"') {
          word += u'"';
          ++p;
        }
        quoted = !quoted;
      } else {
        word += *p++;
      }
    }
    words.push_back(std::move(word));
  }
  return words;
}

std::u16string ProgramPath() {
  char path[4096];
  const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path);
  return length > 0 ? FileNameFromBytes(std::string_view(path, static_cast<size_t>(length))) : std::u16string();
}

}  // namespace
}  // namespace w32

// CommandLineToArgvW: the platform's splitting rules; an empty line gives the
// program's own path. One LocalAlloc block holds the pointers and the words,
// freed with one LocalFree.
LPWSTR* WINAPI CommandLineToArgvW(LPCWSTR lpCmdLine, int* pNumArgs) {
  if (lpCmdLine == nullptr || pNumArgs == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const std::vector<std::u16string> words =
      *lpCmdLine == 0 ? std::vector<std::u16string>{w32::ProgramPath()} : w32::SplitCommandLine(lpCmdLine);
  size_t chars = 0;
  for (const std::u16string& word : words) chars += word.size() + 1;
  const size_t table = (words.size() + 1) * sizeof(LPWSTR);
  auto* block = static_cast<LPWSTR*>(LocalAlloc(LMEM_FIXED, table + chars * sizeof(WCHAR)));
  if (block == nullptr) return nullptr;  // LocalAlloc has set the error
  auto* text = reinterpret_cast<WCHAR*>(reinterpret_cast<char*>(block) + table);
  for (size_t i = 0; i < words.size(); ++i) {
    block[i] = text;
    std::memcpy(text, words[i].c_str(), (words[i].size() + 1) * sizeof(WCHAR));
    text += words[i].size() + 1;
  }
  block[words.size()] = nullptr;
  *pNumArgs = static_cast<int>(words.size());
  return block;
}
