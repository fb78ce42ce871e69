#include "reference_rijndael.h"

#include <stdexcept>

namespace device::testing {
namespace {

std::uint8_t Times(std::uint8_t a, std::uint8_t b) {
  std::uint8_t product = 0;
  for (int bit = 0; bit < 8; ++bit) {
    if (b & (1 << bit)) product ^= a;
    const bool carry = a & 0x80;
    a = static_cast<std::uint8_t>(a << 1);
    if (carry) a ^= 0x1b;
  }
  return product;
}

// Multiplicative inverse by search, then the affine map bit by bit:
// b'_i = b_i + b_(i+4) + b_(i+5) + b_(i+6) + b_(i+7) + c_i, c = 0x63.
std::uint8_t SBox(std::uint8_t x) {
  std::uint8_t inverse = 0;
  for (int candidate = 1; candidate < 256 && x != 0; ++candidate) {
    if (Times(x, static_cast<std::uint8_t>(candidate)) == 1) inverse = static_cast<std::uint8_t>(candidate);
  }
  std::uint8_t result = 0;
  for (int i = 0; i < 8; ++i) {
    int bit = (inverse >> i) ^ (inverse >> ((i + 4) % 8)) ^ (inverse >> ((i + 5) % 8)) ^
              (inverse >> ((i + 6) % 8)) ^ (inverse >> ((i + 7) % 8)) ^ (0x63 >> i);
    result |= static_cast<std::uint8_t>((bit & 1) << i);
  }
  return result;
}

std::uint8_t InverseSBox(std::uint8_t y) {
  for (int x = 0; x < 256; ++x) {
    if (SBox(static_cast<std::uint8_t>(x)) == y) return static_cast<std::uint8_t>(x);
  }
  throw std::logic_error("S-box is not a permutation");
}

const std::vector<std::uint8_t>& SBoxTable(bool inverse) {
  static const std::vector<std::uint8_t> forward = [] {
    std::vector<std::uint8_t> t(256);
    for (int x = 0; x < 256; ++x) t[x] = SBox(static_cast<std::uint8_t>(x));
    return t;
  }();
  static const std::vector<std::uint8_t> backward = [] {
    std::vector<std::uint8_t> t(256);
    for (int y = 0; y < 256; ++y) t[y] = InverseSBox(static_cast<std::uint8_t>(y));
    return t;
  }();
  return inverse ? backward : forward;
}

void MixColumn(std::uint8_t* column, const std::uint8_t coefficients[4]) {
  std::uint8_t mixed[4];
  for (int row = 0; row < 4; ++row) {
    mixed[row] = 0;
    for (int k = 0; k < 4; ++k) mixed[row] ^= Times(coefficients[(k - row + 4) % 4], column[k]);
  }
  for (int row = 0; row < 4; ++row) column[row] = mixed[row];
}

}  // namespace

ReferenceRijndael::ReferenceRijndael(const Bytes& key, int block_bytes)
    : nb_(block_bytes / 4), nk_(static_cast<int>(key.size()) / 4) {
  nr_ = (nb_ > nk_ ? nb_ : nk_) + 6;
  const int words = (nr_ + 1) * nb_;
  const auto& sbox = SBoxTable(false);
  schedule_.assign(key.begin(), key.end());
  std::uint8_t rcon = 1;
  for (int i = nk_; i < words; ++i) {
    std::uint8_t temp[4];
    for (int b = 0; b < 4; ++b) temp[b] = schedule_[4 * (i - 1) + b];
    if (i % nk_ == 0) {
      const std::uint8_t first = temp[0];
      for (int b = 0; b < 3; ++b) temp[b] = sbox[temp[b + 1]];
      temp[3] = sbox[first];
      temp[0] ^= rcon;
      rcon = Times(rcon, 2);
    } else if (nk_ > 6 && i % nk_ == 4) {
      for (int b = 0; b < 4; ++b) temp[b] = sbox[temp[b]];
    }
    for (int b = 0; b < 4; ++b) schedule_.push_back(schedule_[4 * (i - nk_) + b] ^ temp[b]);
  }
}

void ReferenceRijndael::AddRoundKey(State& state, int round) const {
  for (int c = 0; c < nb_; ++c) {
    for (int r = 0; r < 4; ++r) state[r][c] ^= schedule_[4 * (round * nb_ + c) + r];
  }
}

void ReferenceRijndael::ShiftRows(State& state, bool inverse) const {
  const int offsets[4] = {0, 1, nb_ == 8 ? 3 : 2, nb_ == 8 ? 4 : 3};
  for (int r = 1; r < 4; ++r) {
    std::vector<std::uint8_t> row(state[r]);
    for (int c = 0; c < nb_; ++c) {
      const int from = inverse ? (c - offsets[r] + nb_) % nb_ : (c + offsets[r]) % nb_;
      state[r][c] = row[from];
    }
  }
}

Bytes ReferenceRijndael::EncryptBlock(const std::uint8_t* in) const {
  static const std::uint8_t kMix[4] = {2, 3, 1, 1};
  const auto& sbox = SBoxTable(false);
  State state(4, std::vector<std::uint8_t>(nb_));
  for (int c = 0; c < nb_; ++c) {
    for (int r = 0; r < 4; ++r) state[r][c] = in[4 * c + r];
  }
  AddRoundKey(state, 0);
  for (int round = 1; round <= nr_; ++round) {
    for (auto& row : state) {
      for (auto& byte : row) byte = sbox[byte];
    }
    ShiftRows(state, false);
    if (round != nr_) {
      for (int c = 0; c < nb_; ++c) {
        std::uint8_t column[4] = {state[0][c], state[1][c], state[2][c], state[3][c]};
        MixColumn(column, kMix);
        for (int r = 0; r < 4; ++r) state[r][c] = column[r];
      }
    }
    AddRoundKey(state, round);
  }
  Bytes out(4 * nb_);
  for (int c = 0; c < nb_; ++c) {
    for (int r = 0; r < 4; ++r) out[4 * c + r] = state[r][c];
  }
  return out;
}

Bytes ReferenceRijndael::DecryptBlock(const std::uint8_t* in) const {
  static const std::uint8_t kInverseMix[4] = {14, 11, 13, 9};
  const auto& inverse_sbox = SBoxTable(true);
  State state(4, std::vector<std::uint8_t>(nb_));
  for (int c = 0; c < nb_; ++c) {
    for (int r = 0; r < 4; ++r) state[r][c] = in[4 * c + r];
  }
  AddRoundKey(state, nr_);
  for (int round = nr_ - 1; round >= 0; --round) {
    ShiftRows(state, true);
    for (auto& row : state) {
      for (auto& byte : row) byte = inverse_sbox[byte];
    }
    AddRoundKey(state, round);
    if (round != 0) {
      for (int c = 0; c < nb_; ++c) {
        std::uint8_t column[4] = {state[0][c], state[1][c], state[2][c], state[3][c]};
        MixColumn(column, kInverseMix);
        for (int r = 0; r < 4; ++r) state[r][c] = column[r];
      }
    }
  }
  Bytes out(4 * nb_);
  for (int c = 0; c < nb_; ++c) {
    for (int r = 0; r < 4; ++r) out[4 * c + r] = state[r][c];
  }
  return out;
}

Bytes ReferenceCbcEncrypt(const ReferenceRijndael& cipher, const Bytes& vector, const Bytes& in) {
  const size_t block = vector.size();
  Bytes out;
  Bytes chain = vector;
  for (size_t at = 0; at < in.size(); at += block) {
    Bytes x(block);
    for (size_t i = 0; i < block; ++i) x[i] = in[at + i] ^ chain[i];
    chain = cipher.EncryptBlock(x.data());
    out.insert(out.end(), chain.begin(), chain.end());
  }
  return out;
}

Bytes ReferenceCbcDecrypt(const ReferenceRijndael& cipher, const Bytes& vector, const Bytes& in) {
  const size_t block = vector.size();
  Bytes out;
  Bytes chain = vector;
  for (size_t at = 0; at < in.size(); at += block) {
    Bytes x = cipher.DecryptBlock(in.data() + at);
    for (size_t i = 0; i < block; ++i) out.push_back(x[i] ^ chain[i]);
    chain.assign(in.begin() + at, in.begin() + at + block);
  }
  return out;
}

Bytes ReferenceEcb(const ReferenceRijndael& cipher, const Bytes& in, bool encrypt) {
  Bytes out;
  const size_t block = cipher.block_bytes();
  for (size_t at = 0; at < in.size(); at += block) {
    Bytes y = encrypt ? cipher.EncryptBlock(in.data() + at) : cipher.DecryptBlock(in.data() + at);
    out.insert(out.end(), y.begin(), y.end());
  }
  return out;
}

Bytes ReferenceCfb8(const ReferenceRijndael& cipher, const Bytes& vector, const Bytes& in, bool encrypt) {
  Bytes out;
  Bytes shift = vector;
  for (std::uint8_t byte : in) {
    const std::uint8_t result = byte ^ cipher.EncryptBlock(shift.data())[0];
    out.push_back(result);
    shift.erase(shift.begin());
    shift.push_back(encrypt ? result : byte);
  }
  return out;
}

}  // namespace device::testing
