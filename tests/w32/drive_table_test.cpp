// Drive letters: the drive form of a path and back, through a table folder.
#include <gtest/gtest.h>
#include <unistd.h>
#include <windows.h>

#include <cstdlib>
#include <string>

#include "kernel/drive_table.h"

namespace {

// The table is read once per process, so the folder is in place before any test runs.
struct TableFolder {
  std::string folder, media;
  TableFolder() {
    char pattern[] = "/tmp/w32-drives-XXXXXX";
    folder = mkdtemp(pattern);
    media = folder + "/media";
    mkdir(media.c_str(), 0700);
    symlink((media + "/").c_str(), (folder + "/E:").c_str());
    symlink("/nowhere", (folder + "/c:").c_str());  // C: stays the root
    setenv("W32_DRIVES", folder.c_str(), 1);
  }
  ~TableFolder() { std::system(("rm -rf " + folder).c_str()); }
} table_folder;

TEST(DriveTable, DriveFormToNative) {
  const std::string media = table_folder.media;
  const struct {
    std::u16string path;
    std::string native;
  } cases[] = {
      {u"C:\\tmp\\x", "/tmp/x"}, {u"c:/tmp/x", "/tmp/x"}, {u"C:", "/"}, {u"C:\\", "/"},
      {u"e:\\a\\b", media + "/a/b"}, {u"E:", media}, {u"/already/native", "/already/native"},
      {u"relative\\name", "relative\\name"},
  };
  for (const auto& c : cases) {
    std::string native;
    ASSERT_TRUE(w32::ToNativePath(c.path, &native));
    EXPECT_EQ(native, c.native);
  }
  std::string native;
  SetLastError(0);
  EXPECT_FALSE(w32::ToNativePath(u"Q:\\x", &native));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

TEST(DriveTable, NativeToDriveFormTakesTheLongestRoot) {
  EXPECT_EQ(w32::ToDrivePath("/tmp/x"), u"C:\\tmp\\x");
  EXPECT_EQ(w32::ToDrivePath("/"), u"C:\\");
  EXPECT_EQ(w32::ToDrivePath(table_folder.media + "/a/b"), u"E:\\a\\b");
  // A sibling whose name starts with a root's name is not under that root.
  EXPECT_EQ(w32::ToDrivePath(table_folder.media + "x").substr(0, 3), u"C:\\");
  EXPECT_EQ(w32::ToDrivePath("relative"), u"relative");
  EXPECT_EQ(w32::DriveRoot(u'c'), "/");
  EXPECT_EQ(w32::DriveRoot(u'['), "");
}

}  // namespace
