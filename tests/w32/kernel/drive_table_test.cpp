// Drive letters: the drive form of a path and back, through a table folder;
// the letters volumes had, remembered in a file of the user's.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "kernel/drive_table.h"
#include "kernel/volume_letters.h"

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

namespace {

using w32::RememberedVolume;

TEST(VolumeLetters, ANewVolumeTakesItsOwnThenAnUnclaimedThenTheOldestLetter) {
  bool none_taken[26] = {};
  bool all_taken[26];
  std::fill(std::begin(all_taken), std::end(all_taken), true);
  bool only_e_free[26];
  std::fill(std::begin(only_e_free), std::end(only_e_free), true);
  only_e_free['E' - 'A'] = false;
  bool d_taken[26] = {};
  d_taken['D' - 'A'] = true;
  std::vector<RememberedVolume> every_letter;  // D: to Z:, Z: seen longest ago
  for (char16_t letter = u'D'; letter <= u'Z'; ++letter) every_letter.push_back({letter, 100u - letter, "k"});
  const struct {
    const char* what;
    std::vector<RememberedVolume> remembered;
    const bool (&taken)[26];
    char16_t letter;
  } cases[] = {
      {"nothing remembered", {}, none_taken, u'D'},
      {"its own letter", {{u'D', 1, "other"}, {u'G', 2, "me"}}, none_taken, u'G'},
      {"its own letter taken", {{u'D', 1, "me"}}, d_taken, u'E'},
      {"past remembered letters", {{u'D', 1, "a"}, {u'E', 2, "b"}}, none_taken, u'F'},
      {"every letter remembered", every_letter, none_taken, u'Z'},
      {"the only free one", every_letter, only_e_free, u'E'},
      {"every letter taken", {}, all_taken, 0},
  };
  for (const auto& c : cases) EXPECT_EQ(w32::ChooseLetter(c.remembered, "me", c.taken), c.letter) << c.what;

  std::vector<RememberedVolume> remembered = {{u'D', 1, "a"}, {u'E', 2, "b"}};
  w32::RememberLetter(&remembered, "b", u'D');  // b moves to D:, a loses it
  ASSERT_EQ(remembered.size(), 1u);
  EXPECT_EQ(remembered[0].key, "b");
  EXPECT_EQ(remembered[0].seen, 3u);
}

TEST(VolumeLetters, TheFileKeepsAnyKeyAndSkipsWhatIsNoLine) {
  const std::vector<RememberedVolume> volumes = {
      {u'D', 7, "uuid:3f1c"}, {u'Z', 18446744073709551615u, "mount:/dev/x\t/media/a\\b\nc"}};
  const std::string text = w32::FormatRememberedVolumes(volumes);
  const auto read = w32::ParseRememberedVolumes(text + "C\t1\tdrive\nD\tx\tk\nE\t1\t\n\n" + "F\t2\tlast");
  ASSERT_EQ(read.size(), 3u);
  for (size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(read[i].letter, volumes[i].letter);
    EXPECT_EQ(read[i].seen, volumes[i].seen);
    EXPECT_EQ(read[i].key, volumes[i].key);
  }
  EXPECT_EQ(read[2].key, "last");
}

// Processes that remember letters at once lose none of them; a folder or
// file another user could have made is neither believed nor written.
TEST(VolumeLetters, ConcurrentProcessesAndPlantedFiles) {
  char pattern[] = "/tmp/w32-letters-XXXXXX";
  const std::string folder = std::string(mkdtemp(pattern)) + "/a/b";
  std::vector<pid_t> children;
  for (int child = 0; child < 6; ++child) {
    const pid_t pid = fork();
    if (pid == 0) {
      for (int round = 0; round < 20; ++round) {
        w32::UpdateRememberedVolumes(folder, [&](std::vector<RememberedVolume>* remembered) {
          remembered->push_back({static_cast<char16_t>(u'D' + child), 0, std::to_string(child) + ":" + std::to_string(round)});
        });
      }
      _exit(0);
    }
    children.push_back(pid);
  }
  for (const pid_t pid : children) waitpid(pid, nullptr, 0);
  size_t count = 0;
  w32::UpdateRememberedVolumes(folder, [&](std::vector<RememberedVolume>* remembered) { count = remembered->size(); });
  EXPECT_EQ(count, 6u * 20u);
  struct stat status {};
  ASSERT_EQ(stat(folder.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0700u);

  const std::string file = folder + "/volume-letters";
  const struct {
    const char* what;
    std::string setup;
  } planted[] = {
      {"a folder others may write to", "chmod 0777 '" + folder + "'"},
      {"a file of another user", "chown 65534 '" + file + "'"},
      {"a link in the file's place", "mv '" + file + "' '" + file + ".x' && ln -s '" + file + ".x' '" + file + "'"},
  };
  for (const auto& c : planted) {
    std::system(("rm -rf '" + folder + "' && mkdir -m 0700 '" + folder + "' && printf 'D\\t1\\tplanted\\n' > '" + file +
                 "' && " + c.setup).c_str());
    size_t seen = 99;
    w32::UpdateRememberedVolumes(folder, [&](std::vector<RememberedVolume>* remembered) {
      seen = remembered->size();
      remembered->push_back({u'E', 2, "mine"});
    });
    EXPECT_EQ(seen, 0u) << c.what;
    std::ifstream kept(c.setup.find("ln -s") != std::string::npos ? file + ".x" : file);
    std::string line;
    std::getline(kept, line);
    EXPECT_EQ(line, "D\t1\tplanted") << c.what;
  }
  std::system(("rm -rf '" + folder.substr(0, folder.size() - 4) + "'").c_str());
}

}  // namespace
