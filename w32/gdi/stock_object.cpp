#include <windows.h>

// GetStockObject: nothing is drawn here, so a stock object is a distinct
// token per index, never null for the indices the platform defines.
HGDIOBJ WINAPI GetStockObject(int index) {
  static char tokens[DC_PEN + 1];
  constexpr int kUnused = 9;  // between NULL_PEN and OEM_FIXED_FONT
  if (index < WHITE_BRUSH || index > DC_PEN || index == kUnused) return nullptr;
  return &tokens[index];
}
