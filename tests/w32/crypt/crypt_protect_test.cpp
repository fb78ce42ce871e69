// CryptProtectData and CryptUnprotectData on fake machines: each test machine
// is a folder with etc/machine-id, named by W32_SYSROOT. The module sees only
// "opened or not" (tests/python/test_mmer.py); these say why.
#include <windows.h>

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "../temp_folder.h"

namespace {

using Bytes = std::vector<BYTE>;

// A machine whose identity file holds `id`; none at all for a null id.
class FakeMachine {
 public:
  explicit FakeMachine(const char* id) {
    ::mkdir((root_ / "etc").c_str(), 0755);
    if (id != nullptr) root_.Write("etc/machine-id", id);
  }
  void Enter() const { setenv("W32_SYSROOT", root_.path().c_str(), 1); }

 private:
  TempFolder root_;
};

struct Opened {
  BOOL ok;
  DWORD error;
  Bytes data;
  std::u16string description;
};

DATA_BLOB BlobOf(const Bytes& bytes) { return {static_cast<DWORD>(bytes.size()), const_cast<BYTE*>(bytes.data())}; }

Bytes Protect(const Bytes& data, const WCHAR* description) {
  DATA_BLOB in = BlobOf(data);
  DATA_BLOB out{};
  EXPECT_TRUE(CryptProtectData(&in, description, nullptr, nullptr, nullptr, CRYPTPROTECT_LOCAL_MACHINE, &out))
      << std::hex << GetLastError();
  Bytes blob(out.pbData, out.pbData + out.cbData);
  EXPECT_EQ(LocalFree(out.pbData), nullptr);
  return blob;
}

Opened Unprotect(const Bytes& blob) {
  DATA_BLOB in = BlobOf(blob);
  DATA_BLOB out{123, reinterpret_cast<BYTE*>(&in)};
  LPWSTR description = reinterpret_cast<LPWSTR>(&in);
  Opened opened{};
  opened.ok = CryptUnprotectData(&in, &description, nullptr, nullptr, nullptr, 0, &out);
  opened.error = GetLastError();
  if (opened.ok) {
    opened.data.assign(out.pbData, out.pbData + out.cbData);
    if (description != nullptr) opened.description = description;
    EXPECT_EQ(LocalFree(out.pbData), nullptr);
    EXPECT_EQ(LocalFree(description), nullptr);
  } else {
    EXPECT_EQ(out.pbData, nullptr);  // nothing handed out on failure
    EXPECT_EQ(out.cbData, 0u);
    EXPECT_EQ(description, nullptr);
  }
  return opened;
}

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

constexpr DWORD kNteBadData = static_cast<DWORD>(NTE_BAD_DATA);
constexpr DWORD kNteNoKey = static_cast<DWORD>(NTE_NO_KEY);

class CryptProtectTest : public ::testing::Test {
 protected:
  void SetUp() override { here_.Enter(); }
  void TearDown() override { unsetenv("W32_SYSROOT"); }
  FakeMachine here_{"6e0d52f1c4a14e0f9b8e3a7d2c1b0a99\n"};
};

// What is no blob of a known version is invalid data; a blob that fails
// authentication, description included, is bad data.
TEST_F(CryptProtectTest, DamagedBlobsGiveTheCodeThatSaysWhy) {
  const Bytes blob = Protect(Text("sixteen bytes..."), u"Ünïcode ☃");
  const Opened opened = Unprotect(blob);
  ASSERT_TRUE(opened.ok);
  EXPECT_EQ(opened.data, Text("sixteen bytes..."));
  EXPECT_EQ(opened.description, u"Ünïcode ☃");
  auto with = [&](size_t at, BYTE value) {
    Bytes changed = blob;
    changed[at] = value;
    return changed;
  };
  const size_t size = blob.size();
  const struct {
    const char* what;
    Bytes bytes;
    DWORD error;
  } cases[] = {
      {"shorter than any blob", Bytes(blob.begin(), blob.begin() + 39), ERROR_INVALID_DATA},
      {"version 2", with(0, 2), ERROR_INVALID_DATA},
      {"user scope", with(4, 0), ERROR_INVALID_DATA},
      {"odd description length", with(8, 7), ERROR_INVALID_DATA},
      {"description past the end", with(10, 1), ERROR_INVALID_DATA},
      {"description changed", with(12, blob[12] ^ 0x20), kNteBadData},
      {"nonce changed", with(size - 33, blob[size - 33] ^ 1), kNteBadData},
      {"tag changed", with(size - 1, blob[size - 1] ^ 1), kNteBadData},
      {"one byte cut", Bytes(blob.begin(), blob.end() - 1), kNteBadData},
  };
  for (const auto& c : cases) {
    const Opened damaged = Unprotect(c.bytes);
    EXPECT_FALSE(damaged.ok) << c.what;
    EXPECT_EQ(damaged.error, c.error) << c.what;
  }
}

// The identity is the file's text without surrounding white space; without it
// nothing can be protected or opened.
TEST_F(CryptProtectTest, MachineIdentityIsTrimmedAndRequired) {
  const Bytes blob = Protect(Text("data"), u"d");
  FakeMachine same_without_newline("6e0d52f1c4a14e0f9b8e3a7d2c1b0a99");
  same_without_newline.Enter();
  EXPECT_TRUE(Unprotect(blob).ok);
  FakeMachine blank_file(" \n");
  blank_file.Enter();
  Bytes data = Text("data");
  DATA_BLOB in = BlobOf(data);
  DATA_BLOB out{};
  EXPECT_FALSE(CryptProtectData(&in, u"d", nullptr, nullptr, nullptr, CRYPTPROTECT_LOCAL_MACHINE, &out));
  EXPECT_EQ(GetLastError(), kNteNoKey);
  EXPECT_EQ(Unprotect(blob).error, kNteNoKey);
}

// Null arguments are invalid; entropy and the user scope are not built.
TEST_F(CryptProtectTest, RefusedCalls) {
  Bytes data = Text("data");
  DATA_BLOB in = BlobOf(data);
  DATA_BLOB no_buffer{4, nullptr};
  DATA_BLOB out{};
  LPWSTR description = nullptr;
  const struct {
    DATA_BLOB* in;
    DATA_BLOB* entropy;
    DATA_BLOB* out;
    DWORD error;
  } cases[] = {
      {nullptr, nullptr, &out, ERROR_INVALID_PARAMETER},
      {&in, nullptr, nullptr, ERROR_INVALID_PARAMETER},
      {&no_buffer, nullptr, &out, ERROR_INVALID_PARAMETER},
      {&in, &in, &out, ERROR_NOT_SUPPORTED},
  };
  for (const auto& c : cases) {
    EXPECT_FALSE(CryptProtectData(c.in, u"d", c.entropy, nullptr, nullptr, CRYPTPROTECT_LOCAL_MACHINE, c.out));
    EXPECT_EQ(GetLastError(), c.error);
    EXPECT_FALSE(CryptUnprotectData(c.in, &description, c.entropy, nullptr, nullptr, 0, c.out));
    EXPECT_EQ(GetLastError(), c.error);
  }
  EXPECT_FALSE(CryptProtectData(&in, u"d", nullptr, nullptr, nullptr, 0, &out));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
}

TEST(LocalMemoryTest, FreesOnlyWhatItHandedOutAndOnlyOnce) {
  EXPECT_EQ(LocalFree(nullptr), nullptr);
  int not_local = 0;
  EXPECT_EQ(LocalFree(&not_local), &not_local);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  HLOCAL block = LocalAlloc(LMEM_FIXED, 0);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(LocalFree(block), nullptr);
  SetLastError(0);
  EXPECT_EQ(LocalFree(block), block);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

}  // namespace
