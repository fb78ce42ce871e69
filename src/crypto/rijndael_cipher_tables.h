#pragma once
// The Rijndael constant tables, derived at compile time from arithmetic in
// GF(2^8) modulo x^8 + x^4 + x^3 + x + 1, so that every entry is visibly the
// standard's and no page of hexadecimal can hide a typing error.
//
// Words hold one column each, row 0 in the low byte.
#include <cstdint>

namespace device::rijndael {

constexpr std::uint8_t Double(std::uint8_t x) {
  return static_cast<std::uint8_t>((x << 1) ^ ((x & 0x80) != 0 ? 0x1b : 0));
}

constexpr std::uint8_t Multiply(std::uint8_t a, std::uint8_t b) {
  std::uint8_t product = 0;
  for (; b != 0; b >>= 1, a = Double(a)) {
    if ((b & 1) != 0) product ^= a;
  }
  return product;
}

constexpr std::uint32_t Column(std::uint8_t r0, std::uint8_t r1, std::uint8_t r2, std::uint8_t r3) {
  return static_cast<std::uint32_t>(r0) | static_cast<std::uint32_t>(r1) << 8 |
         static_cast<std::uint32_t>(r2) << 16 | static_cast<std::uint32_t>(r3) << 24;
}

constexpr std::uint32_t RotateLeft(std::uint32_t word, int bits) {
  return bits == 0 ? word : (word << bits) | (word >> (32 - bits));
}

struct Tables {
  alignas(64) std::uint32_t te[4][256];  // SubBytes, ShiftRows' byte and MixColumns in one look-up
  alignas(64) std::uint32_t td[4][256];  // the same for the inverse cipher
  alignas(64) std::uint32_t u[4][256];   // InvMixColumns alone, for the decryption schedule
  alignas(64) std::uint8_t sbox[256];
  alignas(64) std::uint8_t inverse_sbox[256];
  std::uint32_t round_constants[30];     // 29 constants and the closing zero
};

constexpr Tables MakeTables() {
  Tables t{};
  // Powers of the generator 3 give every non-zero element; its logarithm gives the inverse.
  std::uint8_t power[255] = {};
  std::uint8_t logarithm[256] = {};
  std::uint8_t x = 1;
  for (int i = 0; i < 255; ++i) {
    power[i] = x;
    logarithm[x] = static_cast<std::uint8_t>(i);
    x = Multiply(x, 3);
  }
  for (int i = 0; i < 256; ++i) {
    const std::uint8_t inverse = i == 0 ? 0 : power[(255 - logarithm[i]) % 255];
    // The affine transform: b ^ rotl(b,1) ^ rotl(b,2) ^ rotl(b,3) ^ rotl(b,4) ^ 0x63.
    std::uint8_t s = 0x63;
    for (int r = 0; r <= 4; ++r) {
      s ^= static_cast<std::uint8_t>((inverse << r) | (inverse >> ((8 - r) % 8)));
    }
    t.sbox[i] = s;
    t.inverse_sbox[s] = static_cast<std::uint8_t>(i);
  }
  for (int i = 0; i < 256; ++i) {
    const std::uint8_t s = t.sbox[i];
    const std::uint8_t si = t.inverse_sbox[i];
    const std::uint8_t b = static_cast<std::uint8_t>(i);
    const std::uint32_t te = Column(Multiply(s, 2), s, s, Multiply(s, 3));
    const std::uint32_t td = Column(Multiply(si, 14), Multiply(si, 9), Multiply(si, 13), Multiply(si, 11));
    const std::uint32_t u = Column(Multiply(b, 14), Multiply(b, 9), Multiply(b, 13), Multiply(b, 11));
    for (int k = 0; k < 4; ++k) {
      t.te[k][i] = RotateLeft(te, 8 * k);
      t.td[k][i] = RotateLeft(td, 8 * k);
      t.u[k][i] = RotateLeft(u, 8 * k);
    }
  }
  std::uint8_t constant = 1;
  for (int i = 0; i < 29; ++i) {
    t.round_constants[i] = constant;
    constant = Double(constant);
  }
  t.round_constants[29] = 0;
  return t;
}

inline constexpr Tables kTables = MakeTables();

// Spot checks against the standard's printed values.
static_assert(kTables.sbox[0x00] == 0x63 && kTables.sbox[0x53] == 0xed && kTables.sbox[0xff] == 0x16);
static_assert(kTables.inverse_sbox[0x63] == 0x00 && kTables.inverse_sbox[0x00] == 0x52);
static_assert(kTables.te[0][0x00] == 0xa56363c6 && kTables.td[0][0x00] == 0x50a7f451);
static_assert(kTables.round_constants[8] == 0x1b && kTables.round_constants[28] == 0xc5);

}  // namespace device::rijndael
