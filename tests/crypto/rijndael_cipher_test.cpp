#include "crypto/rijndael_cipher.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>

namespace device {
namespace {

using Bytes = std::vector<BYTE>;

enum class Path { kTable, kChosen };

void PrintTo(Path path, std::ostream* out) { *out << (path == Path::kTable ? "table path" : "chosen path"); }

// The environment switch is read when an object is made.
std::unique_ptr<RijndaelCipher> MakeCipher(int type_code, Path path) {
  if (path == Path::kTable) setenv("DEVICE_CIPHER_PATH", "table", 1);
  auto cipher = std::make_unique<RijndaelCipher>(type_code);
  unsetenv("DEVICE_CIPHER_PATH");
  return cipher;
}

Bytes Hex(const std::string& text) {
  Bytes bytes;
  for (size_t i = 0; i + 1 < text.size(); i += 2) bytes.push_back(static_cast<BYTE>(std::stoi(text.substr(i, 2), nullptr, 16)));
  return bytes;
}

Bytes RandomBytes(size_t size, std::mt19937& random) {
  Bytes bytes(size);
  for (auto& byte : bytes) byte = static_cast<BYTE>(random());
  return bytes;
}

// A valid pointer also for zero bytes, so that an empty call is not a null call.
const BYTE* Data(const Bytes& bytes) {
  static const BYTE empty = 0;
  return bytes.empty() ? &empty : bytes.data();
}

Bytes Apply(const RijndaelCipher& cipher, const Bytes& in, bool encrypt) {
  Bytes out(in.size() + 1);
  const int length = static_cast<int>(in.size());
  const HRESULT status = encrypt ? cipher.Encrypt(Data(in), out.data(), length) : cipher.Decrypt(Data(in), out.data(), length);
  EXPECT_EQ(status, S_OK);
  out.resize(in.size());
  return out;
}

std::unique_ptr<RijndaelCipher> Keyed(int type_code, const Bytes& key, const Bytes& vector, Path path) {
  auto cipher = MakeCipher(type_code, path);
  EXPECT_EQ(cipher->SetKey(key.data(), static_cast<int>(key.size() * 8)), S_OK);
  EXPECT_EQ(cipher->SetIV(vector.data()), S_OK);
  return cipher;
}

constexpr int kCbc = 0;
constexpr int kCfb = 16;
constexpr int kEcb = 32;
constexpr int kKeyBits[] = {128, 192, 256};

std::string PathName(const ::testing::TestParamInfo<Path>& info) {
  return info.param == Path::kTable ? "Table" : "Chosen";
}

class CipherPathTest : public ::testing::TestWithParam<Path> {};

INSTANTIATE_TEST_SUITE_P(BothPaths, CipherPathTest, ::testing::Values(Path::kTable, Path::kChosen), PathName);

TEST_P(CipherPathTest, FipsAppendixCVectors) {
  struct Vector {
    const char* key;
    const char* cipher_text;
  };
  const Vector vectors[] = {
      {"000102030405060708090a0b0c0d0e0f", "69c4e0d86a7b0430d8cdb78070b4c55a"},
      {"000102030405060708090a0b0c0d0e0f1011121314151617", "dda97ca4864cdfe06eaf70a0ec0d7191"},
      {"000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f", "8ea2b7ca516745bfeafc49904b496089"},
  };
  const Bytes plain = Hex("00112233445566778899aabbccddeeff");
  for (const Vector& v : vectors) {
    SCOPED_TRACE(v.key);
    const Bytes expected = Hex(v.cipher_text);
    auto cipher = Keyed(kEcb + 1, Hex(v.key), Bytes(16), GetParam());
    EXPECT_EQ(Apply(*cipher, plain, true), expected);
    EXPECT_EQ(Apply(*cipher, expected, false), plain);
  }
}

const EVP_CIPHER* OracleCipher(int mode, int key_bits) {
  switch (mode + key_bits) {
    case kCbc + 128: return EVP_aes_128_cbc();
    case kCbc + 192: return EVP_aes_192_cbc();
    case kCbc + 256: return EVP_aes_256_cbc();
    case kCfb + 128: return EVP_aes_128_cfb8();
    case kCfb + 192: return EVP_aes_192_cfb8();
    case kCfb + 256: return EVP_aes_256_cfb8();
    case kEcb + 128: return EVP_aes_128_ecb();
    case kEcb + 192: return EVP_aes_192_ecb();
    default: return EVP_aes_256_ecb();
  }
}

Bytes OpenSsl(const EVP_CIPHER* type, const Bytes& key, const Bytes& vector, const Bytes& in, bool encrypt) {
  std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> context(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
  EXPECT_EQ(EVP_CipherInit_ex(context.get(), type, nullptr, key.data(), vector.data(), encrypt ? 1 : 0), 1);
  EVP_CIPHER_CTX_set_padding(context.get(), 0);
  Bytes out(in.size() + 32);
  int written = 0;
  int final_written = 0;
  EXPECT_EQ(EVP_CipherUpdate(context.get(), out.data(), &written, Data(in), static_cast<int>(in.size())), 1);
  EXPECT_EQ(EVP_CipherFinal_ex(context.get(), out.data() + written, &final_written), 1);
  out.resize(written + final_written);
  return out;
}

// The 128-bit block is AES: OpenSSL is an independent oracle for ECB, CBC and
// CFB with a 1-byte segment (its CFB8).
TEST_P(CipherPathTest, MatchesOpenSslInEveryModeAndKeyLength) {
  std::mt19937 random(128);
  for (int mode : {kCbc, kCfb, kEcb}) {
    for (int key_bits : kKeyBits) {
      std::vector<size_t> lengths = {0, 16, 32, 48, 128, 16 * 37, 4096};
      if (mode == kCfb) lengths.insert(lengths.end(), {1, 15, 17, 333});
      for (size_t length : lengths) {
        SCOPED_TRACE("mode " + std::to_string(mode) + ", key " + std::to_string(key_bits) + ", length " +
                     std::to_string(length));
        const Bytes key = RandomBytes(key_bits / 8, random);
        const Bytes vector = RandomBytes(16, random);
        const Bytes plain = RandomBytes(length, random);
        auto cipher = Keyed(mode + 1, key, vector, GetParam());
        const Bytes expected = OpenSsl(OracleCipher(mode, key_bits), key, vector, plain, true);
        EXPECT_EQ(Apply(*cipher, plain, true), expected);
        EXPECT_EQ(Apply(*cipher, expected, false), plain);
      }
    }
  }
}

// The 192- and 256-bit blocks have no outside oracle: known answers for every
// key length, made once with a plainly written Rijndael.
TEST(RijndaelCipherTest, WideBlockKnownAnswers) {
  std::ifstream file(DEVICE_WIDE_BLOCK_VECTORS);
  ASSERT_TRUE(file) << DEVICE_WIDE_BLOCK_VECTORS;
  int count = 0;
  for (std::string line; std::getline(file, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    int block_bits = 0, key_bits = 0;
    std::string key, vector, plain, ecb, cbc, cfb;
    fields >> block_bits >> key_bits >> key >> vector >> plain >> ecb >> cbc >> cfb;
    SCOPED_TRACE(std::to_string(block_bits) + "-bit block, " + std::to_string(key_bits) + "-bit key");
    const int block_code = block_bits / 64 - 1;
    const Bytes text = Hex(plain);
    const Bytes odd(text.begin(), text.end() - 3);
    const struct {
      int mode;
      const Bytes& in;
      Bytes expected;
    } runs[] = {{kEcb, text, Hex(ecb)}, {kCbc, text, Hex(cbc)}, {kCfb, odd, Hex(cfb)}};
    for (const auto& run : runs) {
      auto cipher = Keyed(run.mode + block_code, Hex(key), Hex(vector), Path::kTable);
      EXPECT_EQ(Apply(*cipher, run.in, true), run.expected);
      EXPECT_EQ(Apply(*cipher, run.expected, false), run.in);
    }
    ++count;
  }
  EXPECT_EQ(count, 6);
}

TEST(RijndaelCipherTest, SetKeyAgainReplacesBothSchedules) {
  std::mt19937 random(3);
  for (int block_code : {1, 2, 3}) {
    for (Path path : {Path::kTable, Path::kChosen}) {
      const int block = 8 + 8 * block_code;
      const Bytes vector = RandomBytes(block, random);
      const Bytes second = RandomBytes(16, random);
      const Bytes data = RandomBytes(block * 4, random);
      auto rekeyed = Keyed(kCbc + block_code, RandomBytes(32, random), vector, path);
      ASSERT_EQ(rekeyed->SetKey(second.data(), 128), S_OK);
      auto fresh = Keyed(kCbc + block_code, second, vector, path);
      EXPECT_EQ(Apply(*rekeyed, data, true), Apply(*fresh, data, true));
      EXPECT_EQ(Apply(*rekeyed, data, false), Apply(*fresh, data, false));
    }
  }
}

TEST(RijndaelCipherTest, NullPointersAndBadKeyLengthsChangeNothing) {
  std::mt19937 random(5);
  const Bytes key = RandomBytes(16, random);
  const Bytes vector = RandomBytes(16, random);
  const Bytes data = RandomBytes(32, random);
  auto cipher = Keyed(kCbc + 1, key, vector, Path::kChosen);
  const Bytes before = Apply(*cipher, data, true);

  EXPECT_EQ(cipher->SetKey(nullptr, 128), E_INVALIDARG);
  EXPECT_EQ(cipher->SetKey(RandomBytes(32, random).data(), 160), E_INVALIDARG);
  EXPECT_EQ(cipher->SetIV(nullptr), E_INVALIDARG);
  EXPECT_EQ(Apply(*cipher, data, true), before);

  Bytes out(32, 0xaa);
  EXPECT_EQ(cipher->Encrypt(nullptr, out.data(), 32), S_FALSE);
  EXPECT_EQ(cipher->Decrypt(nullptr, out.data(), 32), S_FALSE);
  EXPECT_EQ(cipher->Encrypt(data.data(), nullptr, 32), S_FALSE);
  EXPECT_EQ(cipher->Decrypt(data.data(), nullptr, 32), S_FALSE);
  cipher->EncryptBlock128(nullptr, out.data());
  cipher->DecryptBlock128(nullptr, out.data());
  cipher->EncryptBlock128(data.data(), nullptr);
  EXPECT_EQ(out, Bytes(32, 0xaa));
}

TEST(RijndaelCipherTest, LengthRulesThrow) {
  struct Case {
    int type_code;
    int length;
  };
  const Case refused[] = {
      {kCbc + 1, 15}, {kCbc + 1, 17}, {kCbc + 1, -16}, {kEcb + 1, 8},  {kCbc + 2, 16},
      {kEcb + 2, 40}, {kCbc + 3, 48}, {kEcb + 3, 16},  {kCfb + 1, -1}, {kCfb + 3, -32},
  };
  Bytes in(64), out(64);
  for (const Case& c : refused) {
    SCOPED_TRACE("type code " + std::to_string(c.type_code) + ", length " + std::to_string(c.length));
    auto cipher = MakeCipher(c.type_code, Path::kChosen);
    EXPECT_THROW(cipher->Encrypt(in.data(), out.data(), c.length), std::invalid_argument);
    EXPECT_THROW(cipher->Decrypt(in.data(), out.data(), c.length), std::invalid_argument);
  }
  const Case accepted[] = {{kCbc + 2, 48}, {kEcb + 3, 64}, {kCfb + 2, 7}, {kCbc + 1, 0}};
  for (const Case& c : accepted) {
    auto cipher = MakeCipher(c.type_code, Path::kChosen);
    EXPECT_EQ(cipher->Encrypt(in.data(), out.data(), c.length), S_OK);
  }
}

TEST(RijndaelCipherTest, RefusesUnknownTypeCodes) {
  for (int code : {0, -1, 4, 16, 20, 32, 36, 49, 255}) {
    EXPECT_THROW(RijndaelCipher{code}, std::invalid_argument) << code;
  }
  for (int code : {1, 2, 3, 17, 18, 19, 33, 34, 35}) {
    EXPECT_NO_THROW(RijndaelCipher{code}) << code;
  }
}

}  // namespace
}  // namespace device
