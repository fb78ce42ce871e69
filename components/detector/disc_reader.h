#pragma once
// The root folder of a disc's file system, read from the disc's first
// sectors without mounting it: UDF (as DVDs are mastered) and ISO 9660.
// Only what a disc's kind needs: names, folders, the first bytes of a file.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace detector_component {

// Fills `size` bytes from `offset` of the disc; false when they cannot be read.
using ReadDisc = std::function<bool(uint64_t offset, size_t size, uint8_t* out)>;

// A disc's tree, as far as its kind needs it.
class DiscTree {
 public:
  struct Entry {
    std::string name;  // as recorded (ISO 9660 without ";1" and a final dot)
    bool folder = false;
    uint64_t where = 0;  // the reader's own address of the entry
    uint64_t size = 0;
  };
  virtual ~DiscTree() = default;
  virtual std::vector<Entry> Root() = 0;
  virtual std::vector<Entry> List(const Entry& folder) = 0;
  // Up to `bytes` first bytes of a file.
  virtual std::string Head(const Entry& file, size_t bytes) = 0;
};

// The disc's UDF tree, else its ISO 9660 tree; null when it has neither.
std::unique_ptr<DiscTree> OpenDiscTree(ReadDisc read);

// A mounted disc's tree, through its mount point.
std::unique_ptr<DiscTree> OpenMountedTree(const std::string& root);

}  // namespace detector_component
