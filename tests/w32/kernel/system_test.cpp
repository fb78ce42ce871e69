// File attributes, find data and locale fields of w32 against the kernel's
// own answers and the platform's buffer contract.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <windows.h>

#include <cstdio>
#include <map>
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

ULONGLONG Ticks(const FILETIME& time) { return (ULONGLONG{time.dwHighDateTime} << 32) | time.dwLowDateTime; }

// A folder of several search batches, changed while it is being read: entries
// removed, and files replaced by folders of the same name. Every other entry
// comes once with the data of its own stat (size, kind, times, its byte name),
// whichever thread stat'ed it; a changed one is either absent or shows what
// it was or what it became, whole; nothing comes twice.
TEST(FindFile, AFolderChangingWhileItIsReadGivesEachEntryWhole) {
  TempFolder folder;
  constexpr int kEntries = 8500;  // a full batch and a small one
  constexpr time_t kBase = 1500000000;
  const auto name_of = [](int i) {
    char name[16];
    std::snprintf(name, sizeof name, i % 5 == 3 ? "b\xff%05d" : "f%05d", i);
    return std::string(name);
  };
  for (int i = 0; i < kEntries; ++i) {
    const std::string path = folder / name_of(i);
    if (i % 5 == 0) {
      ASSERT_EQ(mkdir(path.c_str(), 0755), 0);
    } else {
      const int fd = open(path.c_str(), O_CREAT | O_WRONLY, 0644);
      ASSERT_EQ(ftruncate(fd, i), 0);
      const struct timespec times[2] = {{kBase, 0}, {kBase + i, 500}};
      ASSERT_EQ(futimens(fd, times), 0);
      close(fd);
    }
  }
  const auto wide_name = [&name_of](int i) {
    const std::string name = name_of(i);
    return i % 5 == 3 ? u"b\xDCFF" + w32::ToUtf16(name.substr(2)) : w32::ToUtf16(name);  // the byte escaped
  };
  std::map<std::u16string, int> index;
  for (int i = 0; i < kEntries; ++i) index[wide_name(i)] = i;

  WIN32_FIND_DATAW data;
  const HANDLE search = FindFirstFileExW(w32::ToUtf16(folder.path() + "/*").c_str(), FindExInfoStandard, &data,
                                         FindExSearchNameMatch, nullptr, 0);
  ASSERT_NE(search, INVALID_HANDLE_VALUE);
  std::map<std::u16string, WIN32_FIND_DATAW> found;
  int read = 0;
  do {
    EXPECT_TRUE(found.emplace(data.cFileName, data).second) << w32::ToUtf8(data.cFileName);
    if (++read == 100) {
      for (int i = 1; i < kEntries; i += 5) unlink((folder / name_of(i)).c_str());
      for (int i = 2; i < kEntries; i += 5) {
        unlink((folder / name_of(i)).c_str());
        mkdir((folder / name_of(i)).c_str(), 0755);
      }
    }
  } while (FindNextFileW(search, &data));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_NO_MORE_FILES});
  EXPECT_TRUE(FindClose(search));

  EXPECT_EQ(found.count(u"."), 1u);
  EXPECT_EQ(found.count(u".."), 1u);
  int whole = 0;
  for (const auto& [name, entry] : found) {
    if (name == u"." || name == u"..") continue;
    const auto it = index.find(name);
    ASSERT_NE(it, index.end()) << w32::ToUtf8(name);
    const int i = it->second;
    const bool as_folder = i % 5 == 0 || (i % 5 == 2 && entry.dwFileAttributes == FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(entry.dwFileAttributes, as_folder ? DWORD{FILE_ATTRIBUTE_DIRECTORY} : DWORD{FILE_ATTRIBUTE_NORMAL}) << i;
    EXPECT_EQ(entry.nFileSizeLow, as_folder ? 0u : DWORD(i)) << i;
    EXPECT_EQ(entry.nFileSizeHigh, 0u);
    EXPECT_EQ(Ticks(entry.ftCreationTime), Ticks(entry.ftLastWriteTime));
    if (!as_folder) {
      EXPECT_EQ(Ticks(entry.ftLastWriteTime), (ULONGLONG(kBase + i) + 11644473600ULL) * 10000000ULL + 5) << i;
      EXPECT_EQ(Ticks(entry.ftLastAccessTime), (ULONGLONG(kBase) + 11644473600ULL) * 10000000ULL) << i;
    }
    EXPECT_EQ(entry.cAlternateFileName[0], 0);
    whole += i % 5 != 1 && i % 5 != 2;
  }
  EXPECT_EQ(whole, kEntries / 5 * 3);

  // A search closed part-way, while the next batch is being stat'ed.
  const HANDLE closed = FindFirstFileExW(w32::ToUtf16(folder.path() + "/*").c_str(), FindExInfoStandard, &data,
                                         FindExSearchNameMatch, nullptr, 0);
  ASSERT_NE(closed, INVALID_HANDLE_VALUE);
  for (int i = 0; i < 10; ++i) EXPECT_TRUE(FindNextFileW(closed, &data));
  EXPECT_TRUE(FindClose(closed));
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
