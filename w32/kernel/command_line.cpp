#include <windows.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/file_name.h"

namespace w32 {
namespace {

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

// The program word is read up to the next quote without escapes, so it is
// quoted only when it must be, and a quote inside it cannot be carried when it
// is: it is dropped then.
std::u16string QuoteProgram(const std::u16string& word) {
  bool plain = !word.empty() && word[0] != u'"';
  for (char16_t c : word) {
    if (c <= u' ') plain = false;
  }
  if (plain) return word;
  std::u16string quoted = u"\"";
  for (char16_t c : word) {
    if (c != u'"') quoted += c;
  }
  return quoted + u"\"";
}

// Any later word: quoted when it is empty or holds a blank or a quote, with
// backslashes doubled where a quote follows them.
std::u16string QuoteArgument(const std::u16string& word) {
  bool plain = !word.empty();
  for (char16_t c : word) {
    if (IsBlank(c) || c == u'"') plain = false;
  }
  if (plain) return word;
  std::u16string quoted = u"\"";
  size_t backslashes = 0;
  for (char16_t c : word) {
    if (c == u'\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == u'"' ? backslashes * 2 + 1 : backslashes, u'\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, u'\\');
  return quoted + u"\"";
}

std::u16string ReadCommandLine() {
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::u16string line;
  size_t start = 0;
  for (size_t index = 0; start < bytes.size(); ++index) {
    size_t end = bytes.find('\0', start);
    if (end == std::string::npos) end = bytes.size();
    const std::u16string word = FileNameFromBytes(std::string_view(bytes).substr(start, end - start));
    if (index > 0) line += u' ';
    line += index == 0 ? QuoteProgram(word) : QuoteArgument(word);
    start = end + 1;
  }
  return line;
}

}  // namespace
}  // namespace w32

// GetCommandLineW: the process's words from /proc/self/cmdline, quoted so
// that CommandLineToArgvW splits them back; read once, kept for the process.
LPWSTR WINAPI GetCommandLineW(VOID) {
  static std::u16string* line = new std::u16string(w32::ReadCommandLine());
  return line->data();
}
