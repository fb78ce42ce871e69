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

}  // namespace
}  // namespace w32

// LocalAlloc: fixed memory from malloc, the handle being the address; any
// other kind (moveable, zeroed) is not provided.
HLOCAL WINAPI LocalAlloc(UINT uFlags, SIZE_T uBytes) {
  if (uFlags != LMEM_FIXED) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return nullptr;
  }
  void* block = std::malloc(uBytes != 0 ? uBytes : 1);  // a zero-byte block is still a distinct block
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
