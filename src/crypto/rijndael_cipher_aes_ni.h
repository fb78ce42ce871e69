#pragma once
// The AES-NI block path for the 128-bit block. Its source alone is compiled
// with -maes -msse4.1; call it only when the processor has both.
//
// `keys` is a schedule as the table path lays it out (round key r at byte
// 16 r, a column's row 0 first), which on this little-endian host is exactly
// the byte order these instructions take. `rounds` is 10, 12 or 14.
// Decryption takes the decryption schedule (the equivalent inverse cipher's).
#include <cstddef>

namespace device::aes_ni {

void EncryptEcb(const unsigned char* keys, int rounds, const unsigned char* in, unsigned char* out,
                std::size_t blocks);
void DecryptEcb(const unsigned char* keys, int rounds, const unsigned char* in, unsigned char* out,
                std::size_t blocks);
void EncryptCbc(const unsigned char* keys, int rounds, const unsigned char* vector, const unsigned char* in,
                unsigned char* out, std::size_t blocks);
// Eight blocks at a time: CBC deciphering has no chain between the block ciphers.
void DecryptCbc(const unsigned char* keys, int rounds, const unsigned char* vector, const unsigned char* in,
                unsigned char* out, std::size_t blocks);

}  // namespace device::aes_ni
