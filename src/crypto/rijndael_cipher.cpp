#include "crypto/rijndael_cipher.h"

#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "crypto/rijndael_cipher_aes_ni.h"
#include "crypto/rijndael_cipher_rounds.h"
#include "crypto/rijndael_cipher_tables.h"

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "schedules and blocks are words loaded from bytes in memory order, row 0 in the low byte");

namespace device {
namespace {

using rijndael::kTables;

constexpr int kScratchBytes = 4096;
constexpr int kDecryptionScheduleOffset = 2000;  // bytes after the encryption schedule

// The mode's base in the type code: 0 for CBC, then these.
constexpr int kModeCfb = 16;
constexpr int kModeEcb = 32;

int BlockBitsOf(int type_code) {
  switch (type_code) {
    case 1: case 17: case 33: return 128;
    case 2: case 18: case 34: return 192;
    case 3: case 19: case 35: return 256;
    default: return 0;
  }
}

bool ChooseAesNi() {
  const char* path = std::getenv("DEVICE_CIPHER_PATH");
  if (path != nullptr && std::strcmp(path, "table") == 0) return false;
  return __builtin_cpu_supports("aes") && __builtin_cpu_supports("sse4.1");
}

std::uint32_t SubWord(std::uint32_t word) {
  return rijndael::Column(kTables.sbox[word & 0xff], kTables.sbox[(word >> 8) & 0xff],
                          kTables.sbox[(word >> 16) & 0xff], kTables.sbox[word >> 24]);
}

// Byte 1 to byte 0: a right rotation of the little-endian word.
std::uint32_t RotWord(std::uint32_t word) { return (word >> 8) | (word << 24); }

std::uint32_t InvMixColumn(std::uint32_t word) {
  return kTables.u[0][word & 0xff] ^ kTables.u[1][(word >> 8) & 0xff] ^ kTables.u[2][(word >> 16) & 0xff] ^
         kTables.u[3][word >> 24];
}

template <int Nb>
void LoadBlock(const BYTE* bytes, std::uint32_t* words) {
  std::memcpy(words, bytes, 4 * Nb);
}

template <int Nb>
void StoreBlock(const std::uint32_t* words, BYTE* bytes) {
  std::memcpy(bytes, words, 4 * Nb);
}

// The table path's block functions by block length.
template <int Nb>
struct Table;

template <>
struct Table<4> {
  static void Encrypt(const std::uint32_t* rk, int nr, const std::uint32_t* in, std::uint32_t* out) {
    switch (nr) {
      case 10: rijndael::Encrypt128<10>(rk, in, out); break;
      case 12: rijndael::Encrypt128<12>(rk, in, out); break;
      default: rijndael::Encrypt128<14>(rk, in, out); break;
    }
  }
  static void Decrypt(const std::uint32_t* rk, int nr, const std::uint32_t* in, std::uint32_t* out) {
    switch (nr) {
      case 10: rijndael::Decrypt128<10>(rk, in, out); break;
      case 12: rijndael::Decrypt128<12>(rk, in, out); break;
      default: rijndael::Decrypt128<14>(rk, in, out); break;
    }
  }
};

template <>
struct Table<6> {
  static void Encrypt(const std::uint32_t* rk, int nr, const std::uint32_t* in, std::uint32_t* out) {
    rijndael::Encrypt192(rk, nr, in, out);
  }
  static void Decrypt(const std::uint32_t* rk, int nr, const std::uint32_t* in, std::uint32_t* out) {
    rijndael::Decrypt192(rk, nr, in, out);
  }
};

template <>
struct Table<8> {
  static void Encrypt(const std::uint32_t* rk, int, const std::uint32_t* in, std::uint32_t* out) {
    rijndael::Encrypt256(rk, in, out);
  }
  static void Decrypt(const std::uint32_t* rk, int, const std::uint32_t* in, std::uint32_t* out) {
    rijndael::Decrypt256(rk, in, out);
  }
};

// CBC deciphering of the 128-bit block. No chain runs between the block
// ciphers, so blocks go two at a time, their rounds interleaved.
template <int Nr>
void CbcDecrypt128(const std::uint32_t* dk, const BYTE* vector, const BYTE* in, BYTE* out, std::size_t blocks) {
  std::uint32_t chain[4];
  LoadBlock<4>(vector, chain);
  std::size_t b = 0;
  for (; b + 2 <= blocks; b += 2) {
    std::uint32_t x[8];
    std::uint32_t y[8];
    LoadBlock<8>(in + 16 * b, x);
    rijndael::Decrypt128Pair<Nr>(dk, x, y);
    for (int i = 0; i < 4; ++i) {
      y[i] ^= chain[i];
      y[4 + i] ^= x[i];
      chain[i] = x[4 + i];
    }
    StoreBlock<8>(y, out + 16 * b);
  }
  for (; b < blocks; ++b) {
    std::uint32_t x[4];
    std::uint32_t y[4];
    LoadBlock<4>(in + 16 * b, x);
    rijndael::Decrypt128<Nr>(dk, x, y);
    for (int i = 0; i < 4; ++i) {
      y[i] ^= chain[i];
      chain[i] = x[i];
    }
    StoreBlock<4>(y, out + 16 * b);
  }
}

template <int Nb>
void TableBlock(bool encrypt, const std::uint32_t* rk, int nr, const BYTE* in, BYTE* out) {
  if (in == nullptr || out == nullptr) return;
  std::uint32_t x[Nb];
  std::uint32_t y[Nb];
  LoadBlock<Nb>(in, x);
  if (encrypt) {
    Table<Nb>::Encrypt(rk, nr, x, y);
  } else {
    Table<Nb>::Decrypt(rk, nr, x, y);
  }
  StoreBlock<Nb>(y, out);
}

}  // namespace

RijndaelCipher::RijndaelCipher(int type_code)
    : type_code_(type_code),
      block_bits_(BlockBitsOf(type_code)),
      key_bits_(0),
      feedback_size_(1),
      rounds_(0),
      encryption_schedule_(nullptr),
      decryption_schedule_(nullptr),
      aes_ni_(false) {
  if (block_bits_ == 0) throw std::invalid_argument("RijndaelCipher: unknown type code");
  vector_.reset(new BYTE[block_bits_ / 8]());
  scratch_.reset(new BYTE[kScratchBytes]());
  BYTE* first = scratch_.get() + (4 - reinterpret_cast<std::uintptr_t>(scratch_.get()) % 4) % 4;
  encryption_schedule_ = reinterpret_cast<std::uint32_t*>(first);
  decryption_schedule_ = reinterpret_cast<std::uint32_t*>(first + kDecryptionScheduleOffset);
  aes_ni_ = ChooseAesNi();
}

// explicit_bzero: a wipe that the optimiser may not drop as a dead store.
RijndaelCipher::~RijndaelCipher() {
  explicit_bzero(vector_.get(), block_bits_ / 8);
  explicit_bzero(scratch_.get(), kScratchBytes);
}

HRESULT RijndaelCipher::SetKey(const BYTE* key, int key_bits) {
  if (key == nullptr || (key_bits != 128 && key_bits != 192 && key_bits != 256)) return E_INVALIDARG;
  const int nb = block_bits_ / 32;
  const int nk = key_bits / 32;
  key_bits_ = key_bits;
  rounds_ = (nb > nk ? nb : nk) + 6;
  std::memset(scratch_.get(), 0, kScratchBytes);

  // Each step makes the next Nk words from the previous Nk; the last step's
  // surplus words land in the scratch area unused.
  std::uint32_t* w = encryption_schedule_;
  std::memcpy(w, key, 4 * nk);
  const int words = (rounds_ + 1) * nb;
  const std::uint32_t* constant = kTables.round_constants;
  for (int done = nk; done < words; done += nk) {
    std::uint32_t* step = w + done;
    step[0] = step[-nk] ^ SubWord(RotWord(step[-1])) ^ *constant++;
    for (int j = 1; j < nk; ++j) {
      const std::uint32_t before = nk == 8 && j == 4 ? SubWord(step[j - 1]) : step[j - 1];
      step[j] = step[j - nk] ^ before;
    }
  }

  // The equivalent inverse cipher's schedule: same order, InvMixColumns on
  // every round key but the first and the last.
  std::uint32_t* d = decryption_schedule_;
  std::memcpy(d, w, 4 * words);
  for (int i = nb; i < rounds_ * nb; ++i) d[i] = InvMixColumn(d[i]);
  return S_OK;
}

HRESULT RijndaelCipher::SetIV(const BYTE* vector) {
  if (vector == nullptr) return E_INVALIDARG;
  std::memcpy(vector_.get(), vector, block_bits_ / 8);
  return S_OK;
}

// Before SetKey the object runs its block's fewest rounds over the all-zero schedules.
int RijndaelCipher::Rounds() const { return rounds_ != 0 ? rounds_ : block_bits_ / 32 + 6; }

void RijndaelCipher::EncryptBlock128(const BYTE* in, BYTE* out) const {
  if (aes_ni_ && in != nullptr && out != nullptr) {
    aes_ni::EncryptEcb(reinterpret_cast<const BYTE*>(encryption_schedule_), Rounds(), in, out, 1);
  } else {
    TableBlock<4>(true, encryption_schedule_, Rounds(), in, out);
  }
}

void RijndaelCipher::DecryptBlock128(const BYTE* in, BYTE* out) const {
  if (aes_ni_ && in != nullptr && out != nullptr) {
    aes_ni::DecryptEcb(reinterpret_cast<const BYTE*>(decryption_schedule_), Rounds(), in, out, 1);
  } else {
    TableBlock<4>(false, decryption_schedule_, Rounds(), in, out);
  }
}

void RijndaelCipher::EncryptBlock192(const BYTE* in, BYTE* out) const {
  TableBlock<6>(true, encryption_schedule_, Rounds(), in, out);
}

void RijndaelCipher::DecryptBlock192(const BYTE* in, BYTE* out) const {
  TableBlock<6>(false, decryption_schedule_, Rounds(), in, out);
}

void RijndaelCipher::EncryptBlock256(const BYTE* in, BYTE* out) const {
  TableBlock<8>(true, encryption_schedule_, Rounds(), in, out);
}

void RijndaelCipher::DecryptBlock256(const BYTE* in, BYTE* out) const {
  TableBlock<8>(false, decryption_schedule_, Rounds(), in, out);
}

HRESULT RijndaelCipher::Encrypt(const BYTE* in, BYTE* out, int length) const {
  switch (type_code_) {
    case 1: case 17: case 33: return Run<4>(true, in, out, length);
    case 2: case 18: case 34: return Run<6>(true, in, out, length);
    case 3: case 19: case 35: return Run<8>(true, in, out, length);
    default: return E_UNEXPECTED;
  }
}

HRESULT RijndaelCipher::Decrypt(const BYTE* in, BYTE* out, int length) const {
  switch (type_code_) {
    case 1: case 17: case 33: return Run<4>(false, in, out, length);
    case 2: case 18: case 34: return Run<6>(false, in, out, length);
    case 3: case 19: case 35: return Run<8>(false, in, out, length);
    default: return E_UNEXPECTED;
  }
}

template <int Nb>
HRESULT RijndaelCipher::Run(bool encrypt, const BYTE* in, BYTE* out, int length) const {
  constexpr int kBlock = 4 * Nb;
  if (in == nullptr || out == nullptr) return S_FALSE;
  if (length < 0) throw std::invalid_argument("RijndaelCipher: negative length");
  const std::size_t size = static_cast<std::size_t>(length);
  const int mode = type_code_ & 0x30;
  const int nr = Rounds();
  const std::uint32_t* ek = encryption_schedule_;
  const std::uint32_t* dk = decryption_schedule_;
  const bool aes_ni = Nb == 4 && aes_ni_;

  if (mode == kModeCfb) {
    // A shift register of one block; each segment of s bytes is XORed with the
    // first s bytes of the enciphered register, then the ciphertext segment
    // enters the register at its end. A shorter tail uses one more key block.
    const std::size_t s = static_cast<std::size_t>(feedback_size_);
    if (s > static_cast<std::size_t>(kBlock)) throw std::invalid_argument("RijndaelCipher: feedback size exceeds the block");
    BYTE shift[kBlock];
    BYTE key_block[kBlock];
    std::memcpy(shift, vector_.get(), kBlock);
    std::size_t done = 0;
    for (; size - done >= s; done += s) {
      if (aes_ni) {
        aes_ni::EncryptEcb(reinterpret_cast<const BYTE*>(ek), nr, shift, key_block, 1);
      } else {
        TableBlock<Nb>(true, ek, nr, shift, key_block);
      }
      std::memmove(shift, shift + s, kBlock - s);
      if (!encrypt) std::memcpy(shift + kBlock - s, in + done, s);
      for (std::size_t j = 0; j < s; ++j) out[done + j] = static_cast<BYTE>(in[done + j] ^ key_block[j]);
      if (encrypt) std::memcpy(shift + kBlock - s, out + done, s);
    }
    if (done < size) {
      if (aes_ni) {
        aes_ni::EncryptEcb(reinterpret_cast<const BYTE*>(ek), nr, shift, key_block, 1);
      } else {
        TableBlock<Nb>(true, ek, nr, shift, key_block);
      }
      for (std::size_t j = 0; done + j < size; ++j) out[done + j] = static_cast<BYTE>(in[done + j] ^ key_block[j]);
    }
    return S_OK;
  }

  if (size % kBlock != 0) throw std::invalid_argument("RijndaelCipher: length is not a multiple of the block");
  const std::size_t blocks = size / kBlock;

  if (aes_ni) {
    const BYTE* keys = reinterpret_cast<const BYTE*>(encrypt ? ek : dk);
    if (mode == kModeEcb) {
      (encrypt ? aes_ni::EncryptEcb : aes_ni::DecryptEcb)(keys, nr, in, out, blocks);
    } else if (encrypt) {
      aes_ni::EncryptCbc(keys, nr, vector_.get(), in, out, blocks);
    } else {
      aes_ni::DecryptCbc(keys, nr, vector_.get(), in, out, blocks);
    }
    return S_OK;
  }

  if (mode == kModeEcb) {
    for (std::size_t b = 0; b < blocks; ++b) {
      TableBlock<Nb>(encrypt, encrypt ? ek : dk, nr, in + b * kBlock, out + b * kBlock);
    }
    return S_OK;
  }

  if constexpr (Nb == 4) {
    if (!encrypt) {
      switch (nr) {
        case 10: CbcDecrypt128<10>(dk, vector_.get(), in, out, blocks); break;
        case 12: CbcDecrypt128<12>(dk, vector_.get(), in, out, blocks); break;
        default: CbcDecrypt128<14>(dk, vector_.get(), in, out, blocks); break;
      }
      return S_OK;
    }
  }

  // CBC, the chain value in local words.
  std::uint32_t chain[Nb];
  LoadBlock<Nb>(vector_.get(), chain);
  for (std::size_t b = 0; b < blocks; ++b) {
    std::uint32_t x[Nb];
    LoadBlock<Nb>(in + b * kBlock, x);
    if (encrypt) {
      for (int i = 0; i < Nb; ++i) x[i] ^= chain[i];
      Table<Nb>::Encrypt(ek, nr, x, chain);
      StoreBlock<Nb>(chain, out + b * kBlock);
    } else {
      std::uint32_t y[Nb];
      Table<Nb>::Decrypt(dk, nr, x, y);
      for (int i = 0; i < Nb; ++i) y[i] ^= chain[i];
      StoreBlock<Nb>(y, out + b * kBlock);
      std::memcpy(chain, x, sizeof chain);
    }
  }
  return S_OK;
}

}  // namespace device
