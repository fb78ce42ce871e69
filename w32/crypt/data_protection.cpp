// Data protection over OpenSSL: AES-256-GCM under a key derived with
// HKDF-SHA256 from the machine's identity ($W32_SYSROOT/etc/machine-id), so a
// blob opens on the machine that made it and nowhere else. Only the machine
// scope (CRYPTPROTECT_LOCAL_MACHINE) without entropy is built, as the module
// asks for nothing else: other calls fail with ERROR_NOT_SUPPORTED.
//
// The blob, version 1, all integers little-endian:
//
//   u32 version | u32 scope | u32 description bytes | description (UTF-16LE)
//   | 12-byte nonce | cipher text | 16-byte tag
//
// The scope is CRYPTPROTECT_LOCAL_MACHINE. Everything before the cipher text
// is authenticated with it. The version comes first so that later formats can
// be told apart.
//
// Failures, as GetLastError reports them:
//   ERROR_INVALID_PARAMETER  a null blob, or a null buffer with a non-zero size
//   ERROR_INVALID_DATA       bytes that are not a blob of a known version
//   NTE_BAD_DATA             a blob that fails authentication: damaged, or made
//                            on another machine
//   ERROR_NOT_SUPPORTED      entropy, or the user scope
//   NTE_NO_KEY               the machine identity is missing or empty
//   ERROR_ARITHMETIC_OVERFLOW  a blob that would exceed 4 GiB
//   ERROR_NOT_ENOUGH_MEMORY, NTE_FAIL  out of memory, OpenSSL failing
//   NTE_PROVIDER_DLL_FAIL    libcrypto is missing or lacks a function: the
//                            provider's library failed to load
//
// libcrypto is opened on the first call that needs it, so processes that never
// protect data do not map it.
#include <windows.h>
#include <openssl/evp.h>
#include <openssl/kdf.h>
#include <openssl/rand.h>
#include <string.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <utility>

#include "support/delay_load.h"
#include "support/sysroot.h"
#include "support/text.h"

namespace w32 {
namespace {

constexpr DWORD kVersion = 1;
constexpr size_t kHeaderBytes = 12;
constexpr size_t kNonceBytes = 12;
constexpr size_t kTagBytes = 16;
constexpr size_t kKeyBytes = 32;
constexpr size_t kMachineIdLimit = 4096;

#define CRYPTO_FUNCTIONS(F)                                                                              \
  F(EVP_CIPHER_CTX_ctrl) F(EVP_CIPHER_CTX_free) F(EVP_CIPHER_CTX_new) F(EVP_CipherInit_ex) F(EVP_CipherUpdate) \
  F(EVP_DecryptFinal_ex) F(EVP_EncryptFinal_ex) F(EVP_PKEY_CTX_add1_hkdf_info) F(EVP_PKEY_CTX_free)          \
  F(EVP_PKEY_CTX_new_id) F(EVP_PKEY_CTX_set1_hkdf_key) F(EVP_PKEY_CTX_set_hkdf_md) F(EVP_PKEY_derive)        \
  F(EVP_PKEY_derive_init) F(EVP_aes_256_gcm) F(EVP_sha256) F(RAND_bytes)
W32_DELAY_LOADED_API(CryptoApi, BindCrypto, CRYPTO_FUNCTIONS)

DelayLoaded<CryptoApi> libcrypto("libcrypto.so.3", BindCrypto);

void PutWord(BYTE* at, DWORD value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<BYTE>(value >> (8 * i));
}

DWORD GetWord(const BYTE* at) {
  return static_cast<DWORD>(at[0]) | static_cast<DWORD>(at[1]) << 8 | static_cast<DWORD>(at[2]) << 16 |
         static_cast<DWORD>(at[3]) << 24;
}

// Sets the last error to a system error code or an NTE_ status.
template <class Code>
BOOL Fail(Code code) {
  SetLastError(static_cast<DWORD>(code));
  return FALSE;
}

// Key material, wiped when it goes.
struct Secret {
  BYTE bytes[kKeyBytes] = {};
  ~Secret() { explicit_bzero(bytes, sizeof bytes); }
};

// The machine identity: the start of /etc/machine-id below W32_SYSROOT,
// without surrounding white space. Empty when the file is missing or blank.
std::string ReadMachineId() {
  const std::string id = ReadSysText("/etc/machine-id").substr(0, kMachineIdLimit);
  const size_t first = id.find_first_not_of(" \t\r\n");
  const size_t last = id.find_last_not_of(" \t\r\n");
  return first == std::string::npos ? std::string() : id.substr(first, last - first + 1);
}

// HKDF-SHA256 of the machine identity; the info names the format and the scope.
// The identity is public on the machine; the derived key is wiped after use.
HRESULT DeriveKey(const CryptoApi& api, Secret& key) {
  const std::string id = ReadMachineId();
  if (id.empty()) return NTE_NO_KEY;
  const std::string info = "w32 CryptProtectData v1 machine";
  std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> context(api.EVP_PKEY_CTX_new_id(EVP_PKEY_HKDF, nullptr),
                                                                     api.EVP_PKEY_CTX_free);
  size_t length = sizeof key.bytes;
  const bool derived =
      context != nullptr && api.EVP_PKEY_derive_init(context.get()) == 1 &&
      api.EVP_PKEY_CTX_set_hkdf_md(context.get(), api.EVP_sha256()) == 1 &&
      api.EVP_PKEY_CTX_set1_hkdf_key(context.get(), reinterpret_cast<const BYTE*>(id.data()),
                                     static_cast<int>(id.size())) == 1 &&
      api.EVP_PKEY_CTX_add1_hkdf_info(context.get(), reinterpret_cast<const BYTE*>(info.data()),
                                      static_cast<int>(info.size())) == 1 &&
      api.EVP_PKEY_derive(context.get(), key.bytes, &length) == 1 && length == sizeof key.bytes;
  return derived ? S_OK : NTE_FAIL;
}

using CipherContext = std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)>;

// EVP takes int lengths: longer inputs go in slices. A null output feeds
// additional authenticated data.
bool Update(const CryptoApi& api, EVP_CIPHER_CTX* context, BYTE* out, const BYTE* in, size_t size) {
  constexpr size_t kSlice = size_t{1} << 30;
  for (size_t done = 0; done < size;) {
    const int slice = static_cast<int>(size - done < kSlice ? size - done : kSlice);
    int written = 0;
    BYTE* to = out != nullptr ? out + done : nullptr;
    if (api.EVP_CipherUpdate(context, to, &written, in + done, slice) != 1) return false;
    done += static_cast<size_t>(slice);
  }
  return true;
}

// Starts AES-256-GCM and feeds the authenticated header.
CipherContext StartGcm(const CryptoApi& api, bool encrypt, const Secret& key, const BYTE* header, size_t header_bytes,
                       const BYTE* nonce) {
  CipherContext context(api.EVP_CIPHER_CTX_new(), api.EVP_CIPHER_CTX_free);
  const bool started = context != nullptr &&
                       api.EVP_CipherInit_ex(context.get(), api.EVP_aes_256_gcm(), nullptr, nullptr, nullptr, encrypt) == 1 &&
                       api.EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_SET_IVLEN, kNonceBytes, nullptr) == 1 &&
                       api.EVP_CipherInit_ex(context.get(), nullptr, nullptr, key.bytes, nonce, encrypt) == 1 &&
                       Update(api, context.get(), nullptr, header, header_bytes);
  if (!started) context.reset();
  return context;
}

bool BadBlob(const DATA_BLOB* blob) { return blob != nullptr && blob->cbData != 0 && blob->pbData == nullptr; }

bool HasEntropy(const DATA_BLOB* entropy) { return entropy != nullptr && entropy->cbData != 0; }

// The key and libcrypto for one call, or false with the last error set.
bool LoadKey(const CryptoApi** api, Secret& key) {
  *api = libcrypto.Get();
  if (*api == nullptr) return Fail(NTE_PROVIDER_DLL_FAIL);
  if (const HRESULT status = DeriveKey(**api, key); status != S_OK) return Fail(status);
  return true;
}

struct LocalBlock {
  explicit LocalBlock(size_t size) : address(static_cast<BYTE*>(LocalAlloc(LMEM_FIXED, size))) {}
  ~LocalBlock() { LocalFree(address); }
  BYTE* Release() { return std::exchange(address, nullptr); }
  BYTE* address;
};

}  // namespace
}  // namespace w32

// CryptProtectData: AES-256-GCM under the machine's key; no UI, the prompt is not shown.
BOOL WINAPI CryptProtectData(DATA_BLOB* pDataIn, LPCWSTR szDataDescr, DATA_BLOB* pOptionalEntropy, PVOID,
                             CRYPTPROTECT_PROMPTSTRUCT*, DWORD dwFlags, DATA_BLOB* pDataOut) {
  using namespace w32;
  if (pDataIn == nullptr || pDataOut == nullptr || BadBlob(pDataIn) || BadBlob(pOptionalEntropy)) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  *pDataOut = {0, nullptr};
  if ((dwFlags & CRYPTPROTECT_LOCAL_MACHINE) == 0 || HasEntropy(pOptionalEntropy)) return Fail(ERROR_NOT_SUPPORTED);
  const size_t description_bytes = szDataDescr != nullptr ? 2 * WideLength(szDataDescr) : 0;
  const size_t prefix = kHeaderBytes + description_bytes + kNonceBytes;
  const size_t total = prefix + pDataIn->cbData + kTagBytes;
  if (description_bytes > 0xffffffffu || total > 0xffffffffu) return Fail(ERROR_ARITHMETIC_OVERFLOW);

  const CryptoApi* loaded = nullptr;
  Secret key;
  if (!LoadKey(&loaded, key)) return FALSE;
  const CryptoApi& api = *loaded;

  LocalBlock blob(total);
  if (blob.address == nullptr) return FALSE;  // LocalAlloc has set the error
  BYTE* at = blob.address;
  PutWord(at, kVersion);
  PutWord(at + 4, CRYPTPROTECT_LOCAL_MACHINE);
  PutWord(at + 8, static_cast<DWORD>(description_bytes));
  for (size_t i = 0; i < description_bytes / 2; ++i) {
    at[kHeaderBytes + 2 * i] = static_cast<BYTE>(szDataDescr[i]);
    at[kHeaderBytes + 2 * i + 1] = static_cast<BYTE>(szDataDescr[i] >> 8);
  }
  BYTE* nonce = at + prefix - kNonceBytes;
  if (api.RAND_bytes(nonce, kNonceBytes) != 1) return Fail(NTE_FAIL);

  CipherContext context = StartGcm(api, true, key, at, prefix, nonce);
  int final_bytes = 0;
  if (context == nullptr || !Update(api, context.get(), at + prefix, pDataIn->pbData, pDataIn->cbData) ||
      api.EVP_EncryptFinal_ex(context.get(), at + prefix + pDataIn->cbData, &final_bytes) != 1 ||
      api.EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_GET_TAG, kTagBytes, at + total - kTagBytes) != 1) {
    return Fail(NTE_FAIL);
  }
  *pDataOut = {static_cast<DWORD>(total), blob.Release()};
  return TRUE;
}

// CryptUnprotectData: opens a blob of CryptProtectData on the machine that made
// it; the description comes back from LocalAlloc.
BOOL WINAPI CryptUnprotectData(DATA_BLOB* pDataIn, LPWSTR* ppszDataDescr, DATA_BLOB* pOptionalEntropy, PVOID,
                               CRYPTPROTECT_PROMPTSTRUCT*, DWORD, DATA_BLOB* pDataOut) {
  using namespace w32;
  if (pDataIn == nullptr || pDataOut == nullptr || BadBlob(pDataIn) || BadBlob(pOptionalEntropy)) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  *pDataOut = {0, nullptr};
  if (ppszDataDescr != nullptr) *ppszDataDescr = nullptr;
  if (HasEntropy(pOptionalEntropy)) return Fail(ERROR_NOT_SUPPORTED);

  const size_t size = pDataIn->cbData;
  const BYTE* at = pDataIn->pbData;
  if (size < kHeaderBytes + kNonceBytes + kTagBytes) return Fail(ERROR_INVALID_DATA);
  const DWORD version = GetWord(at);
  const DWORD scope = GetWord(at + 4);
  const size_t description_bytes = GetWord(at + 8);
  if (version != kVersion || scope != CRYPTPROTECT_LOCAL_MACHINE ||
      description_bytes % 2 != 0 || description_bytes > size - kHeaderBytes - kNonceBytes - kTagBytes) {
    return Fail(ERROR_INVALID_DATA);
  }
  const size_t prefix = kHeaderBytes + description_bytes + kNonceBytes;
  const size_t data_bytes = size - prefix - kTagBytes;

  const CryptoApi* loaded = nullptr;
  Secret key;
  if (!LoadKey(&loaded, key)) return FALSE;
  const CryptoApi& api = *loaded;
  LocalBlock data(data_bytes);
  if (data.address == nullptr) return FALSE;
  CipherContext context = StartGcm(api, false, key, at, prefix, at + prefix - kNonceBytes);
  if (context == nullptr || !Update(api, context.get(), data.address, at + prefix, data_bytes) ||
      api.EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_SET_TAG, kTagBytes,
                              const_cast<BYTE*>(at + size - kTagBytes)) != 1) {
    explicit_bzero(data.address, data_bytes);
    return Fail(NTE_FAIL);
  }
  int final_bytes = 0;
  if (api.EVP_DecryptFinal_ex(context.get(), data.address + data_bytes, &final_bytes) != 1) {
    explicit_bzero(data.address, data_bytes);
    return Fail(NTE_BAD_DATA);
  }

  if (ppszDataDescr != nullptr) {
    LocalBlock description(description_bytes + 2);
    if (description.address == nullptr) {
      explicit_bzero(data.address, data_bytes);
      return FALSE;
    }
    auto* text = reinterpret_cast<WCHAR*>(description.address);
    for (size_t i = 0; i < description_bytes / 2; ++i) {
      text[i] = static_cast<WCHAR>(at[kHeaderBytes + 2 * i] | at[kHeaderBytes + 2 * i + 1] << 8);
    }
    text[description_bytes / 2] = 0;
    *ppszDataDescr = reinterpret_cast<LPWSTR>(description.Release());
  }
  *pDataOut = {static_cast<DWORD>(data_bytes), data.Release()};
  return TRUE;
}
