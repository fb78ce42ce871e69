#include "disc_layout.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/cdrom.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

namespace detector_component {
namespace {

// The entry of `folder` named `name` in any case; empty when none.
std::string Find(const std::string& folder, const char* name) {
  if (folder.empty()) return {};
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return {};
  std::string found;
  while (const dirent* entry = ::readdir(dir)) {
    if (::strcasecmp(entry->d_name, name) == 0) {
      found = folder + "/" + entry->d_name;
      break;
    }
  }
  ::closedir(dir);
  return found;
}

bool IsFolder(const std::string& path) {
  struct stat info {};
  return !path.empty() && ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// The first bytes of INFO.VCD / INFO.SVD: an 8-byte system id, a big-endian
// 16-bit version and a profile byte.
DiscKind VideoCdKind(const std::string& info) {
  unsigned char header[11] = {};
  const int fd = info.empty() ? -1 : ::open(info.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return kData;
  const ssize_t n = ::read(fd, header, sizeof header);
  ::close(fd);
  if (n != static_cast<ssize_t>(sizeof header)) return kData;
  const unsigned version = header[8] << 8 | header[9];
  const unsigned profile = header[10];
  if (std::memcmp(header, "SUPERVCD", 8) == 0 || std::memcmp(header, "HQ-VCD  ", 8) == 0) return kSvcd;
  if (std::memcmp(header, "VIDEO_CD", 8) != 0) return kData;
  if (version == 2) return kVcd20;
  if (version == 1) return profile == 1 ? kVcd11 : kVcd10;
  return kData;
}

}  // namespace

DiscKind DataDiscKind(const std::string& root) {
  if (IsFolder(Find(root, "DVD_RTAV"))) return kDvdVr;
  const std::string audio = Find(root, "AUDIO_TS");
  if (IsFolder(audio) && !Find(audio, "AUDIO_TS.IFO").empty()) return kDvdAudio;
  if (IsFolder(Find(root, "VIDEO_TS"))) return kDvdVideo;
  if (const std::string svcd = Find(Find(root, "SVCD"), "INFO.SVD"); !svcd.empty()) return VideoCdKind(svcd);
  if (const std::string vcd = Find(Find(root, "VCD"), "INFO.VCD"); !vcd.empty()) return VideoCdKind(vcd);
  return kData;
}

DWORD DiscKindOf(int drive_status, int disc_status, const std::string& root) {
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
      return root.empty() ? kData : DataDiscKind(root);
    case CDS_NO_INFO:  // no table of contents: a blank disc, unless something mounts it
      return root.empty() ? kEmpty : DataDiscKind(root);
    default:
      return 0;
  }
}

}  // namespace detector_component
