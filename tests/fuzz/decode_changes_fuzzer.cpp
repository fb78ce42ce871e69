// The first byte splits the rest into two batches decoded one after the other,
// so rename halves also carry from one batch to the next. Each batch lies in a
// heap block of exactly its size: a read past it is caught.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "monitor/change_notice.h"
#include "monitor/decode_changes.h"

namespace {

void DecodeBatch(const uint8_t* data, size_t size, device::RenameHalves& halves) {
  std::unique_ptr<BYTE[]> batch(new BYTE[size]);
  if (size != 0) std::memcpy(batch.get(), data, size);
  device::DecodeChanges(batch.get(), size, halves,
                        [](const WCHAR* kind, const std::u16string&, const std::u16string& second) {
                          // Only a rename carries a second name, and never an empty one.
                          if ((kind == device::kNoticeRename) == second.empty()) std::abort();
                        });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t split = data[0] * (size - 1) / 255;
  device::RenameHalves halves;
  DecodeBatch(data + 1, split, halves);
  DecodeBatch(data + 1 + split, size - 1 - split, halves);
  return 0;
}
