// The input is a sparse disc: records of a little-endian 32-bit sector number
// and up to 2048 bytes of that sector; sectors no record gives read as zeros,
// up to a disc of 1 GiB. So the descriptors at sectors 16 and 256 are within
// a small input's reach.
#include <cstdint>
#include <cstring>
#include <map>
#include <vector>

#include "disc_layout.h"
#include "disc_reader.h"

namespace {

constexpr uint64_t kSector = 2048;
constexpr uint64_t kDiscSize = uint64_t{1} << 30;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::map<uint64_t, std::vector<uint8_t>> sectors;
  while (size >= 4) {
    const uint64_t number = (data[0] | data[1] << 8 | data[2] << 16 | static_cast<uint64_t>(data[3]) << 24) %
                            (kDiscSize / kSector);
    const size_t length = size - 4 < kSector ? size - 4 : kSector;
    std::vector<uint8_t>& sector = sectors[number];
    sector.assign(data + 4, data + 4 + length);
    sector.resize(kSector);
    data += 4 + length;
    size -= 4 + length;
  }
  const auto read = [&](uint64_t offset, size_t count, uint8_t* out) {
    if (offset > kDiscSize || count > kDiscSize - offset) return false;
    for (size_t done = 0; done < count;) {
      const uint64_t at = offset + done;
      const size_t within = static_cast<size_t>(at % kSector);
      const size_t part = std::min<size_t>(count - done, kSector - within);
      const auto found = sectors.find(at / kSector);
      if (found == sectors.end()) {
        std::memset(out + done, 0, part);
      } else {
        std::memcpy(out + done, found->second.data() + within, part);
      }
      done += part;
    }
    return true;
  };
  if (auto tree = detector_component::OpenDiscTree(read)) detector_component::DataDiscKind(*tree);
  return 0;
}
