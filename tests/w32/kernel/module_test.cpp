// Path splitting and profile values cut to their buffers: bounds the module's
// entry points cannot reach. Loading, exports and the settings file's forms
// are tested at the entry points (test_library_loading.py, test_detector.py).
#include <corecrt_wstdlib.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "../temp_folder.h"
#include "kernel/drive_table.h"

namespace {

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

TEST(Profile, ValuesAreCutToTheBuffer) {
  TempFolder folder;
  const std::u16string file = w32::ToDrivePath(folder.Write("DllPath.ini", "[Path]\nkey=detector.so\n"));
  const struct {
    const WCHAR* key;
    DWORD size;
    DWORD count;
    std::u16string text;
  } cases[] = {
      {u"key", 260, 11, u"detector.so"},
      {u"key", 9, 8, u"detector"},
      {u"missing", 5, 4, u"fall"},
  };
  for (const auto& c : cases) {
    std::u16string buffer(300, u'#');
    EXPECT_EQ(GetPrivateProfileStringW(u"Path", c.key, u"fallback", buffer.data(), c.size, file.c_str()), c.count);
    EXPECT_EQ(buffer.substr(0, c.count + 1), c.text + u'\0') << c.size;
    EXPECT_EQ(buffer[c.size], u'#') << c.size;  // nothing past the buffer
  }
}

}  // namespace
