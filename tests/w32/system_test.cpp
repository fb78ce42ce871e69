// Machine facts, file attributes and locale functions of w32 against the
// kernel's own answers and the platform's buffer contracts.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>
#include <windows.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "support/text.h"

namespace {

class TempFolder {
 public:
  TempFolder() {
    char pattern[] = "/tmp/w32-system-XXXXXX";
    path_ = mkdtemp(pattern);
    chmod(path_.c_str(), 0755);
  }
  ~TempFolder() { std::system(("rm -rf '" + path_ + "'").c_str()); }
  const std::string& path() const { return path_; }
  std::string Make(const std::string& name, bool folder, mode_t mode) const {
    const std::string full = path_ + "/" + name;
    if (folder) {
      mkdir(full.c_str(), mode);
    } else {
      close(open(full.c_str(), O_CREAT | O_WRONLY, mode));
    }
    chmod(full.c_str(), mode);
    if (geteuid() == 0 && chown(full.c_str(), 65534, 65534) != 0) return std::string();  // owned by the reader
    return full;
  }

 private:
  std::string path_;
};

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
    const std::string path = folder.Make(c.name, c.folder, c.mode);
    EXPECT_EQ(AttributesAsNobody(path), c.expected) << c.name;
  }
  // "." and ".." are not hidden names, and a trailing slash names the folder.
  EXPECT_EQ(GetFileAttributesW(w32::ToUtf16(folder.path() + "/sub/.").c_str()), DWORD{FILE_ATTRIBUTE_DIRECTORY});
  EXPECT_EQ(GetFileAttributesW(w32::ToUtf16(folder.path() + "/sub/..").c_str()), DWORD{FILE_ATTRIBUTE_DIRECTORY});
  EXPECT_EQ(GetFileAttributesW(w32::ToUtf16(folder.path() + "/.config/").c_str()),
            DWORD{FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN});
  EXPECT_EQ(GetFileAttributesW(u"C:\\"), DWORD{FILE_ATTRIBUTE_DIRECTORY});
}

TEST(FileAttributes, FailuresSetThePlatformsErrors) {
  TempFolder folder;
  const std::string file = folder.Make("file", false, 0644);
  struct Case {
    std::u16string path;
    DWORD error;
  } cases[] = {
      {w32::ToUtf16(folder.path() + "/missing"), ERROR_FILE_NOT_FOUND},
      {w32::ToUtf16(folder.path() + "/missing/deeper"), ERROR_PATH_NOT_FOUND},
      {w32::ToUtf16(file + "/below"), ERROR_PATH_NOT_FOUND},
      {u"", ERROR_PATH_NOT_FOUND},
  };
  for (const Case& c : cases) {
    SetLastError(0);
    EXPECT_EQ(GetFileAttributesW(c.path.c_str()), INVALID_FILE_ATTRIBUTES) << w32::ToUtf8(c.path);
    EXPECT_EQ(GetLastError(), c.error) << w32::ToUtf8(c.path);
  }
  EXPECT_EQ(GetFileAttributesW(nullptr), INVALID_FILE_ATTRIBUTES);
}

TEST(MachineFacts, DiskSpaceAsStatvfsTellsIt) {
  ULARGE_INTEGER available = {}, total = {}, free = {};
  ASSERT_TRUE(GetDiskFreeSpaceExW(u"/tmp", &available, &total, &free));
  struct statvfs volume;
  ASSERT_EQ(statvfs("/tmp", &volume), 0);
  const ULONGLONG unit = volume.f_frsize;
  const ULONGLONG slack = 64ull << 20;  // other processes write while we look
  EXPECT_EQ(total.QuadPart, volume.f_blocks * unit);
  EXPECT_NEAR(static_cast<double>(free.QuadPart), static_cast<double>(volume.f_bfree * unit), slack);
  EXPECT_NEAR(static_cast<double>(available.QuadPart), static_cast<double>(volume.f_bavail * unit), slack);
  EXPECT_LE(available.QuadPart, free.QuadPart);
  EXPECT_TRUE(GetDiskFreeSpaceExW(u"C:\\", nullptr, &total, nullptr));

  TempFolder folder;
  const std::string file = folder.Make("file", false, 0644);
  struct Case {
    std::u16string path;
    DWORD error;
  } failures[] = {
      {w32::ToUtf16(folder.path() + "/missing"), ERROR_FILE_NOT_FOUND},
      {w32::ToUtf16(file), ERROR_DIRECTORY},
      {u"", ERROR_PATH_NOT_FOUND},
  };
  for (const Case& c : failures) {
    SetLastError(0);
    EXPECT_FALSE(GetDiskFreeSpaceExW(c.path.c_str(), &available, &total, &free)) << w32::ToUtf8(c.path);
    EXPECT_EQ(GetLastError(), c.error) << w32::ToUtf8(c.path);
  }
}

TEST(MachineFacts, SystemInfoCountsOnlineProcessors) {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  EXPECT_EQ(info.dwNumberOfProcessors, static_cast<DWORD>(sysconf(_SC_NPROCESSORS_ONLN)));
  EXPECT_EQ(info.dwPageSize, static_cast<DWORD>(sysconf(_SC_PAGESIZE)));
  EXPECT_EQ(info.wProcessorArchitecture, PROCESSOR_ARCHITECTURE_AMD64);

  TempFolder root;
  std::system(("mkdir -p " + root.path() + "/sys/devices/system/cpu").c_str());
  setenv("W32_SYSROOT", root.path().c_str(), 1);
  struct Case {
    const char* list;
    DWORD expected;
  } cases[] = {
      {"0-3,6-7\n", 6},
      {"0\n", 1},
      {"5,9,11-12\n", 4},
      {"garbage\n", static_cast<DWORD>(sysconf(_SC_NPROCESSORS_ONLN))},
      {"3-1\n", static_cast<DWORD>(sysconf(_SC_NPROCESSORS_ONLN))},
  };
  for (const Case& c : cases) {
    std::ofstream(root.path() + "/sys/devices/system/cpu/online") << c.list;
    GetSystemInfo(&info);
    EXPECT_EQ(info.dwNumberOfProcessors, c.expected) << c.list;
  }
  unsetenv("W32_SYSROOT");
}

TEST(MachineFacts, UserNameOfTheEffectiveUserWithTheBufferContract) {
  const std::u16string expected = w32::ToUtf16(getpwuid(geteuid())->pw_name);
  const DWORD needed = static_cast<DWORD>(expected.size() + 1);
  WCHAR name[256] = {};
  DWORD size = 256;
  ASSERT_TRUE(GetUserNameW(name, &size));
  EXPECT_EQ(std::u16string(name), expected);
  EXPECT_EQ(size, needed);
  size = needed - 1;
  EXPECT_FALSE(GetUserNameW(name, &size));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INSUFFICIENT_BUFFER});
  EXPECT_EQ(size, needed);
}

// One locale field under the current environment; the error when it fails.
std::u16string Field(LCID lcid, LCTYPE type, DWORD* error = nullptr) {
  WCHAR text[256] = {};
  SetLastError(0);
  const int written = GetLocaleInfoW(lcid, type, text, 256);
  if (error != nullptr) *error = written == 0 ? GetLastError() : 0;
  return text;
}

TEST(Locale, FieldsOfKnownLocales) {
  setenv("LC_ALL", "en_US.UTF-8", 1);
  struct Case {
    LCID lcid;
    const char16_t* language;
    const char16_t* abbreviation;
    const char16_t* country;
    const char16_t* code;
  } cases[] = {
      {0x0409, u"English (United States)", u"ENU", u"USA", u"1"},
      {0x0407, u"German (Germany)", u"DEU", u"DEU", u"49"},
      {0x0C07, u"German (Austria)", u"DEA", u"AUT", u"43"},
      {0x040C, u"French (France)", u"FRA", u"FRA", u"33"},
      {0x0C0C, u"French (Canada)", u"FRC", u"CAN", u"2"},
      {0x0809, u"English (United Kingdom)", u"ENG", u"GBR", u"44"},
      {0x0411, u"Japanese (Japan)", u"JPN", u"JPN", u"81"},
      {0x0007, u"German", u"DEU", u"DEU", u"49"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Field(c.lcid, LOCALE_SLANGUAGE), c.language) << std::hex << c.lcid;
    EXPECT_EQ(Field(c.lcid, LOCALE_SABBREVLANGNAME), c.abbreviation) << std::hex << c.lcid;
    EXPECT_EQ(Field(c.lcid, LOCALE_SABBREVCTRYNAME), c.country) << std::hex << c.lcid;
    EXPECT_EQ(Field(c.lcid, LOCALE_ICOUNTRY | LOCALE_NOUSEROVERRIDE), c.code) << std::hex << c.lcid;
  }
  unsetenv("LC_ALL");
}

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

TEST(Locale, EnumerationGivesEveryLocaleAsHexDigits) {
  static std::u16string first;
  static int count = 0;
  count = 0;
  first.clear();
  ASSERT_TRUE(EnumSystemLocalesW(
      [](LPWSTR text) -> BOOL {
        if (count++ == 0) first = text;
        return TRUE;
      },
      LCID_SUPPORTED));
  EXPECT_GT(count, 300);
  EXPECT_EQ(first.size(), 8u);
  count = 0;
  EXPECT_TRUE(EnumSystemLocalesW([](LPWSTR) -> BOOL { return ++count < 3; }, LCID_INSTALLED));
  EXPECT_EQ(count, 3);  // FALSE from the callback stops the enumeration
  EXPECT_FALSE(EnumSystemLocalesW([](LPWSTR) -> BOOL { return TRUE; }, 0));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_FLAGS});
}

TEST(Geo, NationFromTheAddressLocaleAndItsCodes) {
  struct Case {
    const char* lang;
    const char* address;
    GEOID nation;
    const char16_t* iso3;
  } cases[] = {
      {"de_DE.UTF-8", nullptr, 94, u"DEU"},
      {"en_US.UTF-8", "fr_CH.UTF-8", 223, u"CHE"},
      {"en_GB", nullptr, 242, u"GBR"},
      {"C.UTF-8", nullptr, GEOID_NOT_AVAILABLE, nullptr},
      {"de", nullptr, GEOID_NOT_AVAILABLE, nullptr},
      {"!!garbage", nullptr, GEOID_NOT_AVAILABLE, nullptr},
  };
  for (const Case& c : cases) {
    setenv("LANG", c.lang, 1);
    if (c.address != nullptr) setenv("LC_ADDRESS", c.address, 1);
    const GEOID nation = GetUserGeoID(GEOCLASS_NATION);
    EXPECT_EQ(nation, c.nation) << c.lang;
    EXPECT_EQ(GetUserGeoID(GEOCLASS_REGION), GEOID_NOT_AVAILABLE);
    if (c.iso3 != nullptr) {
      WCHAR iso3[100] = {};
      EXPECT_EQ(GetGeoInfoW(nation, GEO_ISO3, iso3, 100, 0), 4);
      EXPECT_EQ(std::u16string(iso3), c.iso3);
    }
    unsetenv("LC_ADDRESS");
  }
  unsetenv("LANG");
  WCHAR text[100];
  EXPECT_EQ(GetGeoInfoW(12345, GEO_ISO3, text, 100, 0), 0);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_PARAMETER});
  EXPECT_EQ(GetGeoInfoW(94, GEO_LATITUDE, text, 100, 0), 0);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_FLAGS});
}

}  // namespace
