// Modules: loading by path with the platform's errors and counts, the system
// modules' export table, module file names; path splitting; profile files.
#include <corecrt_wstdlib.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "kernel/drive_table.h"
#include "support/text.h"

namespace {

const std::string kLibraries = DEVICE_TEST_LIBRARY_DIR;

std::u16string LibraryPath(const char* name) { return w32::ToDrivePath(kLibraries + "/" + name); }

class TempFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/w32-module-XXXXXX";
    folder_ = mkdtemp(pattern);
  }
  void TearDown() override { std::system(("rm -rf " + folder_).c_str()); }
  std::string Write(const char* name, const std::string& bytes) {
    const std::string path = folder_ + "/" + name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }
  std::string folder_;
};

using Modules = TempFolder;

TEST_F(Modules, LoadFailuresGiveThePlatformsErrors) {
  const std::string text = Write("notes.dll", "this is no library");
  const std::string empty = Write("empty.dll", "");
  const std::string elf32 = Write("elf32.dll", std::string("\x7f" "ELF\x01\x01\x01", 7) + std::string(57, '\0'));
  const struct {
    std::u16string name;
    DWORD flags;
    DWORD error;
  } cases[] = {
      {LibraryPath("Missing.dll"), LOAD_WITH_ALTERED_SEARCH_PATH, ERROR_MOD_NOT_FOUND},
      {u"Q:\\nowhere\\x.dll", 0, ERROR_MOD_NOT_FOUND},
      {w32::ToDrivePath(text), LOAD_WITH_ALTERED_SEARCH_PATH, ERROR_BAD_EXE_FORMAT},
      {w32::ToDrivePath(empty), 0, ERROR_BAD_EXE_FORMAT},
      {w32::ToDrivePath(elf32), 0, ERROR_BAD_EXE_FORMAT},
      {w32::ToDrivePath(folder_), 0, ERROR_ACCESS_DENIED},
      // Its dependency lies in its own folder only: found with the altered search alone.
      {LibraryPath("NeedsDep.dll"), 0, ERROR_MOD_NOT_FOUND},
      {u"", 0, ERROR_INVALID_PARAMETER},
  };
  for (const auto& c : cases) {
    SetLastError(0);
    EXPECT_EQ(LoadLibraryExW(c.name.c_str(), nullptr, c.flags), nullptr) << w32::ToUtf8(c.name);
    EXPECT_EQ(GetLastError(), c.error) << w32::ToUtf8(c.name);
  }
}

TEST(Module, LoadCountsAndExports) {
  const std::u16string path = LibraryPath("Plain.dll");
  HMODULE first = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  ASSERT_NE(first, nullptr);
  HMODULE second = LoadLibraryW(path.c_str());
  EXPECT_EQ(second, first);
  auto answer = reinterpret_cast<int (*)()>(reinterpret_cast<void*>(GetProcAddress(first, "PlainAnswer")));
  ASSERT_NE(answer, nullptr);
  EXPECT_EQ(answer(), 42);
  // Only the library's own exports: not those of the C library it needs.
  EXPECT_EQ(GetProcAddress(first, "malloc"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
  EXPECT_EQ(GetProcAddress(first, "DllRegisterServer"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));

  WCHAR name[MAX_PATH];
  const DWORD length = GetModuleFileNameW(first, name, MAX_PATH);
  EXPECT_EQ(std::u16string(name, length), path);
  WCHAR drive[_MAX_DRIVE], dir[_MAX_DIR], file[_MAX_FNAME], ext[_MAX_EXT];
  _wsplitpath(name, drive, dir, file, ext);
  EXPECT_EQ(std::u16string(drive) + dir + file + ext, path);
  EXPECT_EQ(std::u16string(file) + ext, u"Plain.dll");

  EXPECT_TRUE(FreeLibrary(first));
  EXPECT_NE(GetProcAddress(first, "PlainAnswer"), nullptr);  // one load still counted
  EXPECT_TRUE(FreeLibrary(second));
  SetLastError(0);
  EXPECT_FALSE(FreeLibrary(first));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(GetProcAddress(first, "PlainAnswer"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST(Module, AlteredSearchFindsDependenciesInTheLibrarysFolder) {
  const std::u16string path = LibraryPath("NeedsDep.dll");
  HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  ASSERT_NE(module, nullptr);
  auto registration = reinterpret_cast<int (*)()>(reinterpret_cast<void*>(GetProcAddress(module, "DllRegisterServer")));
  ASSERT_NE(registration, nullptr);
  EXPECT_EQ(registration(), 0);
  EXPECT_TRUE(FreeLibrary(module));
}

TEST(Module, StrangerHandlesAreRefused) {
  int not_a_module = 0;
  const HMODULE strangers[] = {nullptr, reinterpret_cast<HMODULE>(&not_a_module), reinterpret_cast<HMODULE>(0x10),
                               reinterpret_cast<HMODULE>(~static_cast<ULONG_PTR>(0))};
  for (HMODULE stranger : strangers) {
    SetLastError(0);
    EXPECT_FALSE(FreeLibrary(stranger));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(GetProcAddress(stranger, "PlainAnswer"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    WCHAR name[MAX_PATH];
    if (stranger != nullptr) {
      EXPECT_EQ(GetModuleFileNameW(stranger, name, MAX_PATH), 0u);
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    }
  }
}

TEST(Module, SystemModulesExportOnlyTheirTableRows) {
  // (module, function, exported there on the platform)
  const struct {
    const WCHAR* module;
    const char* function;
    bool found;
  } cases[] = {
      {u"ole32.dll", "CoInitializeEx", true},
      {u"OLE32", "CoInitializeEx", true},
      {u"kernel32.dll", "CoInitializeEx", false},
      {u"ole32.dll", "CoCreateInstance", false},  // exported on the platform, but never looked up
      {u"kernel32.dll", "LoadLibraryW", false},
      {u"shell32.dll", "SHGetFolderPathW", false},
  };
  for (const auto& c : cases) {
    HMODULE module = LoadLibraryW(c.module);
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(module, GetModuleHandleW(c.module));
    SetLastError(0);
    const FARPROC proc = GetProcAddress(module, c.function);
    EXPECT_EQ(proc != nullptr, c.found) << c.function;
    if (!c.found) {
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
    }
    EXPECT_TRUE(FreeLibrary(module));
  }
  EXPECT_EQ(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(u"ole32.dll"), "CoInitializeEx")),
            reinterpret_cast<void*>(&CoInitializeEx));
}

TEST(Module, FileNamesFromAddressesAndTruncation) {
  HMODULE self = nullptr;
  ASSERT_TRUE(GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                 reinterpret_cast<LPCWSTR>(&LoadLibraryW), &self));
  WCHAR name[MAX_PATH];
  const DWORD length = GetModuleFileNameW(self, name, MAX_PATH);
  ASSERT_GT(length, 3u);
  EXPECT_EQ(std::u16string(name, 3), u"C:\\");
  EXPECT_NE(std::u16string(name).find(u"libw32.so"), std::u16string::npos);
  WCHAR small[5] = {u'x', u'x', u'x', u'x', u'x'};
  EXPECT_EQ(GetModuleFileNameW(self, small, 5), 5u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(std::u16string(small), std::u16string(name, 4));
  EXPECT_GT(GetModuleFileNameW(nullptr, name, MAX_PATH), 0u);
}

TEST(SplitPath, Parts) {
  const struct {
    const WCHAR* path;
    const WCHAR* drive;
    const WCHAR* dir;
    const WCHAR* name;
    const WCHAR* ext;
  } cases[] = {
      {u"C:\\Program Files\\App\\_Device.pyd", u"C:", u"\\Program Files\\App\\", u"_Device", u".pyd"},
      {u"C:/a.b/c", u"C:", u"/a.b/", u"c", u""},
      {u"file.tar.gz", u"", u"", u"file.tar", u".gz"},
      {u"\\x\\.hidden", u"", u"\\x\\", u"", u".hidden"},
      {u"D:", u"D:", u"", u"", u""},
      {u"", u"", u"", u"", u""},
  };
  for (const auto& c : cases) {
    WCHAR drive[_MAX_DRIVE], dir[_MAX_DIR], name[_MAX_FNAME], ext[_MAX_EXT];
    _wsplitpath(c.path, drive, dir, name, ext);
    EXPECT_EQ(std::u16string(drive), c.drive);
    EXPECT_EQ(std::u16string(dir), c.dir);
    EXPECT_EQ(std::u16string(name), c.name);
    EXPECT_EQ(std::u16string(ext), c.ext);
  }
  // A folder longer than its room: every part empty, nothing written past the buffers.
  const std::u16string deep = u"C:\\" + std::u16string(300, u'd') + u"\\x.ini";
  WCHAR drive[_MAX_DRIVE] = u"Z", dir[_MAX_DIR] = u"Z", name[_MAX_FNAME] = u"Z", ext[_MAX_EXT] = u"Z";
  _wsplitpath(deep.c_str(), drive, dir, name, ext);
  EXPECT_EQ(std::u16string(drive) + dir + name + ext, u"");
  _wsplitpath(deep.c_str(), nullptr, nullptr, name, nullptr);  // only the parts asked for
  EXPECT_EQ(std::u16string(name), u"x");
}

using Profile = TempFolder;

TEST_F(Profile, StringsSectionsAndTruncation) {
  const std::string ini = Write("DllPath.ini",
                                "; settings\r\n"
                                "orphan=before any section\r\n"
                                "[Path]\r\n"
                                "  QXDeviceDetector.dll =  detector/QXDeviceDetector.dll  \r\n"
                                "Quoted=\"  spaced  \"\r\n"
                                "Empty=\r\n"
                                "QXDeviceDetector.dll=second match ignored\r\n"
                                "[ Other ]\n"
                                "key=other value\n");
  const std::u16string file = w32::ToDrivePath(ini);
  const struct {
    const WCHAR* section;
    const WCHAR* key;
    const WCHAR* fallback;
    DWORD size;
    DWORD count;
    std::u16string text;  // the buffer up to the count, with its terminator(s)
  } cases[] = {
      {u"Path", u"QXDeviceDetector.dll", u"", 260, 29, u"detector/QXDeviceDetector.dll"},
      {u"PATH", u"qxdevicedetector.DLL", u"", 260, 29, u"detector/QXDeviceDetector.dll"},
      {u"Path", u"Quoted", u"", 260, 10, u"  spaced  "},
      {u"Path", u"Empty", u"fallback", 260, 0, u""},
      {u"Path", u"Missing", u"fallback  ", 260, 8, u"fallback"},
      {u"Path", u"Missing", nullptr, 260, 0, u""},
      {u"Nope", u"orphan", u"d", 260, 1, u"d"},
      {u"other", u"KEY", u"", 260, 11, u"other value"},
      {u"Path", u"QXDeviceDetector.dll", u"", 9, 8, u"detector"},
      {nullptr, nullptr, u"", 260, 11, std::u16string(u"Path\0Other\0", 11)},
      {nullptr, nullptr, u"", 8, 6, std::u16string(u"Path\0O\0", 7)},
      {u"path", nullptr, u"", 260, 55,
       std::u16string(u"QXDeviceDetector.dll\0Quoted\0Empty\0QXDeviceDetector.dll\0", 55)},
  };
  for (const auto& c : cases) {
    std::u16string buffer(300, u'#');
    const DWORD count = GetPrivateProfileStringW(c.section, c.key, c.fallback, buffer.data(), c.size, file.c_str());
    EXPECT_EQ(count, c.count) << w32::ToUtf8(c.text);
    EXPECT_EQ(buffer.substr(0, c.text.size() + 1), c.text + u'\0') << w32::ToUtf8(c.text);
  }
}

TEST_F(Profile, MissingFileAndUtf16Text) {
  WCHAR buffer[32];
  SetLastError(0);
  EXPECT_EQ(GetPrivateProfileStringW(u"Path", u"a", u"none", buffer, 32, u"C:\\no\\such\\DllPath.ini"), 4u);
  EXPECT_EQ(std::u16string(buffer), u"none");
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(GetPrivateProfileStringW(u"Path", u"a", u"none", buffer, 0, u"C:\\no\\such\\DllPath.ini"), 0u);

  const std::u16string text = u"[Path]\r\na=\u00e9t\u00e9\r\n";
  std::string bytes = "\xFF\xFE";
  bytes.append(reinterpret_cast<const char*>(text.data()), text.size() * 2);
  const std::u16string file = w32::ToDrivePath(Write("wide.ini", bytes));
  EXPECT_EQ(GetPrivateProfileStringW(u"Path", u"a", u"", buffer, 32, file.c_str()), 3u);
  EXPECT_EQ(std::u16string(buffer), u"\u00e9t\u00e9");
}

}  // namespace
