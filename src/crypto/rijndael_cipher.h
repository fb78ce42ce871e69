#pragma once
// Rijndael with 128-, 192- and 256-bit blocks and keys, and its modes of
// operation (CBC, CFB, ECB). The 128-bit-block case is AES.
//
// The type code fixes block length and mode: the mode's base (0 CBC, 16 CFB,
// 32 ECB) plus the block-length code (1, 2, 3 for 128, 192, 256 bits).
//
// Two block paths serve the 128-bit block: the table path, and AES-NI when the
// processor has it. Each object picks one when it is made; DEVICE_CIPHER_PATH=table
// in the environment forces the table path. Both give the same bytes.
#include <windows.h>

#include <cstdint>
#include <memory>

namespace device {

class RijndaelCipher {
 public:
  // Throws std::invalid_argument for a code outside the nine.
  explicit RijndaelCipher(int type_code);
  ~RijndaelCipher();  // wipes the vector and both key schedules
  RijndaelCipher(const RijndaelCipher&) = delete;
  RijndaelCipher& operator=(const RijndaelCipher&) = delete;

  // Key lengths 128, 192 and 256 bits; a null key or another length gives
  // E_INVALIDARG and changes nothing.
  HRESULT SetKey(const BYTE* key, int key_bits);
  // Copies one block's worth of bytes; null gives E_INVALIDARG.
  HRESULT SetIV(const BYTE* vector);

  // One block with the current schedules. A null input or output writes nothing.
  void EncryptBlock128(const BYTE* in, BYTE* out) const;
  void DecryptBlock128(const BYTE* in, BYTE* out) const;
  void EncryptBlock192(const BYTE* in, BYTE* out) const;
  void DecryptBlock192(const BYTE* in, BYTE* out) const;
  void EncryptBlock256(const BYTE* in, BYTE* out) const;
  void DecryptBlock256(const BYTE* in, BYTE* out) const;

  // The mode of the type code over `length` bytes, chained from the stored
  // vector (which is never advanced). S_FALSE for a null input or output.
  // Throws std::invalid_argument when CBC or ECB get a length that is not a
  // multiple of the block, for a negative length, or when the CFB feedback
  // size exceeds the block. Input and output must not overlap.
  HRESULT Encrypt(const BYTE* in, BYTE* out, int length) const;
  HRESULT Decrypt(const BYTE* in, BYTE* out, int length) const;

  // Whether this object's 128-bit blocks go through AES-NI.
  bool UsesAesNi() const { return aes_ni_; }

 private:
  template <int Nb>
  HRESULT Run(bool encrypt, const BYTE* in, BYTE* out, int length) const;
  int Rounds() const;

  int type_code_;
  int block_bits_;
  int key_bits_;
  int feedback_size_;
  int rounds_;
  std::unique_ptr<BYTE[]> vector_;
  std::unique_ptr<BYTE[]> scratch_;
  std::uint32_t* encryption_schedule_;
  std::uint32_t* decryption_schedule_;
  bool aes_ni_;
};

}  // namespace device
