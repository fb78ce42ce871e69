// Directory change reads over inotify, where only a unit reaches them; the
// module meets the rest through MonitorFolder (tests/python/test_monitor_changes.py).
#include <gtest/gtest.h>
#include <windows.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "../temp_folder.h"
#include "support/text.h"

namespace {

constexpr DWORD kFilter = 0x57;  // file and folder names, attributes, last write, creation
constexpr DWORD kHangGuard = 20000;  // milliseconds: a read that never finishes fails the test

struct HandleCloser {
  void operator()(void* handle) const { CloseHandle(handle); }
};
using Handle = std::unique_ptr<void, HandleCloser>;

void Touch(const std::string& path) { ::close(::open(path.c_str(), O_CREAT | O_WRONLY, 0644)); }

std::u16string Wide(const std::string& text) { return w32::ToUtf16(text); }

struct Change {
  DWORD action;
  std::u16string name;
  bool operator==(const Change& other) const { return action == other.action && name == other.name; }
};

std::ostream& operator<<(std::ostream& out, const Change& change) {
  return out << change.action << ":" << w32::ToUtf8(change.name);
}

Change Added(const std::string& name) { return {FILE_ACTION_ADDED, Wide(name)}; }

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
  explicit Watch(const std::string& path, DWORD size = 65536)
      : directory_(CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr)),
        event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
        buffer_(size / 4 + 1),
        size_(size) {
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
    return ReadDirectoryChangesW(directory_.get(), buffer_.data(), size_, TRUE, kFilter, &unused, &overlapped_,
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

 private:
  Handle directory_;
  Handle event_;
  std::vector<DWORD> buffer_;  // DWORD-aligned, as the platform asks
  OVERLAPPED overlapped_{};
  DWORD size_;
};

// --- ReadDirectoryChangesW ---

// A read takes the records that fit and leaves the rest for the next; one
// record larger than the whole buffer is lost, and the read says so with 0 bytes.
TEST(ReadDirectoryChanges, ASmallBufferTakesWhatFitsAndLosesWhatNeverCan) {
  TempFolder temp;
  Watch watch(temp.path(), 64);  // two records of 8-character names
  ASSERT_TRUE(watch.Arm());
  std::vector<Change> expected;
  for (char c = 'a'; c <= 'g'; ++c) {
    const std::string name = std::string(7, c) + "x";
    Touch(temp / name);
    expected.push_back(Added(name));
  }
  Touch(temp / "a-name-longer-than-the-buffer");
  std::vector<Change> all;
  for (;;) {
    DWORD bytes = 0, error = 0;
    BOOL ok = FALSE;
    std::vector<Change> changes = watch.Finish(&ok, &error, &bytes);
    ASSERT_TRUE(ok);
    ASSERT_LE(bytes, 64u);
    ASSERT_TRUE(watch.Arm());
    if (bytes == 0) {
      EXPECT_EQ(error, static_cast<DWORD>(ERROR_NOTIFY_ENUM_DIR));
      break;
    }
    all.insert(all.end(), changes.begin(), changes.end());
  }
  EXPECT_EQ(all, expected);
  // The lost record is not given again.
  Touch(temp / "short");
  EXPECT_EQ(watch.Finish(), (std::vector<Change>{Added("short")}));
}

// Only a read left unarmed lets records pile up past the bound: the module
// keeps one armed, so only this unit reaches it.
TEST(ReadDirectoryChanges, PastTheBoundOfPendingRecordsTheReadFinishesWithZeroBytes) {
  TempFolder temp(::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp");  // a memory file system is quicker
  Watch watch(temp.path());
  ASSERT_TRUE(watch.Arm());
  Touch(temp / "first");
  EXPECT_EQ(watch.Finish(), (std::vector<Change>{Added("first")}));
  // With no read armed, 66,000 records pile up, two per round: past the 32,768 kept by more
  // than the kernel's own queue holds, so the bound is passed before reads can drain it.
  const std::string path = temp / "f";
  for (int i = 0; i < 33000; ++i) {
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
    watch.Finish(&ok, &error, &bytes);
    ASSERT_TRUE(ok);
    if (bytes == 0) {
      EXPECT_EQ(error, static_cast<DWORD>(ERROR_NOTIFY_ENUM_DIR));
      break;
    }
    ASSERT_TRUE(watch.Arm());
  }
}

// A watch with no read armed keeps what comes: also when its folder goes, the
// next read gives that first, and only the one after tells of the end. The
// module keeps a read armed, so only a unit makes records wait like this.
TEST(ReadDirectoryChanges, CancelIoEndsOnlyTheCallingThreadsReadAndTheWatchKeepsWhatComes) {
  TempFolder temp;
  ::mkdir((temp / "w").c_str(), 0755);
  Touch(temp / "w/last");
  Watch watch(temp / "w");
  ASSERT_TRUE(watch.Arm());
  std::thread([&] { EXPECT_TRUE(CancelIo(watch.directory())); }).join();
  DWORD bytes = 0;
  EXPECT_FALSE(GetOverlappedResult(watch.directory(), watch.overlapped(), &bytes, FALSE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_INCOMPLETE));
  EXPECT_TRUE(CancelIo(watch.directory()));
  // Finished when CancelIo returns: the buffer is the caller's again.
  EXPECT_TRUE(HasOverlappedIoCompleted(watch.overlapped()));
  EXPECT_EQ(WaitForSingleObject(watch.event(), 0), WAIT_OBJECT_0);
  EXPECT_FALSE(GetOverlappedResult(watch.directory(), watch.overlapped(), &bytes, TRUE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_OPERATION_ABORTED));
  ::unlink((temp / "w/last").c_str());
  ::rmdir((temp / "w").c_str());
  ASSERT_TRUE(watch.Arm());
  EXPECT_EQ(watch.Finish(), (std::vector<Change>{{FILE_ACTION_REMOVED, u"last"}}));
  // Then the end: at the next arming, or as the outcome of that read when it came too soon.
  BOOL ok = watch.Arm();
  DWORD error = GetLastError();
  if (ok) watch.Finish(&ok, &error);
  EXPECT_FALSE(ok);
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

// The first read is armed before the walk of a big tree ends: a handle may be
// closed from another thread while its walk goes on, and a change made during
// the walk arrives once.
TEST(ReadDirectoryChanges, TheWalkOfABigTreeGoesOnAfterTheFirstRead) {
  TempFolder temp(::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp");
  for (int i = 0; i < 2000; ++i) ::mkdir((temp / ("f" + std::to_string(i))).c_str(), 0755);
  for (int round = 0; round < 3; ++round) {
    Handle directory(CreateFileW(Wide(temp.path()).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr));
    std::vector<DWORD> buffer(1024);
    OVERLAPPED overlapped{};
    DWORD unused = 0;
    ASSERT_TRUE(ReadDirectoryChangesW(directory.get(), buffer.data(), 4096, TRUE, kFilter, &unused, &overlapped,
                                      nullptr));
    std::thread([&] { directory.reset(); }).join();
    EXPECT_TRUE(HasOverlappedIoCompleted(&overlapped));  // cancelled as the handle closed
  }
  Watch watch(temp.path());
  ASSERT_TRUE(watch.Arm());
  Touch(temp / "f1999/new");
  Touch(temp / "end");
  std::vector<Change> all;
  // The walk may come to the folder only after the end's record.
  while (std::find(all.begin(), all.end(), Added("end")) == all.end() ||
         std::find(all.begin(), all.end(), Added("f1999/new")) == all.end()) {
    DWORD bytes = 0;
    const std::vector<Change> changes = watch.Finish(nullptr, nullptr, &bytes);
    ASSERT_NE(bytes, 0u) << "changes were lost";
    all.insert(all.end(), changes.begin(), changes.end());
    ASSERT_TRUE(watch.Arm());
  }
  Touch(temp / "after");
  const std::vector<Change> rest = watch.Finish();  // a repeat would come before it
  all.insert(all.end(), rest.begin(), rest.end());
  EXPECT_EQ(std::count(all.begin(), all.end(), Added("f1999/new")), 1);
}

}  // namespace
