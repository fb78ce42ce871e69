#include "disc_layout.h"

#include <linux/cdrom.h>
#include <strings.h>

#include <optional>

namespace detector_component {
namespace {

// The entry named `name` in any case; null when none.
const DiscTree::Entry* Find(const std::vector<DiscTree::Entry>& entries, const char* name) {
  for (const DiscTree::Entry& entry : entries) {
    if (::strcasecmp(entry.name.c_str(), name) == 0) return &entry;
  }
  return nullptr;
}

// The first bytes of INFO.VCD / INFO.SVD: an 8-byte system id, a big-endian
// 16-bit version and a profile byte.
DiscKind VideoCdKind(const std::string& header) {
  if (header.size() < 11) return kData;
  const unsigned version = static_cast<unsigned char>(header[8]) << 8 | static_cast<unsigned char>(header[9]);
  const unsigned profile = static_cast<unsigned char>(header[10]);
  if (header.compare(0, 8, "SUPERVCD") == 0 || header.compare(0, 8, "HQ-VCD  ") == 0) return kSvcd;
  if (header.compare(0, 8, "VIDEO_CD") != 0) return kData;
  if (version == 2) return kVcd20;
  if (version == 1) return profile == 1 ? kVcd11 : kVcd10;
  return kData;
}

// The kind by the file INFO in a folder of the root, when both are there.
std::optional<DiscKind> VideoCdIn(DiscTree& tree, const std::vector<DiscTree::Entry>& root, const char* folder,
                                  const char* info) {
  const DiscTree::Entry* found = Find(root, folder);
  if (found == nullptr || !found->folder) return std::nullopt;
  const std::vector<DiscTree::Entry> entries = tree.List(*found);
  const DiscTree::Entry* file = Find(entries, info);
  if (file == nullptr || file->folder) return std::nullopt;
  return VideoCdKind(tree.Head(*file, 11));
}

}  // namespace

DiscKind DataDiscKind(DiscTree& tree) {
  const std::vector<DiscTree::Entry> root = tree.Root();
  const auto folder = [&](const char* name) {
    const DiscTree::Entry* found = Find(root, name);
    return found != nullptr && found->folder ? found : nullptr;
  };
  if (folder("DVD_RTAV") != nullptr) return kDvdVr;
  const DiscTree::Entry* audio = folder("AUDIO_TS");
  if (audio != nullptr && Find(tree.List(*audio), "AUDIO_TS.IFO") != nullptr) return kDvdAudio;
  if (folder("VIDEO_TS") != nullptr) return kDvdVideo;
  if (const std::optional<DiscKind> svcd = VideoCdIn(tree, root, "SVCD", "INFO.SVD")) return *svcd;
  if (const std::optional<DiscKind> vcd = VideoCdIn(tree, root, "VCD", "INFO.VCD")) return *vcd;
  return kData;
}

DWORD DiscKindOf(int drive_status, int disc_status, DiscTree* tree) {
  if (drive_status == CDS_NO_DISC || drive_status == CDS_TRAY_OPEN) return kEmpty;
  if (drive_status != CDS_DISC_OK) return 0;
  switch (disc_status) {
    case CDS_AUDIO:
    case CDS_MIXED:  // an enhanced audio CD
      return kAudioCd;
    case CDS_DATA_1:
    case CDS_DATA_2:
    case CDS_XA_2_1:
    case CDS_XA_2_2:
      return tree == nullptr ? kData : DataDiscKind(*tree);
    case CDS_NO_INFO:  // no table of contents: a blank disc, unless it holds a file system
      return tree == nullptr ? kEmpty : DataDiscKind(*tree);
    default:
      return 0;
  }
}

}  // namespace detector_component
