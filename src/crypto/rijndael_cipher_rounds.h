#pragma once
// The table path's block functions, one per direction and block length, every
// round written out: the state stays in local words and each column of a round
// is four table look-ups and five XORs. Included by rijndael_cipher.cpp only,
// so that the modes inline them.
//
// `rk` is a schedule of (nr + 1) * Nb words; `nr` is 10, 12 or 14 and at least
// the block's own minimum (Nb + 6). Functions for the shorter blocks carry the
// rounds that longer keys add and enter them by `nr`. The 128-bit block's take
// it as a template argument: with a count known only at run time GCC computes
// the first round's look-ups ahead of the test on it and parks them in stack
// slots (three times the stack traffic in the two-block decipher).
#include <cstdint>

#include "crypto/rijndael_cipher_tables.h"

namespace device::rijndael {

#define RIJNDAEL_TE(a, b, c, d, k)                                                        \
  (kTables.te[0][(a) & 0xff] ^ kTables.te[1][((b) >> 8) & 0xff] ^                         \
   kTables.te[2][((c) >> 16) & 0xff] ^ kTables.te[3][(d) >> 24] ^ (k))
#define RIJNDAEL_TD(a, b, c, d, k)                                                        \
  (kTables.td[0][(a) & 0xff] ^ kTables.td[1][((b) >> 8) & 0xff] ^                         \
   kTables.td[2][((c) >> 16) & 0xff] ^ kTables.td[3][(d) >> 24] ^ (k))
#define RIJNDAEL_SE(a, b, c, d, k)                                                        \
  (Column(kTables.sbox[(a) & 0xff], kTables.sbox[((b) >> 8) & 0xff],                      \
          kTables.sbox[((c) >> 16) & 0xff], kTables.sbox[(d) >> 24]) ^ (k))
#define RIJNDAEL_SD(a, b, c, d, k)                                                        \
  (Column(kTables.inverse_sbox[(a) & 0xff], kTables.inverse_sbox[((b) >> 8) & 0xff],      \
          kTables.inverse_sbox[((c) >> 16) & 0xff], kTables.inverse_sbox[(d) >> 24]) ^ (k))

// Row offsets (1, 2, 3): column c takes rows 1..3 from columns c+1, c+2, c+3
// when enciphering and from c-1, c-2, c-3 when deciphering.
#define RIJNDAEL_ROUND4(F, o, s, k)          \
  o##0 = F(s##0, s##1, s##2, s##3, (k)[0]); \
  o##1 = F(s##1, s##2, s##3, s##0, (k)[1]); \
  o##2 = F(s##2, s##3, s##0, s##1, (k)[2]); \
  o##3 = F(s##3, s##0, s##1, s##2, (k)[3])
#define RIJNDAEL_INVROUND4(F, o, s, k)       \
  o##0 = F(s##0, s##3, s##2, s##1, (k)[0]); \
  o##1 = F(s##1, s##0, s##3, s##2, (k)[1]); \
  o##2 = F(s##2, s##1, s##0, s##3, (k)[2]); \
  o##3 = F(s##3, s##2, s##1, s##0, (k)[3])

#define RIJNDAEL_ROUND6(F, o, s, k)          \
  o##0 = F(s##0, s##1, s##2, s##3, (k)[0]); \
  o##1 = F(s##1, s##2, s##3, s##4, (k)[1]); \
  o##2 = F(s##2, s##3, s##4, s##5, (k)[2]); \
  o##3 = F(s##3, s##4, s##5, s##0, (k)[3]); \
  o##4 = F(s##4, s##5, s##0, s##1, (k)[4]); \
  o##5 = F(s##5, s##0, s##1, s##2, (k)[5])
#define RIJNDAEL_INVROUND6(F, o, s, k)       \
  o##0 = F(s##0, s##5, s##4, s##3, (k)[0]); \
  o##1 = F(s##1, s##0, s##5, s##4, (k)[1]); \
  o##2 = F(s##2, s##1, s##0, s##5, (k)[2]); \
  o##3 = F(s##3, s##2, s##1, s##0, (k)[3]); \
  o##4 = F(s##4, s##3, s##2, s##1, (k)[4]); \
  o##5 = F(s##5, s##4, s##3, s##2, (k)[5])

// Row offsets (1, 3, 4) for the 256-bit block.
#define RIJNDAEL_ROUND8(F, o, s, k)          \
  o##0 = F(s##0, s##1, s##3, s##4, (k)[0]); \
  o##1 = F(s##1, s##2, s##4, s##5, (k)[1]); \
  o##2 = F(s##2, s##3, s##5, s##6, (k)[2]); \
  o##3 = F(s##3, s##4, s##6, s##7, (k)[3]); \
  o##4 = F(s##4, s##5, s##7, s##0, (k)[4]); \
  o##5 = F(s##5, s##6, s##0, s##1, (k)[5]); \
  o##6 = F(s##6, s##7, s##1, s##2, (k)[6]); \
  o##7 = F(s##7, s##0, s##2, s##3, (k)[7])
#define RIJNDAEL_INVROUND8(F, o, s, k)       \
  o##0 = F(s##0, s##7, s##5, s##4, (k)[0]); \
  o##1 = F(s##1, s##0, s##6, s##5, (k)[1]); \
  o##2 = F(s##2, s##1, s##7, s##6, (k)[2]); \
  o##3 = F(s##3, s##2, s##0, s##7, (k)[3]); \
  o##4 = F(s##4, s##3, s##1, s##0, (k)[4]); \
  o##5 = F(s##5, s##4, s##2, s##1, (k)[5]); \
  o##6 = F(s##6, s##5, s##3, s##2, (k)[6]); \
  o##7 = F(s##7, s##6, s##4, s##3, (k)[7])

template <int Nr>
inline void Encrypt128(const std::uint32_t* rk, const std::uint32_t* in, std::uint32_t* out) {
  std::uint32_t s0 = in[0] ^ rk[0], s1 = in[1] ^ rk[1], s2 = in[2] ^ rk[2], s3 = in[3] ^ rk[3];
  std::uint32_t t0, t1, t2, t3;
  RIJNDAEL_ROUND4(RIJNDAEL_TE, t, s, rk + 4);
  RIJNDAEL_ROUND4(RIJNDAEL_TE, s, t, rk + 8);
  RIJNDAEL_ROUND4(RIJNDAEL_TE, t, s, rk + 12);
  RIJNDAEL_ROUND4(RIJNDAEL_TE, s, t, rk + 16);
  RIJNDAEL_ROUND4(RIJNDAEL_TE, t, s, rk + 20);
  RIJNDAEL_ROUND4(RIJNDAEL_TE, s, t, rk + 24);
  RIJNDAEL_ROUND4(RIJNDAEL_TE, t, s, rk + 28);
  RIJNDAEL_ROUND4(RIJNDAEL_TE, s, t, rk + 32);
  RIJNDAEL_ROUND4(RIJNDAEL_TE, t, s, rk + 36);
  if constexpr (Nr > 10) {
    RIJNDAEL_ROUND4(RIJNDAEL_TE, s, t, rk + 40);
    RIJNDAEL_ROUND4(RIJNDAEL_TE, t, s, rk + 44);
    if constexpr (Nr > 12) {
      RIJNDAEL_ROUND4(RIJNDAEL_TE, s, t, rk + 48);
      RIJNDAEL_ROUND4(RIJNDAEL_TE, t, s, rk + 52);
    }
  }
  RIJNDAEL_ROUND4(RIJNDAEL_SE, s, t, rk + 4 * Nr);
  out[0] = s0; out[1] = s1; out[2] = s2; out[3] = s3;
}

template <int Nr>
inline void Decrypt128(const std::uint32_t* rk, const std::uint32_t* in, std::uint32_t* out) {
  const std::uint32_t* k = rk + 4 * Nr;
  std::uint32_t s0 = in[0] ^ k[0], s1 = in[1] ^ k[1], s2 = in[2] ^ k[2], s3 = in[3] ^ k[3];
  std::uint32_t t0, t1, t2, t3;
  if constexpr (Nr > 12) {
    RIJNDAEL_INVROUND4(RIJNDAEL_TD, t, s, rk + 52);
    RIJNDAEL_INVROUND4(RIJNDAEL_TD, s, t, rk + 48);
  }
  if constexpr (Nr > 10) {
    RIJNDAEL_INVROUND4(RIJNDAEL_TD, t, s, rk + 44);
    RIJNDAEL_INVROUND4(RIJNDAEL_TD, s, t, rk + 40);
  }
  RIJNDAEL_INVROUND4(RIJNDAEL_TD, t, s, rk + 36);
  RIJNDAEL_INVROUND4(RIJNDAEL_TD, s, t, rk + 32);
  RIJNDAEL_INVROUND4(RIJNDAEL_TD, t, s, rk + 28);
  RIJNDAEL_INVROUND4(RIJNDAEL_TD, s, t, rk + 24);
  RIJNDAEL_INVROUND4(RIJNDAEL_TD, t, s, rk + 20);
  RIJNDAEL_INVROUND4(RIJNDAEL_TD, s, t, rk + 16);
  RIJNDAEL_INVROUND4(RIJNDAEL_TD, t, s, rk + 12);
  RIJNDAEL_INVROUND4(RIJNDAEL_TD, s, t, rk + 8);
  RIJNDAEL_INVROUND4(RIJNDAEL_TD, t, s, rk + 4);
  RIJNDAEL_INVROUND4(RIJNDAEL_SD, s, t, rk);
  out[0] = s0; out[1] = s1; out[2] = s2; out[3] = s3;
}

// Two independent blocks, their rounds interleaved so that one block's table
// look-ups wait while the other's proceed (CBC deciphering).
template <int Nr>
inline void Decrypt128Pair(const std::uint32_t* rk, const std::uint32_t* in, std::uint32_t* out) {
  const std::uint32_t* k = rk + 4 * Nr;
  std::uint32_t a0 = in[0] ^ k[0], a1 = in[1] ^ k[1], a2 = in[2] ^ k[2], a3 = in[3] ^ k[3];
  std::uint32_t b0 = in[4] ^ k[0], b1 = in[5] ^ k[1], b2 = in[6] ^ k[2], b3 = in[7] ^ k[3];
  std::uint32_t c0, c1, c2, c3, d0, d1, d2, d3;
#define RIJNDAEL_PAIR(F, from_a, from_b, to_a, to_b, key) \
  RIJNDAEL_INVROUND4(F, to_a, from_a, key);               \
  RIJNDAEL_INVROUND4(F, to_b, from_b, key)
  if constexpr (Nr > 12) {
    RIJNDAEL_PAIR(RIJNDAEL_TD, a, b, c, d, rk + 52);
    RIJNDAEL_PAIR(RIJNDAEL_TD, c, d, a, b, rk + 48);
  }
  if constexpr (Nr > 10) {
    RIJNDAEL_PAIR(RIJNDAEL_TD, a, b, c, d, rk + 44);
    RIJNDAEL_PAIR(RIJNDAEL_TD, c, d, a, b, rk + 40);
  }
  RIJNDAEL_PAIR(RIJNDAEL_TD, a, b, c, d, rk + 36);
  RIJNDAEL_PAIR(RIJNDAEL_TD, c, d, a, b, rk + 32);
  RIJNDAEL_PAIR(RIJNDAEL_TD, a, b, c, d, rk + 28);
  RIJNDAEL_PAIR(RIJNDAEL_TD, c, d, a, b, rk + 24);
  RIJNDAEL_PAIR(RIJNDAEL_TD, a, b, c, d, rk + 20);
  RIJNDAEL_PAIR(RIJNDAEL_TD, c, d, a, b, rk + 16);
  RIJNDAEL_PAIR(RIJNDAEL_TD, a, b, c, d, rk + 12);
  RIJNDAEL_PAIR(RIJNDAEL_TD, c, d, a, b, rk + 8);
  RIJNDAEL_PAIR(RIJNDAEL_TD, a, b, c, d, rk + 4);
  RIJNDAEL_PAIR(RIJNDAEL_SD, c, d, a, b, rk);
#undef RIJNDAEL_PAIR
  out[0] = a0; out[1] = a1; out[2] = a2; out[3] = a3;
  out[4] = b0; out[5] = b1; out[6] = b2; out[7] = b3;
}

inline void Encrypt192(const std::uint32_t* rk, int nr, const std::uint32_t* in, std::uint32_t* out) {
  std::uint32_t s0 = in[0] ^ rk[0], s1 = in[1] ^ rk[1], s2 = in[2] ^ rk[2];
  std::uint32_t s3 = in[3] ^ rk[3], s4 = in[4] ^ rk[4], s5 = in[5] ^ rk[5];
  std::uint32_t t0, t1, t2, t3, t4, t5;
  RIJNDAEL_ROUND6(RIJNDAEL_TE, t, s, rk + 6);
  RIJNDAEL_ROUND6(RIJNDAEL_TE, s, t, rk + 12);
  RIJNDAEL_ROUND6(RIJNDAEL_TE, t, s, rk + 18);
  RIJNDAEL_ROUND6(RIJNDAEL_TE, s, t, rk + 24);
  RIJNDAEL_ROUND6(RIJNDAEL_TE, t, s, rk + 30);
  RIJNDAEL_ROUND6(RIJNDAEL_TE, s, t, rk + 36);
  RIJNDAEL_ROUND6(RIJNDAEL_TE, t, s, rk + 42);
  RIJNDAEL_ROUND6(RIJNDAEL_TE, s, t, rk + 48);
  RIJNDAEL_ROUND6(RIJNDAEL_TE, t, s, rk + 54);
  RIJNDAEL_ROUND6(RIJNDAEL_TE, s, t, rk + 60);
  RIJNDAEL_ROUND6(RIJNDAEL_TE, t, s, rk + 66);
  if (nr > 12) {
    RIJNDAEL_ROUND6(RIJNDAEL_TE, s, t, rk + 72);
    RIJNDAEL_ROUND6(RIJNDAEL_TE, t, s, rk + 78);
  }
  RIJNDAEL_ROUND6(RIJNDAEL_SE, s, t, rk + 6 * nr);
  out[0] = s0; out[1] = s1; out[2] = s2;
  out[3] = s3; out[4] = s4; out[5] = s5;
}

inline void Decrypt192(const std::uint32_t* rk, int nr, const std::uint32_t* in, std::uint32_t* out) {
  const std::uint32_t* k = rk + 6 * nr;
  std::uint32_t s0 = in[0] ^ k[0], s1 = in[1] ^ k[1], s2 = in[2] ^ k[2];
  std::uint32_t s3 = in[3] ^ k[3], s4 = in[4] ^ k[4], s5 = in[5] ^ k[5];
  std::uint32_t t0, t1, t2, t3, t4, t5;
  if (nr > 12) {
    RIJNDAEL_INVROUND6(RIJNDAEL_TD, t, s, rk + 78);
    RIJNDAEL_INVROUND6(RIJNDAEL_TD, s, t, rk + 72);
  }
  RIJNDAEL_INVROUND6(RIJNDAEL_TD, t, s, rk + 66);
  RIJNDAEL_INVROUND6(RIJNDAEL_TD, s, t, rk + 60);
  RIJNDAEL_INVROUND6(RIJNDAEL_TD, t, s, rk + 54);
  RIJNDAEL_INVROUND6(RIJNDAEL_TD, s, t, rk + 48);
  RIJNDAEL_INVROUND6(RIJNDAEL_TD, t, s, rk + 42);
  RIJNDAEL_INVROUND6(RIJNDAEL_TD, s, t, rk + 36);
  RIJNDAEL_INVROUND6(RIJNDAEL_TD, t, s, rk + 30);
  RIJNDAEL_INVROUND6(RIJNDAEL_TD, s, t, rk + 24);
  RIJNDAEL_INVROUND6(RIJNDAEL_TD, t, s, rk + 18);
  RIJNDAEL_INVROUND6(RIJNDAEL_TD, s, t, rk + 12);
  RIJNDAEL_INVROUND6(RIJNDAEL_TD, t, s, rk + 6);
  RIJNDAEL_INVROUND6(RIJNDAEL_SD, s, t, rk);
  out[0] = s0; out[1] = s1; out[2] = s2;
  out[3] = s3; out[4] = s4; out[5] = s5;
}

// The 256-bit block always takes 14 rounds.
inline void Encrypt256(const std::uint32_t* rk, const std::uint32_t* in, std::uint32_t* out) {
  std::uint32_t s0 = in[0] ^ rk[0], s1 = in[1] ^ rk[1], s2 = in[2] ^ rk[2], s3 = in[3] ^ rk[3];
  std::uint32_t s4 = in[4] ^ rk[4], s5 = in[5] ^ rk[5], s6 = in[6] ^ rk[6], s7 = in[7] ^ rk[7];
  std::uint32_t t0, t1, t2, t3, t4, t5, t6, t7;
  RIJNDAEL_ROUND8(RIJNDAEL_TE, t, s, rk + 8);
  RIJNDAEL_ROUND8(RIJNDAEL_TE, s, t, rk + 16);
  RIJNDAEL_ROUND8(RIJNDAEL_TE, t, s, rk + 24);
  RIJNDAEL_ROUND8(RIJNDAEL_TE, s, t, rk + 32);
  RIJNDAEL_ROUND8(RIJNDAEL_TE, t, s, rk + 40);
  RIJNDAEL_ROUND8(RIJNDAEL_TE, s, t, rk + 48);
  RIJNDAEL_ROUND8(RIJNDAEL_TE, t, s, rk + 56);
  RIJNDAEL_ROUND8(RIJNDAEL_TE, s, t, rk + 64);
  RIJNDAEL_ROUND8(RIJNDAEL_TE, t, s, rk + 72);
  RIJNDAEL_ROUND8(RIJNDAEL_TE, s, t, rk + 80);
  RIJNDAEL_ROUND8(RIJNDAEL_TE, t, s, rk + 88);
  RIJNDAEL_ROUND8(RIJNDAEL_TE, s, t, rk + 96);
  RIJNDAEL_ROUND8(RIJNDAEL_TE, t, s, rk + 104);
  RIJNDAEL_ROUND8(RIJNDAEL_SE, s, t, rk + 112);
  out[0] = s0; out[1] = s1; out[2] = s2; out[3] = s3;
  out[4] = s4; out[5] = s5; out[6] = s6; out[7] = s7;
}

inline void Decrypt256(const std::uint32_t* rk, const std::uint32_t* in, std::uint32_t* out) {
  const std::uint32_t* k = rk + 112;
  std::uint32_t s0 = in[0] ^ k[0], s1 = in[1] ^ k[1], s2 = in[2] ^ k[2], s3 = in[3] ^ k[3];
  std::uint32_t s4 = in[4] ^ k[4], s5 = in[5] ^ k[5], s6 = in[6] ^ k[6], s7 = in[7] ^ k[7];
  std::uint32_t t0, t1, t2, t3, t4, t5, t6, t7;
  RIJNDAEL_INVROUND8(RIJNDAEL_TD, t, s, rk + 104);
  RIJNDAEL_INVROUND8(RIJNDAEL_TD, s, t, rk + 96);
  RIJNDAEL_INVROUND8(RIJNDAEL_TD, t, s, rk + 88);
  RIJNDAEL_INVROUND8(RIJNDAEL_TD, s, t, rk + 80);
  RIJNDAEL_INVROUND8(RIJNDAEL_TD, t, s, rk + 72);
  RIJNDAEL_INVROUND8(RIJNDAEL_TD, s, t, rk + 64);
  RIJNDAEL_INVROUND8(RIJNDAEL_TD, t, s, rk + 56);
  RIJNDAEL_INVROUND8(RIJNDAEL_TD, s, t, rk + 48);
  RIJNDAEL_INVROUND8(RIJNDAEL_TD, t, s, rk + 40);
  RIJNDAEL_INVROUND8(RIJNDAEL_TD, s, t, rk + 32);
  RIJNDAEL_INVROUND8(RIJNDAEL_TD, t, s, rk + 24);
  RIJNDAEL_INVROUND8(RIJNDAEL_TD, s, t, rk + 16);
  RIJNDAEL_INVROUND8(RIJNDAEL_TD, t, s, rk + 8);
  RIJNDAEL_INVROUND8(RIJNDAEL_SD, s, t, rk);
  out[0] = s0; out[1] = s1; out[2] = s2; out[3] = s3;
  out[4] = s4; out[5] = s5; out[6] = s6; out[7] = s7;
}

#undef RIJNDAEL_TE
#undef RIJNDAEL_TD
#undef RIJNDAEL_SE
#undef RIJNDAEL_SD
#undef RIJNDAEL_ROUND4
#undef RIJNDAEL_INVROUND4
#undef RIJNDAEL_ROUND6
#undef RIJNDAEL_INVROUND6
#undef RIJNDAEL_ROUND8
#undef RIJNDAEL_INVROUND8

}  // namespace device::rijndael
