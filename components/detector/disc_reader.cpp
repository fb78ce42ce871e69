#include "disc_reader.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace detector_component {
namespace {

constexpr uint64_t kSector = 2048;
constexpr uint64_t kLargestFolder = 1 << 20;  // no root folder of a disc is larger
constexpr size_t kMostEntries = 4096;

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t Le32(const uint8_t* p) { return Le16(p) | static_cast<uint32_t>(Le16(p + 2)) << 16; }
uint64_t Le64(const uint8_t* p) { return Le32(p) | static_cast<uint64_t>(Le32(p + 4)) << 32; }

std::vector<uint8_t> Read(const ReadDisc& read, uint64_t offset, uint64_t size) {
  std::vector<uint8_t> bytes(size);
  if (size > 0 && !read(offset, size, bytes.data())) bytes.clear();
  return bytes;
}

// ISO 9660: the primary volume descriptor's root directory record.
class IsoTree : public DiscTree {
 public:
  explicit IsoTree(ReadDisc read) : read_(std::move(read)) {}

  bool Open() {
    for (uint64_t sector = 16; sector < 16 + 32; ++sector) {
      const std::vector<uint8_t> descriptor = Read(read_, sector * kSector, kSector);
      if (descriptor.empty() || std::memcmp(descriptor.data() + 1, "CD001", 5) != 0) return false;
      if (descriptor[0] == 255) return false;  // the set's terminator: no primary descriptor
      if (descriptor[0] != 1) continue;
      block_ = Le16(descriptor.data() + 128);
      if (block_ < 512 || block_ > kSector || (block_ & (block_ - 1)) != 0) return false;
      root_ = Record(descriptor.data() + 156);
      return root_.folder;
    }
    return false;
  }

  std::vector<Entry> Root() override { return List(root_); }

  std::vector<Entry> List(const Entry& folder) override {
    std::vector<Entry> entries;
    const std::vector<uint8_t> bytes = Read(read_, folder.where * block_, std::min(folder.size, kLargestFolder));
    size_t at = 0;
    while (at < bytes.size() && entries.size() < kMostEntries) {
      const uint8_t length = bytes[at];
      if (length == 0) {  // records do not cross a block: the rest of this one is empty
        at = (at / block_ + 1) * block_;
        continue;
      }
      if (length < 34 || at + length > bytes.size() || 33u + bytes[at + 32] > length) break;
      const uint8_t name_length = bytes[at + 32];
      const char* name = reinterpret_cast<const char*>(bytes.data() + at + 33);
      if (!(name_length == 1 && (name[0] == 0 || name[0] == 1))) {  // not "." or ".."
        Entry entry = Record(bytes.data() + at);
        entry.name.assign(name, name_length);
        entry.name = entry.name.substr(0, entry.name.find(';'));
        if (!entry.name.empty() && entry.name.back() == '.') entry.name.pop_back();
        entries.push_back(std::move(entry));
      }
      at += length;
    }
    return entries;
  }

  std::string Head(const Entry& file, size_t bytes) override {
    const std::vector<uint8_t> head = Read(read_, file.where * block_, std::min<uint64_t>(file.size, bytes));
    return std::string(head.begin(), head.end());
  }

 private:
  static Entry Record(const uint8_t* record) {
    Entry entry;
    entry.where = Le32(record + 2);
    entry.size = Le32(record + 10);
    entry.folder = (record[25] & 0x02) != 0;
    return entry;
  }

  ReadDisc read_;
  uint64_t block_ = kSector;
  Entry root_;
};

// UDF (ECMA-167): the anchor, the volume descriptors' partition and logical
// volume, its file set and the root folder's file entry. Physical partitions
// only, as DVDs have them.
class UdfTree : public DiscTree {
 public:
  explicit UdfTree(ReadDisc read) : read_(std::move(read)) {}

  bool Open() {
    const std::vector<uint8_t> anchor = Read(read_, 256 * kSector, kSector);
    if (anchor.empty() || Tag(anchor) != 2) return false;
    const uint64_t sequence = Le32(anchor.data() + 20);
    const uint64_t sectors = std::min<uint64_t>(Le32(anchor.data() + 16) / kSector, 64);
    uint32_t file_set = 0;
    bool have_partition = false, have_volume = false;
    for (uint64_t i = 0; i < sectors; ++i) {
      const std::vector<uint8_t> descriptor = Read(read_, (sequence + i) * kSector, kSector);
      if (descriptor.empty()) return false;
      const uint16_t tag = Tag(descriptor);
      if (tag == 5 && !have_partition) {  // partition descriptor
        partition_ = Le32(descriptor.data() + 188);
        have_partition = true;
      } else if (tag == 6 && !have_volume) {  // logical volume descriptor
        if (Le32(descriptor.data() + 212) != kSector) return false;
        file_set = Le32(descriptor.data() + 252);
        have_volume = true;
      } else if (tag == 8) {  // terminator
        break;
      }
    }
    if (!have_partition || !have_volume) return false;
    const std::vector<uint8_t> set = Read(read_, (partition_ + file_set) * kSector, kSector);
    if (set.empty() || Tag(set) != 256) return false;
    root_.where = partition_ + Le32(set.data() + 404);
    root_.folder = true;
    return true;
  }

  std::vector<Entry> Root() override { return List(root_); }

  std::vector<Entry> List(const Entry& folder) override {
    std::vector<Entry> entries;
    const std::vector<uint8_t> bytes = Contents(folder, kLargestFolder);
    size_t at = 0;
    while (at + 38 <= bytes.size() && entries.size() < kMostEntries) {
      const uint8_t* fid = bytes.data() + at;
      if (Le16(fid) != 257) break;  // file identifier descriptor
      const uint8_t characteristics = fid[18];
      const size_t name_length = fid[19];
      const size_t name_at = 38 + Le16(fid + 36);
      const size_t length = (name_at + name_length + 3) & ~size_t{3};
      if (at + length > bytes.size()) break;
      if ((characteristics & 0x08) == 0 && name_length > 0) {  // not the parent
        Entry entry;
        entry.name = Name(fid + name_at, name_length);
        entry.folder = (characteristics & 0x02) != 0;
        entry.where = partition_ + Le32(fid + 24);
        entries.push_back(std::move(entry));
      }
      at += length;
    }
    return entries;
  }

  std::string Head(const Entry& file, size_t bytes) override {
    const std::vector<uint8_t> head = Contents(file, bytes);
    return std::string(head.begin(), head.end());
  }

 private:
  static uint16_t Tag(const std::vector<uint8_t>& descriptor) { return Le16(descriptor.data()); }

  // A d-string: compression 8 (a byte a character) or 16 (big-endian pairs).
  static std::string Name(const uint8_t* id, size_t length) {
    std::string name;
    const size_t step = id[0] == 16 ? 2 : 1;
    for (size_t i = 1; i + step <= length; i += step) {
      const unsigned c = step == 2 ? (id[i] << 8 | id[i + 1]) : id[i];
      name += c < 0x80 ? static_cast<char>(c) : '?';
    }
    return name;
  }

  // Up to `limit` bytes of what the entry's file entry (or extended file
  // entry) holds: embedded, or in extents of short or long allocation descriptors.
  std::vector<uint8_t> Contents(const Entry& entry, uint64_t limit) {
    const std::vector<uint8_t> icb = Read(read_, entry.where * kSector, kSector);
    if (icb.empty()) return {};
    const uint16_t tag = Tag(icb);
    if (tag != 261 && tag != 266) return {};
    const size_t ea_at = tag == 261 ? 168 : 208;
    const uint64_t ea = Le32(icb.data() + ea_at);
    const uint64_t ad_length = Le32(icb.data() + ea_at + 4);
    const uint64_t ad_at = ea_at + 8 + ea;
    if (ad_at > kSector || ad_length > kSector - ad_at) return {};
    const uint64_t wanted = std::min(Le64(icb.data() + 56), limit);
    const uint8_t* ads = icb.data() + ad_at;
    const unsigned kind = Le16(icb.data() + 34) & 7;
    if (kind == 3) return std::vector<uint8_t>(ads, ads + std::min(ad_length, wanted));  // embedded
    if (kind != 0 && kind != 1) return {};
    const size_t step = kind == 0 ? 8 : 16;
    std::vector<uint8_t> out;
    for (size_t at = 0; at + step <= ad_length && out.size() < wanted; at += step) {
      const uint32_t extent = Le32(ads + at) & 0x3FFFFFFF;
      if (extent == 0 || (Le32(ads + at) >> 30) != 0) break;  // the end, or an extent not recorded
      const std::vector<uint8_t> part =
          Read(read_, (partition_ + Le32(ads + at + 4)) * kSector, std::min<uint64_t>(extent, wanted - out.size()));
      if (part.empty()) return {};
      out.insert(out.end(), part.begin(), part.end());
    }
    return out;
  }

  ReadDisc read_;
  uint64_t partition_ = 0;
  Entry root_;
};

// A mounted disc: entries are paths by index.
class MountedTree : public DiscTree {
 public:
  explicit MountedTree(const std::string& root) { root_ = Add(root, true); }

  std::vector<Entry> Root() override { return List(root_); }

  std::vector<Entry> List(const Entry& folder) override {
    std::vector<Entry> entries;
    const std::string path = paths_[folder.where];
    DIR* dir = ::opendir(path.c_str());
    if (dir == nullptr) return entries;
    while (const dirent* found = ::readdir(dir)) {
      if (found->d_name[0] == '.' || entries.size() >= kMostEntries) continue;
      struct stat status {};
      const std::string child = path + "/" + found->d_name;
      if (::stat(child.c_str(), &status) != 0) continue;
      Entry entry = Add(child, S_ISDIR(status.st_mode));
      entry.name = found->d_name;
      entry.size = static_cast<uint64_t>(status.st_size);
      entries.push_back(std::move(entry));
    }
    ::closedir(dir);
    return entries;
  }

  std::string Head(const Entry& file, size_t bytes) override {
    std::string head(bytes, '\0');
    const int fd = ::open(paths_[file.where].c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return {};
    const ssize_t n = ::read(fd, head.data(), bytes);
    ::close(fd);
    head.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return head;
  }

 private:
  Entry Add(const std::string& path, bool folder) {
    paths_.push_back(path);
    Entry entry;
    entry.where = paths_.size() - 1;
    entry.folder = folder;
    return entry;
  }

  std::vector<std::string> paths_;
  Entry root_;
};

}  // namespace

std::unique_ptr<DiscTree> OpenDiscTree(ReadDisc read) {
  auto udf = std::make_unique<UdfTree>(read);
  if (udf->Open()) return udf;
  auto iso = std::make_unique<IsoTree>(std::move(read));
  if (iso->Open()) return iso;
  return nullptr;
}

std::unique_ptr<DiscTree> OpenMountedTree(const std::string& root) { return std::make_unique<MountedTree>(root); }

}  // namespace detector_component
