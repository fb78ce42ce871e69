// Window classes, window creation and destruction, window data.
#include <gtest/gtest.h>
#include <windows.h>

#include <thread>
#include <vector>

#include "recording_window.h"

namespace {

using w32_test::MakeRecordingWindow;
using w32_test::MakeWindow;
using w32_test::RegisterPlainClass;

TEST(RegisterClass, SecondRegistrationOfANameFailsWhateverItsCase) {
  ASSERT_NE(RegisterPlainClass(u"Twice Registered", DefWindowProcW), 0);
  SetLastError(0);
  EXPECT_EQ(RegisterPlainClass(u"TWICE registered", DefWindowProcW), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLASS_ALREADY_EXISTS));
}

TEST(RegisterClass, RefusesIncompleteRecords) {
  struct Case {
    const char* what;
    void (*spoil)(WNDCLASSEXW&);
    DWORD error;
  };
  const Case cases[] = {
      {"size", [](WNDCLASSEXW& k) { k.cbSize = sizeof k - 1; }, ERROR_INVALID_PARAMETER},
      {"procedure", [](WNDCLASSEXW& k) { k.lpfnWndProc = nullptr; }, ERROR_INVALID_PARAMETER},
      {"name", [](WNDCLASSEXW& k) { k.lpszClassName = nullptr; }, ERROR_INVALID_PARAMETER},
      {"negative extra", [](WNDCLASSEXW& k) { k.cbWndExtra = -1; }, ERROR_INVALID_PARAMETER},
      {"extra bytes", [](WNDCLASSEXW& k) { k.cbClsExtra = 8; }, ERROR_NOT_SUPPORTED},
  };
  for (const Case& c : cases) {
    WNDCLASSEXW klass{};
    klass.cbSize = sizeof klass;
    klass.lpfnWndProc = DefWindowProcW;
    klass.lpszClassName = u"Never Registered";
    c.spoil(klass);
    SetLastError(0);
    EXPECT_EQ(RegisterClassExW(&klass), 0) << c.what;
    EXPECT_EQ(GetLastError(), c.error) << c.what;
  }
  EXPECT_EQ(RegisterClassExW(nullptr), 0);
}

TEST(CreateWindow, RefusesWhatItCannotMake) {
  struct Case {
    const char* what;
    LPCWSTR klass;
    DWORD style;
    HWND parent;
    DWORD error;
  };
  const Case cases[] = {
      {"unknown class", u"No Such Class", 0, nullptr, ERROR_CANNOT_FIND_WND_CLASS},
      {"null class", nullptr, 0, nullptr, ERROR_CANNOT_FIND_WND_CLASS},
      {"child without parent", w32_test::RecordingClass(), WS_CHILD, nullptr, ERROR_TLW_WITH_WSCHILD},
      {"child of another window", w32_test::RecordingClass(), 0, reinterpret_cast<HWND>(0x10002), ERROR_NOT_SUPPORTED},
  };
  for (const Case& c : cases) {
    SetLastError(0);
    EXPECT_EQ(CreateWindowExW(0, c.klass, nullptr, c.style, 0, 0, 1, 1, c.parent, nullptr, nullptr, nullptr), nullptr)
        << c.what;
    EXPECT_EQ(GetLastError(), c.error) << c.what;
  }
}

// An overlapped top-level window also gets a caption.
TEST(CreateWindow, SendsTheCreationAndDestructionMessagesInOrder) {
  HWND window = MakeRecordingWindow();
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(w32_test::MessagesOf(window),
            (std::vector<UINT>{WM_GETMINMAXINFO, WM_NCCREATE, WM_NCCALCSIZE, WM_CREATE, WM_SIZE, WM_MOVE}));
  const LONG_PTR style = GetWindowLongPtrW(window, GWL_STYLE);
  EXPECT_EQ(style & (WS_CAPTION | WS_CLIPSIBLINGS), static_cast<LONG_PTR>(WS_CAPTION | WS_CLIPSIBLINGS));
  EXPECT_TRUE(DestroyWindow(window));
  EXPECT_EQ(w32_test::MessagesOf(window),
            (std::vector<UINT>{WM_GETMINMAXINFO, WM_NCCREATE, WM_NCCALCSIZE, WM_CREATE, WM_SIZE, WM_MOVE,
                               WM_DESTROY, WM_NCDESTROY}));
  SetLastError(0);
  EXPECT_FALSE(DestroyWindow(window));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
}

// A procedure that refuses its creation at one message.
UINT refuse_at = 0;
std::vector<UINT> refused_messages;

LRESULT CALLBACK RefusingProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  refused_messages.push_back(message);
  if (message == refuse_at) return message == WM_CREATE ? -1 : FALSE;
  return DefWindowProcW(hwnd, message, wparam, lparam);
}

TEST(CreateWindow, AProcedureCanRefuseTheWindow) {
  ASSERT_NE(RegisterPlainClass(u"Refusing Window", RefusingProc), 0);
  struct Case {
    UINT refuse_at;
    std::vector<UINT> messages;
  };
  const Case cases[] = {
      {WM_NCCREATE, {WM_GETMINMAXINFO, WM_NCCREATE, WM_NCDESTROY}},
      {WM_CREATE, {WM_GETMINMAXINFO, WM_NCCREATE, WM_NCCALCSIZE, WM_CREATE, WM_DESTROY, WM_NCDESTROY}},
  };
  for (const Case& c : cases) {
    refuse_at = c.refuse_at;
    refused_messages.clear();
    EXPECT_EQ(MakeWindow(u"Refusing Window"), nullptr);
    EXPECT_EQ(refused_messages, c.messages);
  }
}

// User data as the callback module keeps it is in tests/python/test_callback.py.
TEST(WindowLongPtr, RefusesUnknownIndicesAndGoneWindows) {
  HWND window = MakeRecordingWindow();
  SetLastError(0);
  EXPECT_EQ(GetWindowLongPtrW(window, 12345), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_INDEX));
  SetLastError(0);
  EXPECT_EQ(SetWindowLongPtrW(window, 12345, 1), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_INDEX));
  DestroyWindow(window);
  SetLastError(0);
  EXPECT_EQ(GetWindowLongPtrW(window, GWLP_USERDATA), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
}

LRESULT CALLBACK StyleKeepingProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_STYLECHANGING && wparam == static_cast<WPARAM>(GWL_STYLE)) {
    reinterpret_cast<STYLESTRUCT*>(lparam)->styleNew |= WS_CLIPCHILDREN;
  }
  return w32_test::RecordingProc(hwnd, message, wparam, lparam);
}

TEST(WindowLongPtr, AStyleChangeIsAnnouncedAndTheWindowMayAmendIt) {
  ASSERT_NE(RegisterPlainClass(u"Style Keeping Window", StyleKeepingProc), 0);
  HWND window = MakeWindow(u"Style Keeping Window");
  const LONG_PTR before = GetWindowLongPtrW(window, GWL_STYLE);
  EXPECT_EQ(SetWindowLongPtrW(window, GWL_STYLE, 0), before);
  EXPECT_EQ(GetWindowLongPtrW(window, GWL_STYLE), static_cast<LONG_PTR>(WS_CLIPCHILDREN));
  const std::vector<UINT> messages = w32_test::MessagesOf(window);
  ASSERT_GE(messages.size(), 2u);
  EXPECT_EQ(messages[messages.size() - 2], static_cast<UINT>(WM_STYLECHANGING));
  EXPECT_EQ(messages.back(), static_cast<UINT>(WM_STYLECHANGED));
  DestroyWindow(window);
}

TEST(DestroyWindow, OnlyTheCreatingThreadMay) {
  HWND window = MakeRecordingWindow();
  BOOL destroyed = TRUE;
  DWORD error = 0;
  std::thread other([&] {
    destroyed = DestroyWindow(window);
    error = GetLastError();
  });
  other.join();
  EXPECT_FALSE(destroyed);
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_TRUE(DestroyWindow(window));
}

TEST(DestroyWindow, TheWindowsOfAnEndedThreadAreGone) {
  HWND window = nullptr;
  std::thread owner([&] { window = MakeRecordingWindow(); });
  owner.join();
  ASSERT_NE(window, nullptr);
  EXPECT_FALSE(PostMessageW(window, WM_APP, 0, 0));
}

}  // namespace
