// The Shell Link format both ways. One file past 400 lines: the writer and
// the reader share the layout's constants and offsets, and apart they would
// each restate them.
#include "shell/shell_link_format.h"

#include <algorithm>
#include <cstring>
#include <ctime>

namespace w32 {
namespace {

constexpr uint32_t kHeaderSize = 0x4C;
constexpr uint8_t kLinkClsid[16] = {0x01, 0x14, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                    0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
// CLSID_MyComputer, the root of a path's item list.
constexpr uint8_t kMyComputerClsid[16] = {0xE0, 0x4F, 0xD0, 0x20, 0xEA, 0x3A, 0x69, 0x10,
                                          0xA2, 0xD8, 0x08, 0x00, 0x2B, 0x30, 0x30, 0x9D};

enum LinkFlags : uint32_t {
  kHasLinkTargetIdList = 0x1,
  kHasLinkInfo = 0x2,
  kHasName = 0x4,
  kHasRelativePath = 0x8,
  kHasWorkingDir = 0x10,
  kHasArguments = 0x20,
  kHasIconLocation = 0x40,
  kIsUnicode = 0x80,
  kHasExpString = 0x200,
};

constexpr uint32_t kVolumeIdAndLocalBasePath = 0x1;
constexpr uint32_t kCommonNetworkRelativeLinkAndPathSuffix = 0x2;
constexpr uint32_t kLinkInfoHeaderWithUnicode = 0x24;
constexpr uint32_t kVolumeLabelOffset = 0x10;
constexpr uint32_t kVolumeLabelIsUnicode = 0x14;
constexpr uint32_t kEnvironmentBlockSize = 0x314;
constexpr uint32_t kEnvironmentSignature = 0xA0000001;
constexpr size_t kEnvironmentChars = 260;
constexpr uint32_t kFileEntryExtensionSignature = 0xBEEF0004;
constexpr uint8_t kRootItem = 0x1F;
constexpr uint8_t kDriveItem = 0x2F;
constexpr uint8_t kFolderItem = 0x31;
constexpr uint8_t kFileItem = 0x32;

// Text outside ASCII has no fixed ANSI form here: it is written as '?', and
// ANSI text is read as Latin-1.
std::string Ansi(std::u16string_view text) {
  std::string out;
  for (char16_t c : text) out += c < 0x80 ? static_cast<char>(c) : '?';
  return out;
}

class ByteWriter {
 public:
  void U8(uint8_t value) { bytes_.push_back(value); }
  void U16(uint16_t value) {
    U8(static_cast<uint8_t>(value));
    U8(static_cast<uint8_t>(value >> 8));
  }
  void U32(uint32_t value) {
    U16(static_cast<uint16_t>(value));
    U16(static_cast<uint16_t>(value >> 16));
  }
  void Bytes(const uint8_t* data, size_t size) { bytes_.insert(bytes_.end(), data, data + size); }
  void Zeros(size_t count) { bytes_.insert(bytes_.end(), count, 0); }
  void AnsiZ(std::u16string_view text) {
    const std::string ansi = Ansi(text);
    Bytes(reinterpret_cast<const uint8_t*>(ansi.data()), ansi.size());
    U8(0);
  }
  void Wide(std::u16string_view text) {
    for (char16_t c : text) U16(c);
  }
  void WideZ(std::u16string_view text) {
    Wide(text);
    U16(0);
  }
  size_t size() const { return bytes_.size(); }
  void Patch16(size_t at, uint16_t value) {
    bytes_[at] = static_cast<uint8_t>(value);
    bytes_[at + 1] = static_cast<uint8_t>(value >> 8);
  }
  void Patch32(size_t at, uint32_t value) {
    Patch16(at, static_cast<uint16_t>(value));
    Patch16(at + 2, static_cast<uint16_t>(value >> 16));
  }
  std::vector<uint8_t> Take() { return std::move(bytes_); }

 private:
  std::vector<uint8_t> bytes_;
};

// A drive-form path: its root ("C:\") and its names.
struct DrivePath {
  std::u16string root;
  std::vector<std::u16string> names;
};

std::optional<DrivePath> SplitDrivePath(std::u16string_view path) {
  if (path.size() < 3 || path[1] != u':' || path[2] != u'\\') return std::nullopt;
  const char16_t letter = path[0];
  if (!((letter >= u'A' && letter <= u'Z') || (letter >= u'a' && letter <= u'z'))) return std::nullopt;
  DrivePath split{std::u16string(path.substr(0, 3)), {}};
  size_t start = 3;
  while (start <= path.size()) {
    size_t end = path.find(u'\\', start);
    if (end == std::u16string_view::npos) end = path.size();
    if (end > start) split.names.emplace_back(path.substr(start, end - start));
    start = end + 1;
  }
  return split;
}

// A FAT date and time (UTC), as the file entry items carry them; zero before 1980.
uint32_t FatDateTime(const FILETIME& time) {
  const uint64_t ticks = (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
  constexpr uint64_t kEpochDifference = 11644473600ULL;
  if (ticks / 10000000ULL < kEpochDifference) return 0;
  const time_t seconds = static_cast<time_t>(ticks / 10000000ULL - kEpochDifference);
  struct tm parts;
  if (gmtime_r(&seconds, &parts) == nullptr || parts.tm_year < 80 || parts.tm_year > 207) return 0;
  const uint32_t date = ((parts.tm_year - 80) << 9) | ((parts.tm_mon + 1) << 5) | parts.tm_mday;
  const uint32_t clock = (parts.tm_hour << 11) | (parts.tm_min << 5) | (parts.tm_sec / 2);
  return date | (clock << 16);
}

bool IsShortNameChar(char16_t c) {
  if (c >= 0x80 || c <= 0x20) return false;
  return std::u16string_view(u"\"*+,/:;<=>?[\\]|.").find(c) == std::u16string_view::npos;
}

// The 8.3 name of an item: the name itself when it is one, else an alias of
// the platform's shape (six characters, "~1", three of the extension).
std::u16string ShortName(std::u16string_view name) {
  const size_t dot = name.rfind(u'.');
  std::u16string_view base = dot == std::u16string_view::npos || dot == 0 ? name : name.substr(0, dot);
  std::u16string_view extension =
      dot == std::u16string_view::npos || dot == 0 ? std::u16string_view() : name.substr(dot + 1);
  auto all_short = [](std::u16string_view text) {
    for (char16_t c : text) {
      if (!IsShortNameChar(c)) return false;
    }
    return true;
  };
  if (!base.empty() && base.size() <= 8 && extension.size() <= 3 && all_short(base) && all_short(extension)) {
    return std::u16string(name);
  }
  auto alias_part = [](std::u16string_view text, size_t limit) {
    std::u16string out;
    for (char16_t c : text) {
      if (out.size() == limit) break;
      if (c == u' ' || c == u'.') continue;
      const char16_t upper = c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 0x20) : c;
      out += IsShortNameChar(upper) ? upper : u'_';
    }
    return out;
  };
  std::u16string alias = alias_part(base, 6) + u"~1";
  const std::u16string alias_extension = alias_part(extension, 3);
  if (!alias_extension.empty()) alias += u"." + alias_extension;
  return alias;
}

void WriteFileEntry(ByteWriter& out, std::u16string_view name, bool folder, const ShellLinkData& link, bool last) {
  const size_t start = out.size();
  out.U16(0);  // size, patched below
  out.U8(folder ? kFolderItem : kFileItem);
  out.U8(0);
  out.U32(last && !folder ? link.size : 0);
  out.U32(last ? FatDateTime(link.write) : 0);
  out.U16(static_cast<uint16_t>(last ? link.attributes : FILE_ATTRIBUTE_DIRECTORY));
  out.AnsiZ(ShortName(name));
  if ((out.size() - start) % 2 != 0) out.U8(0);
  // The extension block (version 7) with the long name.
  const size_t block = out.size();
  out.U16(0);  // size, patched below
  out.U16(7);
  out.U32(kFileEntryExtensionSignature);
  out.U32(last ? FatDateTime(link.creation) : 0);
  out.U32(last ? FatDateTime(link.access) : 0);
  out.U16(0x26);  // offset of the long name in the block
  out.Zeros(2 + 6 + 2 + 8);  // reserved, file reference, reserved
  out.U16(0);  // no localised name
  out.WideZ(name);
  out.U16(static_cast<uint16_t>(block - start));
  out.Patch16(block, static_cast<uint16_t>(out.size() - block));
  out.Patch16(start, static_cast<uint16_t>(out.size() - start));
}

void WriteIdList(ByteWriter& out, const DrivePath& path, const ShellLinkData& link) {
  const size_t start = out.size();
  out.U16(0);  // IDListSize, patched below
  out.U16(0x14);
  out.U8(kRootItem);
  out.U8(0x50);  // the root's sort index
  out.Bytes(kMyComputerClsid, sizeof kMyComputerClsid);
  out.U16(0x19);
  out.U8(kDriveItem);
  const std::string root = Ansi(path.root);
  out.Bytes(reinterpret_cast<const uint8_t*>(root.data()), root.size());
  out.Zeros(22 - root.size());
  for (size_t i = 0; i < path.names.size(); ++i) {
    const bool last = i + 1 == path.names.size();
    WriteFileEntry(out, path.names[i], !last || (link.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0, link, last);
  }
  out.U16(0);  // TerminalID
  out.Patch16(start, static_cast<uint16_t>(out.size() - start - 2));
}

bool IsAscii(std::u16string_view text) {
  for (char16_t c : text) {
    if (c >= 0x80) return false;
  }
  return true;
}

// A label outside ASCII is written in the unicode form only.
void WriteVolumeId(ByteWriter& out, const ShellLinkData& link) {
  const size_t start = out.size();
  out.U32(0);  // VolumeIDSize, patched below
  out.U32(link.drive_type);
  out.U32(link.serial);
  if (IsAscii(link.label)) {
    out.U32(kVolumeLabelOffset);
    out.AnsiZ(link.label);
  } else {
    out.U32(kVolumeLabelIsUnicode);
    out.U32(kVolumeLabelIsUnicode);  // the label follows this field
    out.WideZ(link.label);
  }
  out.Patch32(start, static_cast<uint32_t>(out.size() - start));
}

void WriteLinkInfo(ByteWriter& out, const ShellLinkData& link) {
  const std::u16string_view location = link.location;
  const size_t start = out.size();
  out.U32(0);  // LinkInfoSize, patched below
  out.U32(kLinkInfoHeaderWithUnicode);
  out.U32(kVolumeIdAndLocalBasePath);
  const size_t offsets = out.size();
  out.Zeros(6 * 4);  // VolumeID, LocalBasePath, network link, suffix, both unicode offsets
  out.Patch32(offsets, static_cast<uint32_t>(out.size() - start));
  WriteVolumeId(out, link);
  out.Patch32(offsets + 4, static_cast<uint32_t>(out.size() - start));
  out.AnsiZ(location);
  out.Patch32(offsets + 12, static_cast<uint32_t>(out.size() - start));
  out.U8(0);  // empty common path suffix
  out.Patch32(offsets + 16, static_cast<uint32_t>(out.size() - start));
  out.WideZ(location);
  out.Patch32(offsets + 20, static_cast<uint32_t>(out.size() - start));
  out.U16(0);
  out.Patch32(start, static_cast<uint32_t>(out.size() - start));
}

void WriteEnvironmentBlock(ByteWriter& out, std::u16string_view target) {
  const std::u16string_view kept = target.substr(0, kEnvironmentChars - 1);
  out.U32(kEnvironmentBlockSize);
  out.U32(kEnvironmentSignature);
  const std::string ansi = Ansi(kept);
  out.Bytes(reinterpret_cast<const uint8_t*>(ansi.data()), ansi.size());
  out.Zeros(kEnvironmentChars - ansi.size());
  out.Wide(kept);
  out.Zeros((kEnvironmentChars - kept.size()) * 2);
}

// Bounded little-endian reads; a read past the end fails and stays failed.
class ByteReader {
 public:
  ByteReader(const uint8_t* bytes, size_t size) : bytes_(bytes), size_(size) {}
  bool U8(uint8_t& value) {
    if (!Has(1)) return false;
    value = bytes_[pos_++];
    return true;
  }
  bool U16(uint16_t& value) {
    if (!Has(2)) return false;
    value = static_cast<uint16_t>(bytes_[pos_] | (bytes_[pos_ + 1] << 8));
    pos_ += 2;
    return true;
  }
  bool U32(uint32_t& value) {
    uint16_t low = 0, high = 0;
    if (!Has(4)) return false;
    U16(low);
    U16(high);
    value = low | (static_cast<uint32_t>(high) << 16);
    return true;
  }
  bool Skip(size_t count) {
    if (!Has(count)) return false;
    pos_ += count;
    return true;
  }
  bool Has(size_t count) const { return count <= size_ - pos_; }
  size_t pos() const { return pos_; }
  const uint8_t* here() const { return bytes_ + pos_; }

 private:
  const uint8_t* bytes_;
  size_t size_;
  size_t pos_ = 0;
};

// Zero-terminated text at `offset` of a part of `size` bytes; null when the
// offset lies outside or no terminator comes before the part's end.
std::optional<std::u16string> AnsiAt(const uint8_t* part, size_t size, size_t offset) {
  if (offset >= size) return std::nullopt;
  std::u16string out;
  for (size_t i = offset; i < size; ++i) {
    if (part[i] == 0) return out;
    out += static_cast<char16_t>(part[i]);
  }
  return std::nullopt;
}

std::optional<std::u16string> WideAt(const uint8_t* part, size_t size, size_t offset) {
  if (offset >= size) return std::nullopt;
  std::u16string out;
  for (size_t i = offset; i + 1 < size; i += 2) {
    const char16_t c = static_cast<char16_t>(part[i] | (part[i + 1] << 8));
    if (c == 0) return out;
    out += c;
  }
  return std::nullopt;
}

uint32_t U32At(const uint8_t* part, size_t offset) {
  return part[offset] | (part[offset + 1] << 8) | (part[offset + 2] << 16) | (static_cast<uint32_t>(part[offset + 3]) << 24);
}

uint16_t U16At(const uint8_t* part, size_t offset) {
  return static_cast<uint16_t>(part[offset] | (part[offset + 1] << 8));
}

// The name a file entry item carries: the long name of its extension block
// when there is one, else its short name.
std::optional<std::u16string> FileEntryName(const uint8_t* item, size_t size) {
  if (size < 16) return std::nullopt;
  const uint16_t block = U16At(item, size - 2);
  if (block >= 14 && block + 8u <= size - 2 && U32At(item, block + 4) == kFileEntryExtensionSignature) {
    const uint16_t version = U16At(item, block + 2);
    const size_t name_at = version >= 9 ? 0x2E : version >= 8 ? 0x2A : version >= 7 ? 0x26 : 0;
    if (name_at != 0) {
      if (auto name = WideAt(item, size - 2, block + name_at)) return name;
    }
  }
  return (item[2] & 0x04) != 0 ? WideAt(item, size, 14) : AnsiAt(item, size, 14);
}

// The path of an item list of the computer's drives, or empty.
std::u16string PathFromIdList(const uint8_t* list, size_t size) {
  ByteReader reader(list, size);
  std::u16string path;
  uint16_t item_size = 0;
  while (reader.U16(item_size) && item_size >= 2) {
    const size_t body = item_size - 2u;
    if (!reader.Has(body)) return u"";
    const uint8_t* item = reader.here() - 2;
    const uint8_t type = body > 0 ? item[2] : 0;
    if ((type & 0x70) == 0x20 && path.empty()) {
      auto root = AnsiAt(item, item_size, 3);
      if (!root) return u"";
      path = *root;
    } else if ((type & 0x70) == 0x30 && !path.empty()) {
      auto name = FileEntryName(item, item_size);
      if (!name) return u"";
      if (path.back() != u'\\') path += u'\\';
      path += *name;
    }
    reader.Skip(body);
  }
  return path;
}

// The VolumeID at `offset` of the link info: drive type, serial and label.
// One that does not fit leaves the link's defaults.
void ReadVolumeId(const uint8_t* info, size_t size, uint32_t offset, ShellLinkData* link) {
  if (offset >= size || size - offset < 0x11) return;
  const uint8_t* volume = info + offset;
  const uint32_t volume_size = std::min<uint32_t>(U32At(volume, 0), static_cast<uint32_t>(size - offset));
  if (volume_size < 0x11) return;
  const uint32_t label_offset = U32At(volume, 12);
  std::optional<std::u16string> label;
  if (label_offset == kVolumeLabelIsUnicode) {
    if (volume_size >= 0x18) label = WideAt(volume, volume_size, U32At(volume, 16));
  } else {
    label = AnsiAt(volume, volume_size, label_offset);
  }
  link->drive_type = U32At(volume, 4);
  link->serial = U32At(volume, 8);
  link->label = label.value_or(u"");
}

std::optional<std::u16string> LocationFromLinkInfo(const uint8_t* info, size_t size, ShellLinkData* link) {
  if (size < 0x1C) return std::nullopt;
  const uint32_t header = U32At(info, 4);
  const uint32_t flags = U32At(info, 8);
  if ((flags & kVolumeIdAndLocalBasePath) != 0) ReadVolumeId(info, size, U32At(info, 0x0C), link);
  const bool unicode = header >= kLinkInfoHeaderWithUnicode && size >= kLinkInfoHeaderWithUnicode;
  std::optional<std::u16string> suffix =
      unicode ? WideAt(info, size, U32At(info, 0x20)) : AnsiAt(info, size, U32At(info, 0x18));
  if ((flags & kVolumeIdAndLocalBasePath) != 0) {
    auto base = unicode ? WideAt(info, size, U32At(info, 0x1C)) : AnsiAt(info, size, U32At(info, 0x10));
    if (!base || !suffix) return std::nullopt;
    return *base + *suffix;
  }
  if ((flags & kCommonNetworkRelativeLinkAndPathSuffix) != 0) {
    const uint32_t link = U32At(info, 0x14);
    if (link >= size || size - link < 0x14) return std::nullopt;
    const uint32_t name_offset = U32At(info, link + 8);
    std::optional<std::u16string> name = AnsiAt(info + link, size - link, name_offset);
    if (name_offset > 0x14 && size - link >= 0x1C) name = WideAt(info + link, size - link, U32At(info, link + 0x14));
    if (!name || !suffix) return std::nullopt;
    return suffix->empty() ? *name : *name + u"\\" + *suffix;
  }
  return u"";
}

}  // namespace

std::vector<uint8_t> WriteShellLink(const ShellLinkData& link) {
  const std::optional<DrivePath> path = SplitDrivePath(link.location);
  uint32_t flags = kIsUnicode;
  if (path) flags |= kHasLinkTargetIdList | kHasLinkInfo;
  if (!link.description.empty()) flags |= kHasName;
  if (!link.raw_target.empty()) flags |= kHasExpString;

  ByteWriter out;
  out.U32(kHeaderSize);
  out.Bytes(kLinkClsid, sizeof kLinkClsid);
  out.U32(flags);
  out.U32(link.attributes);
  for (const FILETIME& time : {link.creation, link.access, link.write}) {
    out.U32(time.dwLowDateTime);
    out.U32(time.dwHighDateTime);
  }
  out.U32(link.size);
  out.U32(0);  // IconIndex
  out.U32(1);  // ShowCommand: SW_SHOWNORMAL
  out.U16(0);  // HotKey
  out.Zeros(2 + 4 + 4);
  if (path) {
    WriteIdList(out, *path, link);
    WriteLinkInfo(out, link);
  }
  if (!link.description.empty()) {
    const std::u16string_view kept = std::u16string_view(link.description).substr(0, 0xFFFF);
    out.U16(static_cast<uint16_t>(kept.size()));
    out.Wide(kept);
  }
  if (!link.raw_target.empty()) WriteEnvironmentBlock(out, link.raw_target);
  out.U32(0);  // TerminalBlock
  return out.Take();
}

std::optional<ShellLinkData> ReadShellLink(const uint8_t* bytes, size_t size) {
  ByteReader reader(bytes, size);
  uint32_t header = 0, flags = 0;
  if (!reader.U32(header) || header != kHeaderSize || !reader.Has(16) ||
      std::memcmp(reader.here(), kLinkClsid, sizeof kLinkClsid) != 0) {
    return std::nullopt;
  }
  ShellLinkData link;
  reader.Skip(16);
  reader.U32(flags);
  reader.U32(link.attributes);
  for (FILETIME* time : {&link.creation, &link.access, &link.write}) {
    reader.U32(time->dwLowDateTime);
    reader.U32(time->dwHighDateTime);
  }
  reader.U32(link.size);
  if (!reader.Skip(4 + 4 + 2 + 2 + 4 + 4)) return std::nullopt;

  std::u16string from_id_list;
  if ((flags & kHasLinkTargetIdList) != 0) {
    uint16_t list_size = 0;
    if (!reader.U16(list_size) || !reader.Has(list_size)) return std::nullopt;
    from_id_list = PathFromIdList(reader.here(), list_size);
    reader.Skip(list_size);
  }
  if ((flags & kHasLinkInfo) != 0) {
    uint32_t info_size = 0;
    if (!reader.Has(4)) return std::nullopt;
    info_size = U32At(reader.here(), 0);
    if (info_size < 4 || !reader.Has(info_size)) return std::nullopt;
    std::optional<std::u16string> location = LocationFromLinkInfo(reader.here(), info_size, &link);
    if (!location) return std::nullopt;
    link.location = std::move(*location);
    reader.Skip(info_size);
  }
  if (link.location.empty()) link.location = std::move(from_id_list);

  const size_t char_size = (flags & kIsUnicode) != 0 ? 2 : 1;
  for (uint32_t string_flag : {kHasName, kHasRelativePath, kHasWorkingDir, kHasArguments, kHasIconLocation}) {
    if ((flags & string_flag) == 0) continue;
    uint16_t count = 0;
    if (!reader.U16(count) || !reader.Has(count * char_size)) return std::nullopt;
    if (string_flag == kHasName) {
      for (size_t i = 0; i < count; ++i) {
        link.description += char_size == 2 ? static_cast<char16_t>(U16At(reader.here(), i * 2))
                                           : static_cast<char16_t>(reader.here()[i]);
      }
    }
    reader.Skip(count * char_size);
  }

  uint32_t block_size = 0;
  while (reader.Has(4) && (block_size = U32At(reader.here(), 0)) >= 8 && reader.Has(block_size)) {
    const uint8_t* block = reader.here();
    if (U32At(block, 4) == kEnvironmentSignature && block_size >= kEnvironmentBlockSize &&
        (flags & kHasExpString) != 0) {
      auto wide = WideAt(block, kEnvironmentBlockSize, 8 + kEnvironmentChars);
      auto ansi = AnsiAt(block, 8 + kEnvironmentChars, 8);
      link.raw_target = wide && !wide->empty() ? *wide : ansi ? *ansi : u"";
    }
    reader.Skip(block_size);
  }
  return link;
}

}  // namespace w32
