#include <windows.h>

#include <cstdlib>
#include <mutex>
#include <unordered_set>

namespace w32 {
namespace {

// The blocks LocalAlloc handed out and LocalFree has not taken back, so that a
// stray or repeated LocalFree fails instead of corrupting the heap.
struct LocalBlocks {
  std::mutex lock;
  std::unordered_set<void*> live;
};

LocalBlocks& TheLocalBlocks() {
  static LocalBlocks* blocks = new LocalBlocks;  // outlives static destructors that free memory
  return *blocks;
}

constexpr UINT kKnownFlags = LMEM_ZEROINIT | LMEM_NOCOMPACT | LMEM_NODISCARD;

}  // namespace
}  // namespace w32

// LocalAlloc: fixed memory from malloc, the handle being the address; moveable
// memory is not provided (ERROR_INVALID_PARAMETER).
HLOCAL WINAPI LocalAlloc(UINT uFlags, SIZE_T uBytes) {
  if ((uFlags & ~w32::kKnownFlags) != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const size_t size = uBytes != 0 ? uBytes : 1;  // a zero-byte block is still a distinct block
  void* block = (uFlags & LMEM_ZEROINIT) != 0 ? std::calloc(1, size) : std::malloc(size);
  if (block == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  w32::LocalBlocks& blocks = w32::TheLocalBlocks();
  std::lock_guard<std::mutex> guard(blocks.lock);
  blocks.live.insert(block);
  return block;
}

// LocalFree: frees a block of LocalAlloc and returns null; null is ignored; any
// other value is returned unchanged with ERROR_INVALID_HANDLE.
HLOCAL WINAPI LocalFree(HLOCAL hMem) {
  if (hMem == nullptr) return nullptr;
  {
    w32::LocalBlocks& blocks = w32::TheLocalBlocks();
    std::lock_guard<std::mutex> guard(blocks.lock);
    if (blocks.live.erase(hMem) == 0) {
      SetLastError(ERROR_INVALID_HANDLE);
      return hMem;
    }
  }
  std::free(hMem);
  return nullptr;
}
