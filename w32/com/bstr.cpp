#include <oleauto.h>

#include <cstdlib>
#include <cstring>

namespace {

// A BSTR points at its characters; the four bytes before them hold the length
// in bytes (without the terminating zero). The block starts eight bytes before
// the characters so that they keep the heap's alignment.
constexpr size_t kHeader = 8;
constexpr UINT kMaxChars = (0xFFFFFFFFu - kHeader - sizeof(OLECHAR)) / sizeof(OLECHAR) / 2;

char* BlockOf(BSTR text) { return reinterpret_cast<char*>(text) - kHeader; }

}  // namespace

// SysAllocStringLen: ui characters copied from strIn (uninitialised when it is
// null), zero-terminated, with the length prefix.
BSTR STDAPICALLTYPE SysAllocStringLen(const OLECHAR* text, UINT length) {
  if (length > kMaxChars) return nullptr;
  const size_t bytes = static_cast<size_t>(length) * sizeof(OLECHAR);
  char* block = static_cast<char*>(std::malloc(kHeader + bytes + sizeof(OLECHAR)));
  if (block == nullptr) return nullptr;
  const DWORD prefix = static_cast<DWORD>(bytes);
  std::memcpy(block + kHeader - sizeof prefix, &prefix, sizeof prefix);
  BSTR result = reinterpret_cast<BSTR>(block + kHeader);
  if (text != nullptr) std::memcpy(result, text, bytes);
  result[length] = 0;
  return result;
}

// SysFreeString: frees a BSTR; null does nothing.
void STDAPICALLTYPE SysFreeString(BSTR text) {
  if (text != nullptr) std::free(BlockOf(text));
}

// SysStringLen: the length in characters from the prefix (zeros inside count); 0 for null.
UINT STDAPICALLTYPE SysStringLen(BSTR text) {
  if (text == nullptr) return 0;
  DWORD prefix = 0;
  std::memcpy(&prefix, BlockOf(text) + kHeader - sizeof prefix, sizeof prefix);
  return prefix / sizeof(OLECHAR);
}
