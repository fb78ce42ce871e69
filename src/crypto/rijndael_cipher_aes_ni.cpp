// The 128-bit block on AES-NI. Each round count has its own instantiation, so
// that the round keys are loaded once per call and the rounds are unrolled.
#include "crypto/rijndael_cipher_aes_ni.h"

#include <immintrin.h>

namespace device::aes_ni {
namespace {

template <int Nr>
struct Schedule {
  explicit Schedule(const unsigned char* bytes) {
#pragma GCC unroll 16
    for (int r = 0; r <= Nr; ++r) key[r] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + 16 * r));
  }
  __m128i key[Nr + 1];
};

__m128i Load(const unsigned char* bytes) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes)); }
void Store(unsigned char* bytes, __m128i value) { _mm_storeu_si128(reinterpret_cast<__m128i*>(bytes), value); }

template <int Nr>
__m128i Encipher(const Schedule<Nr>& s, __m128i x) {
  x = _mm_xor_si128(x, s.key[0]);
#pragma GCC unroll 16
  for (int r = 1; r < Nr; ++r) x = _mm_aesenc_si128(x, s.key[r]);
  return _mm_aesenclast_si128(x, s.key[Nr]);
}

// The equivalent inverse cipher: round keys from Nr down to 0.
template <int Nr>
__m128i Decipher(const Schedule<Nr>& s, __m128i x) {
  x = _mm_xor_si128(x, s.key[Nr]);
#pragma GCC unroll 16
  for (int r = Nr - 1; r > 0; --r) x = _mm_aesdec_si128(x, s.key[r]);
  return _mm_aesdeclast_si128(x, s.key[0]);
}

template <int Nr>
void EcbEncrypt(const unsigned char* keys, const unsigned char* in, unsigned char* out, std::size_t blocks) {
  const Schedule<Nr> s(keys);
  for (std::size_t i = 0; i < blocks; ++i) Store(out + 16 * i, Encipher(s, Load(in + 16 * i)));
}

template <int Nr>
void EcbDecrypt(const unsigned char* keys, const unsigned char* in, unsigned char* out, std::size_t blocks) {
  const Schedule<Nr> s(keys);
  for (std::size_t i = 0; i < blocks; ++i) Store(out + 16 * i, Decipher(s, Load(in + 16 * i)));
}

template <int Nr>
void CbcEncrypt(const unsigned char* keys, const unsigned char* vector, const unsigned char* in, unsigned char* out,
                std::size_t blocks) {
  const Schedule<Nr> s(keys);
  __m128i chain = Load(vector);
  for (std::size_t i = 0; i < blocks; ++i) {
    chain = Encipher(s, _mm_xor_si128(Load(in + 16 * i), chain));
    Store(out + 16 * i, chain);
  }
}

constexpr std::size_t kLanes = 8;

template <int Nr>
void CbcDecrypt(const unsigned char* keys, const unsigned char* vector, const unsigned char* in, unsigned char* out,
                std::size_t blocks) {
  const Schedule<Nr> s(keys);
  __m128i chain = Load(vector);
  std::size_t i = 0;
  for (; i + kLanes <= blocks; i += kLanes) {
    __m128i cipher[kLanes];
    __m128i x[kLanes];
#pragma GCC unroll 8
    for (std::size_t j = 0; j < kLanes; ++j) {
      cipher[j] = Load(in + 16 * (i + j));
      x[j] = _mm_xor_si128(cipher[j], s.key[Nr]);
    }
#pragma GCC unroll 16
    for (int r = Nr - 1; r > 0; --r) {
#pragma GCC unroll 8
      for (std::size_t j = 0; j < kLanes; ++j) x[j] = _mm_aesdec_si128(x[j], s.key[r]);
    }
#pragma GCC unroll 8
    for (std::size_t j = 0; j < kLanes; ++j) {
      Store(out + 16 * (i + j), _mm_xor_si128(_mm_aesdeclast_si128(x[j], s.key[0]), chain));
      chain = cipher[j];
    }
  }
  for (; i < blocks; ++i) {
    const __m128i cipher = Load(in + 16 * i);
    Store(out + 16 * i, _mm_xor_si128(Decipher(s, cipher), chain));
    chain = cipher;
  }
}

}  // namespace

void EncryptEcb(const unsigned char* keys, int rounds, const unsigned char* in, unsigned char* out,
                std::size_t blocks) {
  switch (rounds) {
    case 14: return EcbEncrypt<14>(keys, in, out, blocks);
    case 12: return EcbEncrypt<12>(keys, in, out, blocks);
    default: return EcbEncrypt<10>(keys, in, out, blocks);
  }
}

void DecryptEcb(const unsigned char* keys, int rounds, const unsigned char* in, unsigned char* out,
                std::size_t blocks) {
  switch (rounds) {
    case 14: return EcbDecrypt<14>(keys, in, out, blocks);
    case 12: return EcbDecrypt<12>(keys, in, out, blocks);
    default: return EcbDecrypt<10>(keys, in, out, blocks);
  }
}

void EncryptCbc(const unsigned char* keys, int rounds, const unsigned char* vector, const unsigned char* in,
                unsigned char* out, std::size_t blocks) {
  switch (rounds) {
    case 14: return CbcEncrypt<14>(keys, vector, in, out, blocks);
    case 12: return CbcEncrypt<12>(keys, vector, in, out, blocks);
    default: return CbcEncrypt<10>(keys, vector, in, out, blocks);
  }
}

void DecryptCbc(const unsigned char* keys, int rounds, const unsigned char* vector, const unsigned char* in,
                unsigned char* out, std::size_t blocks) {
  switch (rounds) {
    case 14: return CbcDecrypt<14>(keys, vector, in, out, blocks);
    case 12: return CbcDecrypt<12>(keys, vector, in, out, blocks);
    default: return CbcDecrypt<10>(keys, vector, in, out, blocks);
  }
}

}  // namespace device::aes_ni
