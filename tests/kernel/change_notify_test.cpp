// Files with share modes and directory change reads over inotify, on real folders.
#include <gtest/gtest.h>
#include <windows.h>

#include <fcntl.h>
#include <ftw.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "support/text.h"

namespace {

constexpr DWORD kFilter = 0x57;  // file and folder names, attributes, last write, creation
constexpr DWORD kHangGuard = 20000;  // milliseconds: a read that never finishes fails the test

struct HandleCloser {
  void operator()(void* handle) const { CloseHandle(handle); }
};
using Handle = std::unique_ptr<void, HandleCloser>;

class TempFolder {
 public:
  explicit TempFolder(const std::string& base = "/tmp") {
    std::string pattern = base + "/w32-change-XXXXXX";
    path_ = ::mkdtemp(pattern.data());
  }
  ~TempFolder() {
    ::nftw(path_.c_str(), [](const char* path, const struct stat*, int, FTW*) { return ::remove(path); }, 16,
           FTW_DEPTH | FTW_PHYS);
  }
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

void Touch(const std::string& path) { ::close(::open(path.c_str(), O_CREAT | O_WRONLY, 0644)); }
void Append(const std::string& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND);
  ASSERT_EQ(::write(fd, "x", 1), 1);
  ::close(fd);
}

std::u16string Wide(const std::string& text) { return w32::ToUtf16(text); }

HANDLE Open(const std::string& path, DWORD access, DWORD share, DWORD flags = FILE_FLAG_BACKUP_SEMANTICS) {
  return CreateFileW(Wide(path).c_str(), access, share, nullptr, OPEN_EXISTING, flags, nullptr);
}

struct Change {
  DWORD action;
  std::u16string name;
  bool operator==(const Change& other) const { return action == other.action && name == other.name; }
};

std::ostream& operator<<(std::ostream& out, const Change& change) {
  return out << change.action << ":" << w32::ToUtf8(change.name);
}

Change Added(const std::string& name) { return {FILE_ACTION_ADDED, Wide(name)}; }
Change Removed(const std::string& name) { return {FILE_ACTION_REMOVED, Wide(name)}; }
Change Modified(const std::string& name) { return {FILE_ACTION_MODIFIED, Wide(name)}; }
Change OldName(const std::string& name) { return {FILE_ACTION_RENAMED_OLD_NAME, Wide(name)}; }
Change NewName(const std::string& name) { return {FILE_ACTION_RENAMED_NEW_NAME, Wide(name)}; }

std::vector<Change> Parse(const BYTE* buffer, DWORD bytes) {
  std::vector<Change> changes;
  for (DWORD offset = 0; bytes != 0;) {
    const auto* record = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(buffer + offset);
    EXPECT_EQ(offset % 4, 0u);
    EXPECT_LE(offset + offsetof(FILE_NOTIFY_INFORMATION, FileName) + record->FileNameLength, bytes);
    changes.push_back({record->Action, std::u16string(record->FileName, record->FileNameLength / 2)});
    if (record->NextEntryOffset == 0) break;
    offset += record->NextEntryOffset;
  }
  return changes;
}

// An overlapped change read on a folder, as the module makes it.
class Watch {
 public:
  explicit Watch(const std::string& path, DWORD filter = kFilter, bool subtree = true, DWORD size = 65536)
      : directory_(Open(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                        FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED)),
        event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
        buffer_(size / 4 + 1),
        size_(size),
        filter_(filter),
        subtree_(subtree) {
    EXPECT_NE(directory_.get(), INVALID_HANDLE_VALUE);
    overlapped_.hEvent = event_.get();
  }
  ~Watch() {
    CancelIo(directory_.get());
    DWORD bytes = 0;
    GetOverlappedResult(directory_.get(), &overlapped_, &bytes, TRUE);
  }

  HANDLE directory() const { return directory_.get(); }
  OVERLAPPED* overlapped() { return &overlapped_; }
  HANDLE event() const { return event_.get(); }

  BOOL Arm() {
    DWORD unused = 0;
    return ReadDirectoryChangesW(directory_.get(), buffer_.data(), size_, subtree_, filter_, &unused, &overlapped_,
                                 nullptr);
  }

  // Waits for the armed read; its records, with the read's outcome in *ok and *error.
  std::vector<Change> Finish(BOOL* ok = nullptr, DWORD* error = nullptr, DWORD* byte_count = nullptr) {
    EXPECT_EQ(WaitForSingleObject(event_.get(), kHangGuard), WAIT_OBJECT_0);
    DWORD bytes = 0;
    const BOOL result = GetOverlappedResult(directory_.get(), &overlapped_, &bytes, FALSE);
    if (ok != nullptr) *ok = result;
    if (error != nullptr) *error = GetLastError();
    if (byte_count != nullptr) *byte_count = bytes;
    return result ? Parse(reinterpret_cast<const BYTE*>(buffer_.data()), bytes) : std::vector<Change>{};
  }

  // Reads (the read armed already) until a record of `last` arrives; every record up to it.
  std::vector<Change> CollectUntil(const Change& last) {
    std::vector<Change> all;
    for (;;) {
      BOOL ok = FALSE;
      std::vector<Change> changes = Finish(&ok);
      if (!ok) return all;
      all.insert(all.end(), changes.begin(), changes.end());
      for (const Change& change : changes) {
        if (change == last) return all;
      }
      if (!Arm()) return all;
    }
  }

 private:
  Handle directory_;
  Handle event_;
  std::vector<DWORD> buffer_;  // DWORD-aligned, as the platform asks
  OVERLAPPED overlapped_{};
  DWORD size_;
  DWORD filter_;
  bool subtree_;
};

// The armed read fails with `error`, and so does every later arming.
void ExpectWatchEnded(Watch& watch, DWORD error) {
  BOOL ok = TRUE;
  DWORD finished = 0;
  watch.Finish(&ok, &finished);
  EXPECT_FALSE(ok);
  EXPECT_EQ(finished, error);
  EXPECT_FALSE(watch.Arm());
  EXPECT_EQ(GetLastError(), error);
}

// --- CreateFileW ---

// Only opening what exists is supported: nothing is ever made.
TEST(CreateFile, OpenFailuresGiveThePlatformsErrors) {
  TempFolder temp;
  Touch(temp / "file");
  constexpr DWORD kBackup = FILE_FLAG_BACKUP_SEMANTICS;
  const struct {
    std::string path;
    DWORD disposition, flags, error;
  } cases[] = {
      {temp / "missing", OPEN_EXISTING, kBackup, ERROR_FILE_NOT_FOUND},
      {temp / "missing/deeper", OPEN_EXISTING, kBackup, ERROR_PATH_NOT_FOUND},
      {temp / "file/deeper", OPEN_EXISTING, kBackup, ERROR_PATH_NOT_FOUND},
      {temp.path(), OPEN_EXISTING, 0, ERROR_ACCESS_DENIED},  // a folder needs backup semantics
      {"", OPEN_EXISTING, kBackup, ERROR_PATH_NOT_FOUND},
      {"/" + std::string(5000, 'a'), OPEN_EXISTING, kBackup, ERROR_FILENAME_EXCED_RANGE},
      {temp.path(), 9, kBackup, ERROR_INVALID_PARAMETER},
      {temp / "made", CREATE_NEW, 0, ERROR_NOT_SUPPORTED},
      {temp / "made", CREATE_ALWAYS, 0, ERROR_NOT_SUPPORTED},
      {temp / "made", OPEN_ALWAYS, 0, ERROR_NOT_SUPPORTED},
      {temp / "made", TRUNCATE_EXISTING, 0, ERROR_NOT_SUPPORTED},
      {temp / "file", OPEN_EXISTING, FILE_FLAG_DELETE_ON_CLOSE, ERROR_NOT_SUPPORTED},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CreateFileW(Wide(c.path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, c.disposition, c.flags, nullptr),
              INVALID_HANDLE_VALUE)
        << c.path << " " << c.disposition;
    EXPECT_EQ(GetLastError(), c.error) << c.path << " " << c.disposition;
  }
  EXPECT_NE(::access((temp / "made").c_str(), F_OK), 0);
  EXPECT_EQ(CreateFileW(nullptr, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(CreateFile, FolderInformation) {
  TempFolder temp;
  Handle folder(Open(temp.path(), GENERIC_READ, FILE_SHARE_READ));
  ASSERT_NE(folder.get(), INVALID_HANDLE_VALUE);
  BY_HANDLE_FILE_INFORMATION information{};
  ASSERT_TRUE(GetFileInformationByHandle(folder.get(), &information));
  EXPECT_TRUE(information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
  struct stat status;
  ::stat(temp.path().c_str(), &status);
  EXPECT_EQ(information.nFileIndexLow, static_cast<DWORD>(status.st_ino));
}

TEST(CreateFile, ShareModesAmongW32Handles) {
  TempFolder temp;
  constexpr DWORD kReadWrite = FILE_SHARE_READ | FILE_SHARE_WRITE;
  constexpr DWORD kAll = kReadWrite | FILE_SHARE_DELETE;
  // A first open, a second one, and whether the second is allowed while the first is open.
  const struct {
    DWORD first_access, first_share, second_access, second_share;
    bool allowed;
  } cases[] = {
      {GENERIC_READ, kReadWrite, DELETE, kAll, false},  // a watched folder cannot be deleted
      {GENERIC_READ, kReadWrite, GENERIC_READ, kReadWrite, true},
      {GENERIC_READ, kReadWrite, GENERIC_WRITE, kAll, true},
      {GENERIC_READ, kReadWrite, GENERIC_READ, FILE_SHARE_READ, true},
      {GENERIC_READ, kReadWrite, FILE_READ_ATTRIBUTES, 0, true},  // no data access: no part in sharing
      {FILE_READ_ATTRIBUTES, 0, GENERIC_READ | DELETE, 0, true},
      {GENERIC_READ, kReadWrite, GENERIC_READ, 0, false},  // would refuse the first's reads
      {GENERIC_READ, FILE_SHARE_READ, GENERIC_WRITE, kAll, false},
      {GENERIC_WRITE, kAll, GENERIC_READ, FILE_SHARE_READ, false},  // the second would refuse the first's writes
      {DELETE, kAll, GENERIC_READ, kReadWrite, false},
      {DELETE, kAll, GENERIC_READ, kAll, true},
      {GENERIC_READ, 0, GENERIC_READ, kAll, false},
  };
  for (const auto& c : cases) {
    Handle first(Open(temp.path(), c.first_access, c.first_share));
    ASSERT_NE(first.get(), INVALID_HANDLE_VALUE);
    Handle second(Open(temp.path(), c.second_access, c.second_share));
    EXPECT_EQ(second.get() != INVALID_HANDLE_VALUE, c.allowed)
        << std::hex << c.first_access << "/" << c.first_share << " then " << c.second_access << "/" << c.second_share;
    if (!c.allowed) {
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
      second.release();
    }
  }
  // Closed handles no longer count.
  Handle alone(Open(temp.path(), DELETE, 0));
  EXPECT_NE(alone.get(), INVALID_HANDLE_VALUE);
}

// --- ReadDirectoryChangesW ---

TEST(ReadDirectoryChanges, RefusedArguments) {
  TempFolder temp;
  Touch(temp / "file");
  Handle file(Open(temp / "file", GENERIC_READ, FILE_SHARE_READ, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED));
  Handle folder(Open(temp.path(), GENERIC_READ, FILE_SHARE_READ, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED));
  Handle attributes_only(
      Open(temp.path(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED));
  alignas(4) BYTE buffer[256];
  OVERLAPPED overlapped{}, bad_event{};
  bad_event.hEvent = reinterpret_cast<HANDLE>(0x7FFFFFF0);
  DWORD bytes = 0;
  const struct {
    HANDLE handle;
    void* buffer;
    DWORD filter;
    OVERLAPPED* overlapped;
    DWORD error;
  } cases[] = {
      {reinterpret_cast<HANDLE>(0x7FFFFFF0), buffer, kFilter, &overlapped, ERROR_INVALID_HANDLE},
      {file.get(), buffer, kFilter, &overlapped, ERROR_INVALID_PARAMETER},
      {folder.get(), buffer, 0, &overlapped, ERROR_INVALID_PARAMETER},
      {folder.get(), buffer, 0x200, &overlapped, ERROR_INVALID_PARAMETER},
      {folder.get(), buffer, kFilter, nullptr, ERROR_INVALID_PARAMETER},
      {folder.get(), buffer + 1, kFilter, &overlapped, ERROR_NOACCESS},
      {attributes_only.get(), buffer, kFilter, &overlapped, ERROR_ACCESS_DENIED},
      {folder.get(), buffer, kFilter, &bad_event, ERROR_INVALID_HANDLE},
  };
  for (const auto& c : cases) {
    EXPECT_FALSE(ReadDirectoryChangesW(c.handle, c.buffer, sizeof buffer - 4, TRUE, c.filter, &bytes, c.overlapped,
                                       nullptr));
    EXPECT_EQ(GetLastError(), c.error);
  }
}

TEST(ReadDirectoryChanges, AddModifyRemoveInTheFolder) {
  TempFolder temp;
  Watch watch(temp.path());
  ASSERT_TRUE(watch.Arm());
  Touch(temp / "a.txt");
  Append(temp / "a.txt");
  Append(temp / "a.txt");
  ::unlink((temp / "a.txt").c_str());
  Touch(temp / "end");
  // Consecutive writes give one record or several, as the reads fall between them.
  std::vector<Change> changes = watch.CollectUntil(Added("end"));
  changes.erase(std::unique(changes.begin(), changes.end()), changes.end());
  EXPECT_EQ(changes, (std::vector<Change>{Added("a.txt"), Modified("a.txt"), Removed("a.txt"), Added("end")}));
}

TEST(ReadDirectoryChanges, NewFoldersAreWatchedAndReportedOnce) {
  TempFolder temp;
  Watch watch(temp.path());
  ASSERT_TRUE(watch.Arm());
  // Entries made right after their folder race the new watch: each must come exactly once.
  std::vector<Change> expected;
  for (int i = 0; i < 40; ++i) {
    const std::string folder = "d" + std::to_string(i);
    ::mkdir((temp / folder).c_str(), 0755);
    ::mkdir((temp / (folder + "/inner")).c_str(), 0755);
    Touch(temp / (folder + "/inner/f"));
    // Each entry also moves the last-write time of its folder, below the watched one.
    expected.push_back(Added(folder));
    expected.push_back(Added(folder + "/inner"));
    expected.push_back(Modified(folder));
    expected.push_back(Added(folder + "/inner/f"));
    expected.push_back(Modified(folder + "/inner"));
  }
  Touch(temp / "end");
  expected.push_back(Added("end"));
  EXPECT_EQ(watch.CollectUntil(Added("end")), expected);
}

// Within the tree a move is a rename; across its edge, a removal or an addition. A folder
// moved in is watched with what it holds; one moved out is watched no more.
TEST(ReadDirectoryChanges, RenamesAndMovesAcrossTheEdge) {
  TempFolder temp, outside;
  ::mkdir((temp / "w").c_str(), 0755);
  ::mkdir((temp / "w/sub").c_str(), 0755);
  ::mkdir((temp / "w/gone").c_str(), 0755);
  Touch(temp / "w/sub/x.txt");
  Touch(temp / "w/leaving");
  Touch(outside / "coming");
  ::mkdir((outside / "d").c_str(), 0755);
  ::mkdir((outside / "d/s").c_str(), 0755);
  Touch(outside / "d/s/g");
  Watch watch(temp / "w");
  ASSERT_TRUE(watch.Arm());
  ::rename((temp / "w/sub/x.txt").c_str(), (temp / "w/sub/y.txt").c_str());
  ::rename((temp / "w/sub/y.txt").c_str(), (temp / "w/moved.txt").c_str());
  ::rename((temp / "w/leaving").c_str(), (outside / "left").c_str());
  ::rename((outside / "coming").c_str(), (temp / "w/came").c_str());
  ::rename((temp / "w/sub").c_str(), (temp / "w/renamed").c_str());
  Touch(temp / "w/renamed/inside");
  ::rename((temp / "w/gone").c_str(), (outside / "gone").c_str());
  Touch(outside / "gone/elsewhere");
  ASSERT_EQ(::rename((outside / "d").c_str(), (temp / "w/d").c_str()), 0);
  Touch(temp / "w/d/s/later");
  Touch(temp / "w/end");
  EXPECT_EQ(watch.CollectUntil(Added("end")),
            (std::vector<Change>{OldName("sub/x.txt"), NewName("sub/y.txt"), Modified("sub"), OldName("sub/y.txt"),
                                 NewName("moved.txt"), Modified("sub"), Removed("leaving"), Added("came"),
                                 OldName("sub"), NewName("renamed"), Added("renamed/inside"), Modified("renamed"),
                                 Removed("gone"), Added("d"), Added("d/s"), Modified("d"), Added("d/s/g"),
                                 Modified("d/s"), Added("d/s/later"), Modified("d/s"), Added("end")}));
}

TEST(ReadDirectoryChanges, ChangesWhileNoReadIsArmedWait) {
  TempFolder temp;
  Watch watch(temp.path());
  ASSERT_TRUE(watch.Arm());
  Touch(temp / "first");
  EXPECT_EQ(watch.Finish(), (std::vector<Change>{Added("first")}));
  Touch(temp / "second");
  Touch(temp / "third");
  ::mkdir((temp / "sub").c_str(), 0755);
  Touch(temp / "sub/end");
  ASSERT_TRUE(watch.Arm());
  EXPECT_EQ(watch.CollectUntil(Modified("sub")),
            (std::vector<Change>{Added("second"), Added("third"), Added("sub"), Added("sub/end"), Modified("sub")}));
}

TEST(ReadDirectoryChanges, ASmallBufferTakesWhatFitsAndLeavesTheRest) {
  TempFolder temp;
  Watch watch(temp.path(), kFilter, true, 64);  // two records of 8-character names
  ASSERT_TRUE(watch.Arm());
  std::vector<Change> expected;
  for (char c = 'a'; c <= 'g'; ++c) {
    const std::string name = std::string(7, c) + "x";
    Touch(temp / name);
    expected.push_back(Added(name));
  }
  std::vector<Change> all;
  while (all.size() < expected.size()) {
    DWORD bytes = 0;
    BOOL ok = FALSE;
    std::vector<Change> changes = watch.Finish(&ok, nullptr, &bytes);
    ASSERT_TRUE(ok);
    ASSERT_LE(bytes, 64u);
    ASSERT_FALSE(changes.empty());
    all.insert(all.end(), changes.begin(), changes.end());
    ASSERT_TRUE(watch.Arm());
  }
  EXPECT_EQ(all, expected);
}

TEST(ReadDirectoryChanges, ARecordLargerThanTheBufferFinishesWithZeroBytes) {
  TempFolder temp;
  Watch watch(temp.path(), kFilter, true, 32);
  ASSERT_TRUE(watch.Arm());
  Touch(temp / "a-name-longer-than-the-buffer");
  BOOL ok = FALSE;
  DWORD error = 0, bytes = 1;
  EXPECT_TRUE(watch.Finish(&ok, &error, &bytes).empty());
  EXPECT_TRUE(ok);
  EXPECT_EQ(bytes, 0u);
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_NOTIFY_ENUM_DIR));
  // The lost record is not given again.
  ASSERT_TRUE(watch.Arm());
  Touch(temp / "short");
  EXPECT_EQ(watch.Finish(), (std::vector<Change>{Added("short")}));
}

// The descriptors of the process's inotify instances.
std::vector<int> InotifyDescriptors() {
  std::vector<int> found;
  for (int fd = 0; fd < 1024; ++fd) {
    char target[64] = {};
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    if (::readlink(link.c_str(), target, sizeof target - 1) > 0 && std::string(target) == "anon_inode:inotify") {
      found.push_back(fd);
    }
  }
  return found;
}

// An application that closes descriptors it does not own must not silence
// every watch: the pending read finishes with 0 bytes (changes were lost), and
// later changes are read again.
TEST(ReadDirectoryChanges, AFailedInotifyInstanceIsReplacedAndThePendingReadToldOfLostChanges) {
  TempFolder temp;
  Watch watch(temp.path());
  ASSERT_TRUE(watch.Arm());
  Touch(temp / "a");
  ASSERT_EQ(watch.Finish(), (std::vector<Change>{Added("a")}));
  ASSERT_TRUE(watch.Arm());
  for (int fd : InotifyDescriptors()) ::close(fd);
  Touch(temp / "b");  // the instance lives on while the service polls it, and wakes it
  BOOL ok = FALSE;
  DWORD error = 0, bytes = 1;
  watch.Finish(&ok, &error, &bytes);
  EXPECT_TRUE(ok);
  EXPECT_EQ(bytes, 0u);
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_NOTIFY_ENUM_DIR));
  ASSERT_TRUE(watch.Arm());
  Touch(temp / "c");
  EXPECT_EQ(watch.Finish(), (std::vector<Change>{Added("c")}));
}

TEST(ReadDirectoryChanges, PastAMillionPendingRecordsTheReadFinishesWithZeroBytes) {
  TempFolder temp(::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp");  // a memory file system is quicker
  Watch watch(temp.path());
  ASSERT_TRUE(watch.Arm());
  Touch(temp / "first");
  EXPECT_EQ(watch.Finish(), (std::vector<Change>{Added("first")}));
  // With no read armed, 1.2 million records pile up: two per round.
  const std::string path = temp / "f";
  for (int i = 0; i < 600000; ++i) {
    ::close(::open(path.c_str(), O_CREAT | O_WRONLY, 0644));
    ::unlink(path.c_str());
  }
  Touch(temp / "end");
  ASSERT_TRUE(watch.Arm());
  // Whatever was given before the bound was passed comes first; then one read of 0 bytes.
  for (;;) {
    BOOL ok = FALSE;
    DWORD bytes = 0;
    DWORD error = 0;
    std::vector<Change> changes = watch.Finish(&ok, &error, &bytes);
    ASSERT_TRUE(ok);
    if (bytes == 0) {
      EXPECT_EQ(error, static_cast<DWORD>(ERROR_NOTIFY_ENUM_DIR));
      break;
    }
    ASSERT_TRUE(watch.Arm());
  }
}

TEST(ReadDirectoryChanges, FilterAndSubtreeChoice) {
  TempFolder temp;
  ::mkdir((temp / "sub").c_str(), 0755);
  Touch(temp / "existing");
  Watch names_only(temp.path(), FILE_NOTIFY_CHANGE_FILE_NAME, false);
  ASSERT_TRUE(names_only.Arm());
  Append(temp / "existing");              // a write: not asked for
  ::mkdir((temp / "folder").c_str(), 0755);  // a folder name: not asked for
  Touch(temp / "sub/deep");               // below the folder: not asked for
  Touch(temp / "end");
  EXPECT_EQ(names_only.CollectUntil(Added("end")), (std::vector<Change>{Added("end")}));
}

TEST(ReadDirectoryChanges, EveryHandleOnATreeGetsEverythingNamedFromItsOwnRoot) {
  TempFolder temp;
  ::mkdir((temp / "inner").c_str(), 0755);
  Watch first(temp.path()), second(temp.path() + "/"), inner(temp / "inner");
  for (Watch* watch : {&first, &second, &inner}) ASSERT_TRUE(watch->Arm());
  Touch(temp / "inner/a");
  Touch(temp / "inner/end");
  Touch(temp / "end");
  const std::vector<Change> expected{Added("inner/a"), Modified("inner"), Added("inner/end"), Modified("inner"),
                                     Added("end")};
  EXPECT_EQ(first.CollectUntil(Added("end")), expected);
  EXPECT_EQ(second.CollectUntil(Added("end")), expected);
  EXPECT_EQ(inner.CollectUntil(Added("end")), (std::vector<Change>{Added("a"), Added("end")}));
}

TEST(ReadDirectoryChanges, DeletedFolderEndsThePendingReadAndRefusesTheNext) {
  TempFolder temp;
  ::mkdir((temp / "w").c_str(), 0755);
  Watch watch(temp / "w");
  ASSERT_TRUE(watch.Arm());
  ASSERT_EQ(::rmdir((temp / "w").c_str()), 0);
  ExpectWatchEnded(watch, ERROR_PATH_NOT_FOUND);
}

TEST(ReadDirectoryChanges, DeletedFolderGivesWhatWasQueuedFirst) {
  TempFolder temp;
  ::mkdir((temp / "w").c_str(), 0755);
  Touch(temp / "w/last");
  Watch watch(temp / "w");
  ASSERT_TRUE(watch.Arm());
  ASSERT_TRUE(CancelIo(watch.directory()));  // the watch runs on with no read armed
  ::unlink((temp / "w/last").c_str());
  ::rmdir((temp / "w").c_str());
  ASSERT_TRUE(watch.Arm());
  EXPECT_EQ(watch.Finish(), (std::vector<Change>{Removed("last")}));
  // Then the end: at the next arming, or as the outcome of that read when it came too soon.
  if (watch.Arm()) {
    ExpectWatchEnded(watch, ERROR_PATH_NOT_FOUND);
  } else {
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  }
}

TEST(ReadDirectoryChanges, FolderMovedElsewhereIsStillWatchedAndItsDeletionSeen) {
  TempFolder temp, other;
  ::mkdir((temp / "w").c_str(), 0755);
  Watch watch(temp / "w");
  ASSERT_TRUE(watch.Arm());
  ASSERT_EQ(::rename((temp / "w").c_str(), (other / "w").c_str()), 0);
  Touch(other / "w/a");
  EXPECT_EQ(watch.Finish(), (std::vector<Change>{Added("a")}));
  ::unlink((other / "w/a").c_str());
  ASSERT_TRUE(watch.Arm());
  EXPECT_EQ(watch.Finish(), (std::vector<Change>{Removed("a")}));
  ASSERT_TRUE(watch.Arm());
  ASSERT_EQ(::rmdir((other / "w").c_str()), 0);
  ExpectWatchEnded(watch, ERROR_PATH_NOT_FOUND);
}

TEST(ReadDirectoryChanges, UnmountedFolderGivesNetnameDeleted) {
  TempFolder temp;
  const std::string point = temp / "mnt";
  ::mkdir(point.c_str(), 0755);
  if (::mount("w32test", point.c_str(), "tmpfs", 0, nullptr) != 0) GTEST_SKIP() << "cannot mount here";
  Watch watch(point);
  ASSERT_TRUE(watch.Arm());
  // Lazily: the handle keeps the file system alive, as an open handle would.
  ASSERT_EQ(::umount2(point.c_str(), MNT_DETACH), 0);
  ExpectWatchEnded(watch, ERROR_NETNAME_DELETED);
}

TEST(ReadDirectoryChanges, CancelIoEndsOnlyTheCallingThreadsRead) {
  TempFolder temp;
  Watch watch(temp.path());
  ASSERT_TRUE(watch.Arm());
  std::thread([&] { EXPECT_TRUE(CancelIo(watch.directory())); }).join();
  DWORD bytes = 0;
  EXPECT_FALSE(GetOverlappedResult(watch.directory(), watch.overlapped(), &bytes, FALSE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_INCOMPLETE));
  EXPECT_FALSE(HasOverlappedIoCompleted(watch.overlapped()));
  EXPECT_TRUE(CancelIo(watch.directory()));
  // Finished when CancelIo returns: the buffer is the caller's again.
  EXPECT_TRUE(HasOverlappedIoCompleted(watch.overlapped()));
  EXPECT_EQ(WaitForSingleObject(watch.event(), 0), WAIT_OBJECT_0);
  EXPECT_FALSE(GetOverlappedResult(watch.directory(), watch.overlapped(), &bytes, TRUE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_OPERATION_ABORTED));
  // Changes made meanwhile are kept for the next read.
  Touch(temp / "after");
  ASSERT_TRUE(watch.Arm());
  EXPECT_EQ(watch.Finish(), (std::vector<Change>{Added("after")}));
}

TEST(ReadDirectoryChanges, ClosingTheHandleCancelsItsRead) {
  TempFolder temp;
  HANDLE directory = Open(temp.path(), GENERIC_READ, FILE_SHARE_READ, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED);
  Handle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  OVERLAPPED overlapped{};
  overlapped.hEvent = event.get();
  alignas(4) BYTE buffer[1024];
  ASSERT_TRUE(ReadDirectoryChangesW(directory, buffer, sizeof buffer, TRUE, kFilter, nullptr, &overlapped, nullptr));
  CloseHandle(directory);
  EXPECT_TRUE(HasOverlappedIoCompleted(&overlapped));
  EXPECT_EQ(WaitForSingleObject(event.get(), 0), WAIT_OBJECT_0);
}

TEST(ReadDirectoryChanges, SynchronousHandleBlocksUntilAChange) {
  TempFolder temp;
  Handle directory(Open(temp.path(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE));
  alignas(4) BYTE buffer[1024];
  DWORD bytes = 0;
  // The first read starts the watch, so changes keep coming until it has returned.
  std::atomic<bool> done{false};
  std::thread maker([&] {
    for (int i = 0; !done; ++i) {
      Touch(temp / ("made" + std::to_string(i)));
      ::usleep(10000);
    }
  });
  const BOOL ok = ReadDirectoryChangesW(directory.get(), buffer, sizeof buffer, TRUE, kFilter, &bytes, nullptr, nullptr);
  done = true;
  maker.join();
  ASSERT_TRUE(ok);
  const std::vector<Change> changes = Parse(buffer, bytes);
  ASSERT_FALSE(changes.empty());
  EXPECT_EQ(changes[0].action, static_cast<DWORD>(FILE_ACTION_ADDED));
  EXPECT_EQ(changes[0].name.substr(0, 4), u"made");
}

}  // namespace
