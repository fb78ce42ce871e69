// The cipher's destructor leaves no key material or vector in freed memory.
// This binary replaces the array allocation functions to look at every array
// block at the moment it is freed; the optimiser may not drop the wipe.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

#include "crypto/rijndael_cipher.h"

namespace {

constexpr std::size_t kHeader = 16;  // keeps the block's 16-byte alignment

struct Freed {
  std::size_t size;
  bool all_zero;
};

std::atomic<bool> watching{false};
Freed freed[16];
std::atomic<int> freed_count{0};

}  // namespace

void* operator new[](std::size_t size) {
  void* block = std::malloc(size + kHeader);
  if (block == nullptr) throw std::bad_alloc();
  std::memcpy(block, &size, sizeof size);
  return static_cast<char*>(block) + kHeader;
}

void operator delete[](void* address) noexcept {
  if (address == nullptr) return;
  char* block = static_cast<char*>(address) - kHeader;
  std::size_t size = 0;
  std::memcpy(&size, block, sizeof size);
  if (watching) {
    const unsigned char* bytes = static_cast<const unsigned char*>(address);
    bool all_zero = true;
    for (std::size_t i = 0; i < size; ++i) all_zero = all_zero && bytes[i] == 0;
    const int slot = freed_count++;
    if (slot < 16) freed[slot] = {size, all_zero};
  }
  std::free(block);
}

void operator delete[](void* address, std::size_t) noexcept { operator delete[](address); }

namespace {

TEST(RijndaelWipeTest, DestructorZeroesScratchAreaAndVectorBeforeFreeing) {
  for (int type_code : {1, 19, 35}) {
    for (const char* path : {"table", "chosen"}) {
      SCOPED_TRACE(std::to_string(type_code) + " " + path);
      const unsigned char key[32] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16,
                                     17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32};
      unsigned char vector[32];
      std::memset(vector, 0x5a, sizeof vector);
      unsigned char data[64] = {};
      unsigned char out[64];
      if (std::strcmp(path, "table") == 0) setenv("DEVICE_CIPHER_PATH", "table", 1);
      freed_count = 0;
      watching = true;
      {
        device::RijndaelCipher cipher(type_code);
        ASSERT_EQ(cipher.SetKey(key, 256), S_OK);
        ASSERT_EQ(cipher.SetIV(vector), S_OK);
        ASSERT_EQ(cipher.Encrypt(data, out, sizeof data), S_OK);
      }
      watching = false;
      unsetenv("DEVICE_CIPHER_PATH");
      const std::size_t vector_bytes = type_code == 1 ? 16 : 32;
      ASSERT_EQ(freed_count.load(), 2);
      bool saw_scratch = false;
      bool saw_vector = false;
      for (int i = 0; i < 2; ++i) {
        EXPECT_TRUE(freed[i].all_zero) << "a block of " << freed[i].size << " bytes";
        saw_scratch = saw_scratch || freed[i].size == 4096;
        saw_vector = saw_vector || freed[i].size == vector_bytes;
      }
      EXPECT_TRUE(saw_scratch);
      EXPECT_TRUE(saw_vector);
    }
  }
}

}  // namespace
