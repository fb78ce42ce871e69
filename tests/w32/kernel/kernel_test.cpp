// Kernel objects: handles, named mutexes across processes, debugger output, text.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "../temp_folder.h"
#include "host/host.h"
#include "kernel/named_objects.h"
#include "support/text.h"

namespace {

// Processes that create one name at the same moment (half of them as another
// user when we are root, each user with a runtime folder of this test's)
// agree: at most one user holds it, and exactly one of that user's processes
// made it. A name's life within and across processes and users, as the module
// meets it, is in tests/python/test_running_instance.py.
TEST(NamedMutex, ProcessesRacingForANameAgreeOnOneOwner) {
  TempFolder root;
  const auto runtime_folder = [&](uid_t uid) { return root.path() + "/runtime-" + std::to_string(uid); };
  chmod(root.path().c_str(), 0755);
  for (uid_t uid : {geteuid(), 65534u}) {
    mkdir(runtime_folder(uid).c_str(), 0700);
    ASSERT_TRUE(geteuid() != 0 || chown(runtime_folder(uid).c_str(), uid, uid) == 0);
  }
  setenv("XDG_RUNTIME_DIR", runtime_folder(geteuid()).c_str(), 1);
  constexpr int kProcesses = 8;
  const bool two_users = geteuid() == 0;
  // What a first name loads (the hash's library) is loaded here once: the
  // processes then meet at the name itself, not one by one after loading it.
  CloseHandle(CreateMutexW(nullptr, FALSE, w32::ToUtf16("Global\\warm-" + std::to_string(getpid())).c_str()));
  for (int round = 0; round < 20; ++round) {
    const std::u16string name = w32::ToUtf16("Global\\race-" + std::to_string(getpid()) + "-" + std::to_string(round));
    int go[2], answers[2], release[2];
    ASSERT_EQ(pipe(go) | pipe(answers) | pipe(release), 0);
    for (int i = 0; i < kProcesses; ++i) {
      if (fork() == 0) {
        close(release[1]);
        if (two_users && i % 2 == 1) {
          setenv("XDG_RUNTIME_DIR", runtime_folder(65534).c_str(), 1);
          if (setuid(65534) != 0) _exit(250);
        }
        char byte;
        (void)!read(go[0], &byte, 1);
        CreateMutexW(nullptr, FALSE, name.c_str());
        const char answer[2] = {static_cast<char>(GetLastError()), static_cast<char>(two_users ? i % 2 : 0)};
        (void)!write(answers[1], answer, 2);
        (void)!read(release[0], &byte, 1);  // holds the name until every process has answered
        _exit(0);
      }
    }
    ASSERT_EQ(write(go[1], std::string(kProcesses, 'x').data(), kProcesses), kProcesses);
    int counts[2][256] = {};
    for (int i = 0; i < kProcesses; ++i) {
      char answer[2];
      ASSERT_EQ(read(answers[0], answer, 2), 2);
      ++counts[static_cast<int>(answer[1])][static_cast<unsigned char>(answer[0])];
    }
    for (int fd : {go[0], go[1], answers[0], answers[1], release[0], release[1]}) close(fd);
    while (wait(nullptr) > 0) {
    }
    int holding_users = 0;
    int answered = 0;
    for (const auto& user : counts) {
      const int holders = user[ERROR_SUCCESS] + user[ERROR_ALREADY_EXISTS];
      answered += holders + user[ERROR_ACCESS_DENIED];
      if (holders > 0) {
        ++holding_users;
        EXPECT_EQ(user[ERROR_SUCCESS], 1) << "round " << round;
      }
    }
    EXPECT_EQ(answered, kProcesses) << "round " << round;
    EXPECT_LE(holding_users, 1) << "round " << round;
    EXPECT_TRUE(two_users || holding_users == 1) << "round " << round;
  }
  unsetenv("XDG_RUNTIME_DIR");
}

TEST(Handles, ClosingTwiceOrGarbageIsInvalidHandle) {
  HANDLE mutex = CreateMutexW(nullptr, FALSE, nullptr);
  EXPECT_TRUE(CloseHandle(mutex));
  for (HANDLE bad : {mutex, static_cast<HANDLE>(nullptr), INVALID_HANDLE_VALUE, reinterpret_cast<HANDLE>(0x1235)}) {
    SetLastError(0);
    EXPECT_FALSE(CloseHandle(bad));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  }
}

TEST(DebugOutput, EachWriteIsKeptWholeAndLeavesTheLastErrorAlone) {
  w32::host::TakeDebugOutput();
  SetLastError(1234);
  OutputDebugStringW(u"wide \u00e9\n");
  OutputDebugStringA("narrow \xc3\xa9\n");
  OutputDebugStringA(nullptr);
  EXPECT_EQ(GetLastError(), 1234u);
  const auto lines = w32::host::TakeDebugOutput();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], u"wide \u00e9\n");
  EXPECT_EQ(lines[1], u"narrow \u00e9\n");
  EXPECT_TRUE(w32::host::TakeDebugOutput().empty());
}

TEST(DebugOutput, IsAppendedToTheLogFileAsUtf8) {
  const std::string path = testing::TempDir() + "debug_output_test.log";
  std::remove(path.c_str());
  setenv("W32_DEBUG_LOG", path.c_str(), 1);
  OutputDebugStringW(u"one \u00e9\n");
  OutputDebugStringA("two\n");
  unsetenv("W32_DEBUG_LOG");
  OutputDebugStringA("not logged\n");
  w32::host::TakeDebugOutput();
  FILE* file = std::fopen(path.c_str(), "rb");
  ASSERT_NE(file, nullptr);
  char buffer[64] = {};
  const size_t n = std::fread(buffer, 1, sizeof buffer - 1, file);
  std::fclose(file);
  std::remove(path.c_str());
  EXPECT_EQ(std::string(buffer, n), "one \xc3\xa9\ntwo\n");
}

TEST(Text, Utf8AndUtf16RoundTripAndRepairIllFormedInput) {
  const std::u16string text = u"a\u00e9\u4e2d\U0001F600";
  EXPECT_EQ(w32::ToUtf16(w32::ToUtf8(text)), text);
  EXPECT_EQ(w32::ToUtf16("\xff" "a\xe4\xb8"), u"\uFFFDa\uFFFD");
  EXPECT_EQ(w32::ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");  // a lone surrogate
  EXPECT_EQ(w32::AsciiLower(u"ABC\u00C9"), u"abc\u00C9") << "only ASCII letters fold";
}

}  // namespace
