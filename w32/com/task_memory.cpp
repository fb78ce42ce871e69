#include <objbase.h>

#include <cstdlib>

// CoTaskMemAlloc: the C heap; a zero size still gives a distinct block.
LPVOID WINAPI CoTaskMemAlloc(SIZE_T size) { return std::malloc(size == 0 ? 1 : size); }

// CoTaskMemFree: frees a block of CoTaskMemAlloc; null does nothing.
void WINAPI CoTaskMemFree(LPVOID block) { std::free(block); }
