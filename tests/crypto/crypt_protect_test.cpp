// CryptProtectData and CryptUnprotectData on fake machines: each test machine
// is a folder with etc/machine-id, named by W32_SYSROOT.
#include <windows.h>

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
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
    chmod(root_.c_str(), 0755);  // other users read it in the user-binding test
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
  bool description_given;
};

DATA_BLOB BlobOf(const Bytes& bytes) { return {static_cast<DWORD>(bytes.size()), const_cast<BYTE*>(bytes.data())}; }

Bytes Protect(const Bytes& data, const WCHAR* description, DWORD flags, const Bytes* entropy = nullptr) {
  DATA_BLOB in = BlobOf(data);
  DATA_BLOB extra = entropy != nullptr ? BlobOf(*entropy) : DATA_BLOB{};
  DATA_BLOB out{};
  EXPECT_TRUE(CryptProtectData(&in, description, entropy != nullptr ? &extra : nullptr, nullptr, nullptr, flags, &out))
      << std::hex << GetLastError();
  Bytes blob(out.pbData, out.pbData + out.cbData);
  EXPECT_EQ(LocalFree(out.pbData), nullptr);
  return blob;
}

Opened Unprotect(const Bytes& blob, const Bytes* entropy = nullptr) {
  DATA_BLOB in = BlobOf(blob);
  DATA_BLOB extra = entropy != nullptr ? BlobOf(*entropy) : DATA_BLOB{};
  DATA_BLOB out{123, reinterpret_cast<BYTE*>(&in)};
  LPWSTR description = reinterpret_cast<LPWSTR>(&in);
  Opened opened{};
  opened.ok = CryptUnprotectData(&in, &description, entropy != nullptr ? &extra : nullptr, nullptr, nullptr, 0, &out);
  opened.error = GetLastError();
  if (opened.ok) {
    opened.data.assign(out.pbData, out.pbData + out.cbData);
    opened.description_given = description != nullptr;
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

// Each protection of the same data gives another blob; each opens to the data.
TEST_F(CryptProtectTest, RoundTripsInBothScopes) {
  for (DWORD flags : {0u, static_cast<DWORD>(CRYPTPROTECT_LOCAL_MACHINE)}) {
    for (size_t size : {0, 1, 15, 16, 1000, 100000}) {
      SCOPED_TRACE("flags " + std::to_string(flags) + ", size " + std::to_string(size));
      Bytes data(size);
      for (size_t i = 0; i < size; ++i) data[i] = static_cast<BYTE>(i * 7);
      const Bytes first = Protect(data, u"Ünïcode ☃ description", flags);
      const Bytes second = Protect(data, u"Ünïcode ☃ description", flags);
      EXPECT_NE(first, second);
      for (const Bytes* blob : {&first, &second}) {
        const Opened opened = Unprotect(*blob);
        ASSERT_TRUE(opened.ok) << std::hex << opened.error;
        EXPECT_EQ(opened.data, data);
        EXPECT_EQ(opened.description, u"Ünïcode ☃ description");
      }
    }
  }
}

TEST_F(CryptProtectTest, DescriptionTravelsInClearButAuthenticated) {
  const Bytes blob = Protect(Text("secret"), u"OrvellineCalvetto", CRYPTPROTECT_LOCAL_MACHINE);
  const std::u16string description = u"OrvellineCalvetto";
  Bytes utf16le;
  for (char16_t c : description) {
    utf16le.push_back(static_cast<BYTE>(c));
    utf16le.push_back(static_cast<BYTE>(c >> 8));
  }
  const auto at = std::search(blob.begin(), blob.end(), utf16le.begin(), utf16le.end());
  ASSERT_NE(at, blob.end());
  Bytes renamed = blob;
  renamed[at - blob.begin()] ^= 0x20;  // 'O' becomes 'o'
  EXPECT_FALSE(Unprotect(renamed).ok);
  EXPECT_EQ(Unprotect(renamed).error, kNteBadData);

  const Opened without = Unprotect(Protect(Text("secret"), nullptr, 0));
  ASSERT_TRUE(without.ok);
  EXPECT_TRUE(without.description_given);
  EXPECT_EQ(without.description, u"");
}

TEST_F(CryptProtectTest, EntropyMustMatch) {
  const Bytes entropy = Text("pepper");
  const Bytes other = Text("salt");
  const Bytes blob = Protect(Text("data"), u"d", 0, &entropy);
  EXPECT_EQ(Unprotect(blob, &entropy).data, Text("data"));
  EXPECT_EQ(Unprotect(blob).error, kNteBadData);
  EXPECT_EQ(Unprotect(blob, &other).error, kNteBadData);
  EXPECT_EQ(Unprotect(Protect(Text("data"), u"d", 0), &entropy).error, kNteBadData);
}

TEST_F(CryptProtectTest, AnotherMachineCannotOpen) {
  FakeMachine elsewhere("0f1e2d3c4b5a69788796a5b4c3d2e1f0\n");
  FakeMachine same_without_newline("6e0d52f1c4a14e0f9b8e3a7d2c1b0a99");
  for (DWORD flags : {0u, static_cast<DWORD>(CRYPTPROTECT_LOCAL_MACHINE)}) {
    here_.Enter();
    const Bytes blob = Protect(Text("data"), u"d", flags);
    elsewhere.Enter();
    EXPECT_EQ(Unprotect(blob).error, kNteBadData);
    same_without_newline.Enter();
    EXPECT_TRUE(Unprotect(blob).ok);
  }
}

TEST_F(CryptProtectTest, MissingMachineIdentityFailsWithNoKey) {
  const Bytes blob = Protect(Text("data"), u"d", CRYPTPROTECT_LOCAL_MACHINE);
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

// Every way a blob can be wrong: a clean failure with the code that says why.
TEST_F(CryptProtectTest, DamagedBlobsFailCleanly) {
  const Bytes blob = Protect(Text("sixteen bytes..."), u"desc", 0);
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
      {"unknown scope bit", with(4, 1), ERROR_INVALID_DATA},
      {"odd description length", with(8, 7), ERROR_INVALID_DATA},
      {"description past the end", with(10, 1), ERROR_INVALID_DATA},
      {"scope changed to the machine", with(4, CRYPTPROTECT_LOCAL_MACHINE), kNteBadData},
      {"description shortened", with(8, 6), kNteBadData},
      {"nonce changed", with(20, blob[20] ^ 1), kNteBadData},
      {"cipher text changed", with(size - 17, blob[size - 17] ^ 0x80), kNteBadData},
      {"tag changed", with(size - 1, blob[size - 1] ^ 1), kNteBadData},
      {"one byte cut", Bytes(blob.begin(), blob.end() - 1), kNteBadData},
      {"one byte added", [&] { Bytes b = blob; b.push_back(0); return b; }(), kNteBadData},
  };
  for (const Case& c : cases) {
    const Opened opened = Unprotect(c.bytes);
    EXPECT_FALSE(opened.ok) << c.what;
    EXPECT_EQ(opened.error, c.error) << c.what;
  }
  for (size_t length = 0; length < size; ++length) {
    EXPECT_FALSE(Unprotect(Bytes(blob.begin(), blob.begin() + length)).ok) << length;
  }
  for (size_t bit = 0; bit < 8 * size; ++bit) {
    EXPECT_FALSE(Unprotect(with(bit / 8, blob[bit / 8] ^ (1 << (bit % 8)))).ok) << bit;
  }
}

TEST_F(CryptProtectTest, NullArgumentsAreInvalidParameters) {
  Bytes data = Text("data");
  DATA_BLOB in = BlobOf(data);
  DATA_BLOB no_buffer{4, nullptr};
  DATA_BLOB out{};
  LPWSTR description = nullptr;
  // Input, entropy and output, for protecting and for opening.
  const struct {
    DATA_BLOB* in;
    DATA_BLOB* entropy;
    DATA_BLOB* out;
  } cases[] = {
      {nullptr, nullptr, &out}, {&in, nullptr, nullptr}, {&no_buffer, nullptr, &out}, {&in, &no_buffer, &out},
  };
  for (const auto& c : cases) {
    EXPECT_FALSE(CryptProtectData(c.in, u"d", c.entropy, nullptr, nullptr, 0, c.out));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(CryptUnprotectData(c.in, &description, c.entropy, nullptr, nullptr, 0, c.out));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  }
}

TEST_F(CryptProtectTest, DescriptionOutParameterIsOptional) {
  const Bytes blob = Protect(Text("data"), u"d", 0);
  DATA_BLOB in = BlobOf(blob);
  DATA_BLOB out{};
  ASSERT_TRUE(CryptUnprotectData(&in, nullptr, nullptr, nullptr, nullptr, 0, &out));
  EXPECT_EQ(Bytes(out.pbData, out.pbData + out.cbData), Text("data"));
  EXPECT_EQ(LocalFree(out.pbData), nullptr);
}

// Another user of the same machine: a machine blob opens, a user blob does not.
// Needs root, to become another user in a child process.
TEST_F(CryptProtectTest, UserScopeBindsTheUserMachineScopeDoesNot) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to run as another user";
  const Bytes user_blob = Protect(Text("mine"), u"d", 0);
  const Bytes machine_blob = Protect(Text("ours"), u"d", CRYPTPROTECT_LOCAL_MACHINE);
  const pid_t child = fork();
  if (child == 0) {
    if (setgid(65534) != 0 || setuid(65534) != 0) _exit(10);
    DATA_BLOB out{};
    DATA_BLOB in = BlobOf(user_blob);
    if (CryptUnprotectData(&in, nullptr, nullptr, nullptr, nullptr, 0, &out)) _exit(11);
    if (GetLastError() != kNteBadData) _exit(12);
    in = BlobOf(machine_blob);
    if (!CryptUnprotectData(&in, nullptr, nullptr, nullptr, nullptr, 0, &out)) _exit(13);
    if (Bytes(out.pbData, out.pbData + out.cbData) != Text("ours")) _exit(14);
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "10 setuid, 11 user blob opened, 12 wrong error, 13/14 machine blob";
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
