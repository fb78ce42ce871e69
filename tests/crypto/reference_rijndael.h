#pragma once
// A slow, plainly written Rijndael for checking the production cipher: a byte
// state of 4 rows and Nb columns, the four steps of the standard one after the
// other, the inverse cipher step by step, and an S-box found by searching for
// inverses. Nothing is shared with the cipher under test.
#include <cstdint>
#include <vector>

namespace device::testing {

using Bytes = std::vector<std::uint8_t>;

class ReferenceRijndael {
 public:
  // Block and key of 16, 24 or 32 bytes each.
  ReferenceRijndael(const Bytes& key, int block_bytes);

  int block_bytes() const { return 4 * nb_; }
  Bytes EncryptBlock(const std::uint8_t* in) const;
  Bytes DecryptBlock(const std::uint8_t* in) const;

 private:
  using State = std::vector<std::vector<std::uint8_t>>;  // [row][column]

  void AddRoundKey(State& state, int round) const;
  void ShiftRows(State& state, bool inverse) const;

  int nb_;
  int nk_;
  int nr_;
  std::vector<std::uint8_t> schedule_;  // (nr + 1) * nb words of 4 bytes, row 0 first
};

// Modes written out over a block function, for the oracle comparisons.
Bytes ReferenceCbcEncrypt(const ReferenceRijndael& cipher, const Bytes& vector, const Bytes& in);
Bytes ReferenceCbcDecrypt(const ReferenceRijndael& cipher, const Bytes& vector, const Bytes& in);
Bytes ReferenceEcb(const ReferenceRijndael& cipher, const Bytes& in, bool encrypt);
// CFB with 1-byte segments.
Bytes ReferenceCfb8(const ReferenceRijndael& cipher, const Bytes& vector, const Bytes& in, bool encrypt);

}  // namespace device::testing
