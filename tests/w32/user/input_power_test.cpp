// Simulated input, system parameters and the thread execution state.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <thread>

#include "host/host.h"

namespace {

TEST(SendInput, KeepsTheRecordsItIsGiven) {
  w32::host::TakeSentInput();
  INPUT inputs[2] = {};
  inputs[0].type = INPUT_MOUSE;
  inputs[0].mi.dx = 3;
  inputs[0].mi.dwFlags = MOUSEEVENTF_MOVE;
  inputs[1].type = INPUT_KEYBOARD;
  inputs[1].ki.wVk = 0x41;
  EXPECT_EQ(SendInput(2, inputs, sizeof(INPUT)), 2u);
  const std::vector<INPUT> taken = w32::host::TakeSentInput();
  ASSERT_EQ(taken.size(), 2u);
  EXPECT_EQ(taken[0].mi.dx, 3);
  EXPECT_EQ(taken[0].mi.dwFlags, static_cast<DWORD>(MOUSEEVENTF_MOVE));
  EXPECT_EQ(taken[1].ki.wVk, 0x41);
  EXPECT_TRUE(w32::host::TakeSentInput().empty());
}

TEST(SendInput, RefusesBadRecordsWholly) {
  INPUT good{};
  INPUT bad[2] = {};
  bad[1].type = 3;
  struct Case {
    const char* what;
    UINT count;
    INPUT* inputs;
    int size;
  };
  const Case cases[] = {
      {"32-bit record size", 1, &good, 28},
      {"no records", 1, nullptr, sizeof(INPUT)},
      {"unknown type", 2, bad, sizeof(INPUT)},
  };
  for (const Case& c : cases) {
    SetLastError(0);
    EXPECT_EQ(SendInput(c.count, c.inputs, c.size), 0u) << c.what;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER)) << c.what;
  }
  EXPECT_TRUE(w32::host::TakeSentInput().empty());
}

TEST(SystemParametersInfo, KeepsWhetherSimulatedInputResetsIdle) {
  BOOL blocked = -1;
  for (UINT value : {1u, 0u}) {
    EXPECT_TRUE(SystemParametersInfoW(SPI_SETBLOCKSENDINPUTRESETS, value, nullptr, 0));
    EXPECT_TRUE(SystemParametersInfoW(SPI_GETBLOCKSENDINPUTRESETS, 0, &blocked, 0));
    EXPECT_EQ(blocked, static_cast<BOOL>(value));
  }
  SetLastError(0);
  EXPECT_FALSE(SystemParametersInfoW(SPI_GETBLOCKSENDINPUTRESETS, 0, nullptr, 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  SetLastError(0);
  EXPECT_FALSE(SystemParametersInfoW(0xFFFF, 0, &blocked, 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(SetThreadExecutionState, ReturnsThePreviousStateOfTheThread) {
  std::thread([] {
    EXPECT_EQ(SetThreadExecutionState(ES_CONTINUOUS | ES_DISPLAY_REQUIRED), ES_CONTINUOUS);
    EXPECT_EQ(SetThreadExecutionState(ES_SYSTEM_REQUIRED), ES_CONTINUOUS | ES_DISPLAY_REQUIRED);
    EXPECT_EQ(w32::host::HeldExecutionState(), ES_DISPLAY_REQUIRED);  // a one-time reset keeps the request
    EXPECT_EQ(SetThreadExecutionState(ES_CONTINUOUS), ES_CONTINUOUS | ES_DISPLAY_REQUIRED);
    EXPECT_EQ(w32::host::HeldExecutionState(), 0u);
  }).join();
}

TEST(SetThreadExecutionState, RequirementsOfAllThreadsHoldTogetherAndEndWithTheirThread) {
  std::atomic<bool> set{false};
  std::atomic<bool> end{false};
  std::thread other([&] {
    SetThreadExecutionState(ES_CONTINUOUS | ES_DISPLAY_REQUIRED);
    set = true;
    while (!end) std::this_thread::yield();
  });
  while (!set) std::this_thread::yield();
  SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED);
  EXPECT_EQ(w32::host::HeldExecutionState(), ES_SYSTEM_REQUIRED | ES_DISPLAY_REQUIRED);
  end = true;
  other.join();
  EXPECT_EQ(w32::host::HeldExecutionState(), ES_SYSTEM_REQUIRED);
  SetThreadExecutionState(ES_CONTINUOUS);
  EXPECT_EQ(w32::host::HeldExecutionState(), 0u);
}

TEST(SetThreadExecutionState, RefusesUnknownFlags) {
  for (EXECUTION_STATE flags : {ES_CONTINUOUS | ES_USER_PRESENT, 0x100u, static_cast<DWORD>(ES_AWAYMODE_REQUIRED)}) {
    SetLastError(0);
    EXPECT_EQ(SetThreadExecutionState(flags), 0u) << flags;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER)) << flags;
  }
  EXPECT_EQ(w32::host::HeldExecutionState(), 0u);
}

}  // namespace
