// File attributes and locale fields of w32 against the kernel's own answers
// and the platform's buffer contract.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <windows.h>

#include <string>

#include "../temp_folder.h"
#include "support/text.h"

namespace {

// An entry of `folder` with `mode`, owned by the unprivileged reader when we are root.
std::string Make(const TempFolder& folder, const std::string& name, bool is_folder, mode_t mode) {
  const std::string full = folder / name;
  if (is_folder) {
    mkdir(full.c_str(), mode);
  } else {
    close(open(full.c_str(), O_CREAT | O_WRONLY, mode));
  }
  chmod(full.c_str(), mode);
  if (geteuid() == 0 && chown(full.c_str(), 65534, 65534) != 0) return std::string();
  return full;
}

// GetFileAttributesW as an unprivileged user sees it (root may write anything).
DWORD AttributesAsNobody(const std::string& path) {
  int pipe_fds[2];
  if (pipe(pipe_fds) != 0) return 0;
  const pid_t child = fork();
  if (child == 0) {
    if (geteuid() == 0 && setuid(65534) != 0) _exit(1);
    const DWORD attributes = GetFileAttributesW(w32::ToUtf16(path).c_str());
    _exit(write(pipe_fds[1], &attributes, sizeof attributes) == sizeof attributes ? 0 : 1);
  }
  close(pipe_fds[1]);
  DWORD attributes = 0;
  const bool read_all = read(pipe_fds[0], &attributes, sizeof attributes) == sizeof attributes;
  close(pipe_fds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  return read_all ? attributes : 0;
}

TEST(FileAttributes, BitsFromTheFileAndItsName) {
  TempFolder folder;
  struct Case {
    std::string name;
    bool folder;
    mode_t mode;
    DWORD expected;
  } cases[] = {
      {"plain.txt", false, 0644, FILE_ATTRIBUTE_NORMAL},
      {".hidden", false, 0644, FILE_ATTRIBUTE_HIDDEN},
      {"sub", true, 0755, FILE_ATTRIBUTE_DIRECTORY},
      {".config", true, 0755, FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN},
      {"locked.txt", false, 0444, FILE_ATTRIBUTE_READONLY},
      {".locked", true, 0555, FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY},
  };
  for (const Case& c : cases) {
    const std::string path = Make(folder, c.name, c.folder, c.mode);
    EXPECT_EQ(AttributesAsNobody(path), c.expected) << c.name;
  }
  // "." and ".." are not hidden names, and a trailing slash names the folder.
  EXPECT_EQ(GetFileAttributesW(w32::ToUtf16(folder.path() + "/sub/.").c_str()), DWORD{FILE_ATTRIBUTE_DIRECTORY});
  EXPECT_EQ(GetFileAttributesW(w32::ToUtf16(folder.path() + "/sub/..").c_str()), DWORD{FILE_ATTRIBUTE_DIRECTORY});
  EXPECT_EQ(GetFileAttributesW(w32::ToUtf16(folder.path() + "/.config/").c_str()),
            DWORD{FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN});
  EXPECT_EQ(GetFileAttributesW(u"C:\\"), DWORD{FILE_ATTRIBUTE_DIRECTORY});
}

// One locale field under the current environment; the error when it fails.
std::u16string Field(LCID lcid, LCTYPE type, DWORD* error = nullptr) {
  WCHAR text[256] = {};
  SetLastError(0);
  const int written = GetLocaleInfoW(lcid, type, text, 256);
  if (error != nullptr) *error = written == 0 ? GetLastError() : 0;
  return text;
}

// Locale fields, the enumeration and the user's nation as the module gives them
// are in tests/python/test_system_locale.py; the buffer contract and the codes
// the module swallows are here.
TEST(Locale, BufferContractAndRefusals) {
  setenv("LC_ALL", "de_DE.UTF-8", 1);
  EXPECT_EQ(GetLocaleInfoW(0x0407, LOCALE_SLANGUAGE, nullptr, 0), 22);  // "Deutsch (Deutschland)" and its zero
  WCHAR small[4] = {u'x', u'x', u'x', u'x'};
  EXPECT_EQ(GetLocaleInfoW(0x0407, LOCALE_SABBREVLANGNAME, small, 4), 4);
  EXPECT_EQ(std::u16string(small), u"DEU");
  EXPECT_EQ(GetLocaleInfoW(0x0407, LOCALE_SLANGUAGE, small, 4), 0);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INSUFFICIENT_BUFFER});
  DWORD error = 0;
  struct Case {
    LCID lcid;
    LCTYPE type;
    DWORD error;
  } refusals[] = {
      {0x1234, LOCALE_SLANGUAGE, ERROR_INVALID_PARAMETER},   // no such locale
      {0x0C07 | 0x1000, LOCALE_SLANGUAGE, ERROR_INVALID_PARAMETER},
      {0x0409, 0x1001, ERROR_INVALID_FLAGS},                 // a field we do not give
  };
  for (const Case& c : refusals) {
    EXPECT_EQ(Field(c.lcid, c.type, &error), u"");
    EXPECT_EQ(error, c.error) << std::hex << c.lcid;
  }
  EXPECT_EQ(GetLocaleInfoW(0x0409, LOCALE_SLANGUAGE, nullptr, 5), 0);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_PARAMETER});
  unsetenv("LC_ALL");
}

}  // namespace
