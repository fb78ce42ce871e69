// Showing an item in the file manager, against a private session bus on
// which a stand-in for the desktop's file manager records what it is asked.
#include <dbus/dbus.h>
#include <gtest/gtest.h>
#include <objbase.h>
#include <shlobj.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "../private_bus.h"

namespace {

using w32_test::BusService;
using w32_test::PrivateBus;

// A stand-in for the desktop's file manager: records the items of each
// ShowItems, and shows them, refuses or never answers.
enum class Answer { kShow, kRefuse, kNever };

class StandInFileManager {
 public:
  StandInFileManager(const std::string& address, Answer answer)
      : service_(address, "org.freedesktop.FileManager1",
                 [this, answer](DBusConnection* connection, DBusMessage* message) {
                   Take(connection, message, answer);
                 }) {}
  bool serving() const { return service_.serving(); }
  std::vector<std::string> Shown() {
    std::lock_guard<std::mutex> guard(lock_);
    return shown_;
  }

 private:
  void Take(DBusConnection* connection, DBusMessage* message, Answer answer) {
    if (!dbus_message_is_method_call(message, "org.freedesktop.FileManager1", "ShowItems")) return;
    char** items = nullptr;
    int count = 0;
    const char* startup = nullptr;
    if (dbus_message_get_args(message, nullptr, DBUS_TYPE_ARRAY, DBUS_TYPE_STRING, &items, &count, DBUS_TYPE_STRING,
                              &startup, DBUS_TYPE_INVALID)) {
      std::lock_guard<std::mutex> guard(lock_);
      for (int i = 0; i < count; ++i) shown_.push_back(items[i]);
      dbus_free_string_array(items);
    }
    if (answer == Answer::kNever) return;
    DBusMessage* reply = answer == Answer::kRefuse ? dbus_message_new_error(message, DBUS_ERROR_FAILED, "refused")
                                : dbus_message_new_method_return(message);
    dbus_connection_send(connection, reply, nullptr);
    dbus_connection_flush(connection);
    dbus_message_unref(reply);
  }

  std::mutex lock_;
  std::vector<std::string> shown_;
  BusService service_;  // last: it answers on its own thread until it ends
};

HRESULT ShowItem(const char16_t* path) {
  PIDLIST_ABSOLUTE item = nullptr;
  SFGAOF attributes = 0;
  const HRESULT parsed = SHParseDisplayName(path, nullptr, &item, 0, &attributes);
  if (FAILED(parsed)) return parsed;
  const HRESULT shown = SHOpenFolderAndSelectItems(item, 0, nullptr, 0);
  ILFree(item);
  return shown;
}

TEST(OpenFolder, TheFileManagerShowsTheItemSelected) {
  PrivateBus bus;
  if (bus.address().empty()) GTEST_SKIP() << "no dbus-daemon here";
  setenv("DBUS_SESSION_BUS_ADDRESS", bus.address().c_str(), 1);
  const std::string folder = testing::TempDir() + "open folder";
  mkdir(folder.c_str(), 0700);
  std::ofstream(folder + "/caf\xc3\xa9 #1.txt") << "x";
  {
    StandInFileManager manager(bus.address(), Answer::kShow);
    ASSERT_TRUE(manager.serving());
    EXPECT_EQ(ShowItem(u"/nonexistent/item"), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(ShowItem(u"relative/item"), E_INVALIDARG);
    std::u16string path;
    for (char c : folder) path += static_cast<char16_t>(c);
    path += u"/caf\u00e9 #1.txt";
    EXPECT_EQ(ShowItem(path.c_str()), S_OK);
    std::string uri = "file://";
    for (char c : folder) uri += c == ' ' ? std::string("%20") : std::string(1, c);
    EXPECT_EQ(manager.Shown(), std::vector<std::string>{uri + "/caf%C3%A9%20%231.txt"});
  }
  for (Answer answer : {Answer::kRefuse, Answer::kNever}) {
    // A file manager that refuses, or does not answer within about a second,
    // leaves xdg-open, which a PATH without it lacks.
    StandInFileManager manager(bus.address(), answer);
    const std::string saved_path = std::getenv("PATH");
    setenv("PATH", "/nonexistent", 1);
    const auto asked = std::chrono::steady_clock::now();
    EXPECT_EQ(ShowItem(u"/"), E_FAIL);
    EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::seconds(5));  // not the bus's 25 s, nor 10 s
    setenv("PATH", saved_path.c_str(), 1);
    EXPECT_EQ(manager.Shown(), std::vector<std::string>{"file:///"});
  }
  unlink((folder + "/caf\xc3\xa9 #1.txt").c_str());
  rmdir(folder.c_str());
  unsetenv("DBUS_SESSION_BUS_ADDRESS");
}

TEST(OpenFolder, ListsThisShellDidNotMakeAreRefused) {
  PIDLIST_ABSOLUTE computer = nullptr;
  ASSERT_EQ(SHGetSpecialFolderLocation(nullptr, CSIDL_DRIVES, &computer), S_OK);
  EXPECT_EQ(SHOpenFolderAndSelectItems(computer, 0, nullptr, 0), E_INVALIDARG);
  EXPECT_EQ(SHOpenFolderAndSelectItems(nullptr, 0, nullptr, 0), E_INVALIDARG);
  ILFree(computer);
}

}  // namespace
