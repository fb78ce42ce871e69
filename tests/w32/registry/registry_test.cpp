// The registry over a .reg file.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "registry/reg_file.h"

namespace {

const char kExport[] =
    "Windows Registry Editor Version 5.00\r\n"
    "\r\n"
    "; a comment that ends in a backslash \\\r\n"
    "[HKEY_LOCAL_MACHINE\\Software\\Quillomat\\Orvelline Calvetto\\5.5]\r\n"
    "\"trace\"=dword:0000002a\r\n"
    "\"Path\"=\"C:\\\\Program Files\\\\\\\"Q\\\"\"\r\n"
    "@=\"default\"\r\n"
    "\"blob\"=hex:01,02,\\\r\n"
    "  03,ff\r\n"
    "\"gone\"=dword:1\r\n"
    "\"gone\"=-\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\Software\\Removed]\r\n"
    "\"x\"=dword:1\r\n"
    "[-HKEY_LOCAL_MACHINE\\Software\\Removed]\r\n";

std::string Utf16File(const std::string& ascii) {
  std::string bytes = "\xFF\xFE";
  for (char c : ascii) {
    bytes += c;
    bytes += '\0';
  }
  return bytes;
}

TEST(RegFile, ParsesBothEncodingsAndEveryValueForm) {
  for (const std::string& bytes : {std::string(kExport), Utf16File(kExport)}) {
    const w32::RegistryHive hive = w32::ParseRegFile(bytes);
    EXPECT_EQ(hive.count(u"hkey_local_machine\\software\\removed"), 0u);
    auto key = hive.find(u"hkey_local_machine\\software\\quillomat\\orvelline calvetto\\5.5");
    ASSERT_NE(key, hive.end());
    const auto& values = key->second.values;
    EXPECT_EQ(values.at(u"trace").type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(values.at(u"trace").data, (std::vector<BYTE>{0x2a, 0, 0, 0}));
    EXPECT_EQ(values.at(u"blob").data, (std::vector<BYTE>{1, 2, 3, 0xff}));
    EXPECT_EQ(values.count(u"gone"), 0u);
    const std::u16string path = u"C:\\Program Files\\\"Q\"";
    const auto& data = values.at(u"path").data;
    ASSERT_EQ(data.size(), (path.size() + 1) * 2);
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(data.data())), path);
    EXPECT_EQ(values.at(u"").type, static_cast<DWORD>(REG_SZ));
  }
}

TEST(RegFile, GarbageIsSkippedNotFatal) {
  const w32::RegistryHive hive = w32::ParseRegFile("[unterminated\n\"a\"=dword:zz\n\"b\"=hex:1,,2\n\x01\x02\x03");
  EXPECT_TRUE(hive.empty());
}

class Registry : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = testing::TempDir() + "registry_test.reg";
    FILE* file = std::fopen(path_.c_str(), "wb");
    std::fwrite(kExport, 1, sizeof kExport - 1, file);
    std::fclose(file);
    setenv("W32_REGISTRY", path_.c_str(), 1);
  }
  void TearDown() override {
    std::remove(path_.c_str());
    unsetenv("W32_REGISTRY");
  }
  std::string path_;
};

TEST_F(Registry, OpensKeysWithoutRegardToCaseAndQueriesAsThePlatform) {
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\quillomat\\Orvelline Calvetto\\5.5", 0, 0x20019, &key),
            ERROR_SUCCESS);
  DWORD type = 0, value = 0, size = sizeof value;
  EXPECT_EQ(RegQueryValueExW(key, u"TRACE", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size), ERROR_SUCCESS);
  EXPECT_EQ(value, 42u);
  EXPECT_EQ(size, 4u);

  size = 0;
  EXPECT_EQ(RegQueryValueExW(key, u"Path", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 42u) << "the size with its terminating zero";
  BYTE small[4];
  size = sizeof small;
  EXPECT_EQ(RegQueryValueExW(key, u"Path", nullptr, nullptr, small, &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 42u);
  EXPECT_EQ(RegQueryValueExW(key, u"missing", nullptr, nullptr, nullptr, nullptr), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegQueryValueExW(key, u"trace", nullptr, nullptr, small, nullptr), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);

  // Keys above a written one exist without values; a null sub-key is the key itself.
  for (const char16_t* parent : {u"Software", u"Software\\Quillomat\\", u""}) {
    HKEY opened = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, parent, 0, KEY_READ, &opened), ERROR_SUCCESS);
    EXPECT_EQ(RegQueryValueExW(opened, u"trace", nullptr, nullptr, nullptr, nullptr), ERROR_FILE_NOT_FOUND);
    HKEY again = nullptr;
    EXPECT_EQ(RegOpenKeyExW(opened, nullptr, 0, KEY_READ, &again), ERROR_SUCCESS);
    RegCloseKey(again);
    RegCloseKey(opened);
  }
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Softwar", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);

  HKEY missing = reinterpret_cast<HKEY>(1);
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Nothing", 0, KEY_READ, &missing), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(missing, nullptr);
  unsetenv("W32_REGISTRY");
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software", 0, KEY_READ, &missing), ERROR_FILE_NOT_FOUND);
}

}  // namespace
