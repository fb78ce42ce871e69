// CryptProtectData and CryptUnprotectData on fake machines: each test machine
// is a folder with etc/machine-id, named by W32_SYSROOT.
#include <windows.h>

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<BYTE>;

class FakeMachine {
 public:
  // A machine whose identity file holds `id`; none at all for a null id.
  explicit FakeMachine(const char* id) {
    char pattern[] = "/tmp/w32-machine-XXXXXX";
    root_ = mkdtemp(pattern);
    mkdir((root_ + "/etc").c_str(), 0755);
    if (id != nullptr) {
      FILE* file = std::fopen((root_ + "/etc/machine-id").c_str(), "w");
      std::fputs(id, file);
      std::fclose(file);
    }
  }
  ~FakeMachine() {
    std::remove((root_ + "/etc/machine-id").c_str());
    rmdir((root_ + "/etc").c_str());
    rmdir(root_.c_str());
  }
  void Enter() const { setenv("W32_SYSROOT", root_.c_str(), 1); }

 private:
  std::string root_;
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

// The module sees only "opened or not"; the codes say why, for every way a
// blob can be wrong. The description comes back, and is authenticated.
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
  struct Case {
    const char* what;
    Bytes bytes;
    DWORD error;
  };
  const size_t size = blob.size();
  const Case cases[] = {
      {"empty", Bytes(), ERROR_INVALID_DATA},
      {"shorter than any blob", Bytes(blob.begin(), blob.begin() + 39), ERROR_INVALID_DATA},
      {"version 2", with(0, 2), ERROR_INVALID_DATA},
      {"version 0", with(0, 0), ERROR_INVALID_DATA},
      {"user scope", with(4, 0), ERROR_INVALID_DATA},
      {"odd description length", with(8, 7), ERROR_INVALID_DATA},
      {"description past the end", with(10, 1), ERROR_INVALID_DATA},
      {"description changed", with(12, blob[12] ^ 0x20), kNteBadData},
      {"description shortened", with(8, blob[8] - 2), kNteBadData},
      {"nonce changed", with(size - 16 - 16 - 1, blob[size - 33] ^ 1), kNteBadData},
      {"cipher text changed", with(size - 17, blob[size - 17] ^ 0x80), kNteBadData},
      {"tag changed", with(size - 1, blob[size - 1] ^ 1), kNteBadData},
      {"one byte cut", Bytes(blob.begin(), blob.end() - 1), kNteBadData},
      {"one byte added", [&] { Bytes b = blob; b.push_back(0); return b; }(), kNteBadData},
  };
  for (const Case& c : cases) {
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
  FakeMachine no_file(nullptr);
  FakeMachine blank_file(" \n");
  for (const FakeMachine* machine : {&no_file, &blank_file}) {
    machine->Enter();
    Bytes data = Text("data");
    DATA_BLOB in = BlobOf(data);
    DATA_BLOB out{};
    EXPECT_FALSE(CryptProtectData(&in, u"d", nullptr, nullptr, nullptr, CRYPTPROTECT_LOCAL_MACHINE, &out));
    EXPECT_EQ(GetLastError(), kNteNoKey);
    EXPECT_EQ(out.pbData, nullptr);
    EXPECT_EQ(Unprotect(blob).error, kNteNoKey);
  }
}

// Null arguments are invalid; entropy and the user scope are not built.
TEST_F(CryptProtectTest, RefusedCalls) {
  Bytes data = Text("data");
  DATA_BLOB in = BlobOf(data);
  DATA_BLOB no_buffer{4, nullptr};
  DATA_BLOB out{};
  LPWSTR description = nullptr;
  const DWORD machine = CRYPTPROTECT_LOCAL_MACHINE;
  const struct {
    DATA_BLOB* in;
    DATA_BLOB* entropy;
    DATA_BLOB* out;
    DWORD flags;
    DWORD error;
  } cases[] = {
      {nullptr, nullptr, &out, machine, ERROR_INVALID_PARAMETER},
      {&in, nullptr, nullptr, machine, ERROR_INVALID_PARAMETER},
      {&no_buffer, nullptr, &out, machine, ERROR_INVALID_PARAMETER},
      {&in, &no_buffer, &out, machine, ERROR_INVALID_PARAMETER},
      {&in, &in, &out, machine, ERROR_NOT_SUPPORTED},
  };
  for (const auto& c : cases) {
    EXPECT_FALSE(CryptProtectData(c.in, u"d", c.entropy, nullptr, nullptr, c.flags, c.out));
    EXPECT_EQ(GetLastError(), c.error);
    EXPECT_FALSE(CryptUnprotectData(c.in, &description, c.entropy, nullptr, nullptr, 0, c.out));
    EXPECT_EQ(GetLastError(), c.error);
  }
  EXPECT_FALSE(CryptProtectData(&in, u"d", nullptr, nullptr, nullptr, 0, &out));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
}

TEST(LocalMemoryTest, FreesOnlyWhatItHandedOut) {
  EXPECT_EQ(LocalFree(nullptr), nullptr);
  int not_local = 0;
  EXPECT_EQ(LocalFree(&not_local), &not_local);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  HLOCAL block = LocalAlloc(LMEM_FIXED, 64);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(LocalFree(block), nullptr);
  SetLastError(0);
  EXPECT_EQ(LocalFree(block), block);  // twice
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST(LocalMemoryTest, ZeroInitAndRefusedFlags) {
  auto* block = static_cast<BYTE*>(LocalAlloc(LPTR, 4096));
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(Bytes(block, block + 4096), Bytes(4096, 0));
  LocalFree(block);
  HLOCAL empty = LocalAlloc(LMEM_FIXED, 0);
  EXPECT_NE(empty, nullptr);
  EXPECT_EQ(LocalFree(empty), nullptr);
  EXPECT_EQ(LocalAlloc(LMEM_MOVEABLE, 16), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

}  // namespace
