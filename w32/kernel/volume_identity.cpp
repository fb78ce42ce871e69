#include "kernel/volume_identity.h"

#include <blkid/blkid.h>
#include <dirent.h>
#include <limits.h>
#include <stdlib.h>

#include "support/delay_load.h"
#include "support/sysroot.h"

namespace w32 {
namespace {

#define BLKID_FUNCTIONS(F)                                                                              \
  F(blkid_new_probe_from_filename) F(blkid_probe_enable_superblocks) F(blkid_probe_set_superblocks_flags) \
  F(blkid_do_safeprobe) F(blkid_probe_lookup_value) F(blkid_free_probe)
W32_DELAY_LOADED_API(BlkidApi, BindBlkid, BLKID_FUNCTIONS)
DelayLoaded<BlkidApi> libblkid("libblkid.so.1", BindBlkid);

bool Probe(const std::string& path, VolumeIdentity* identity) {
  const BlkidApi* api = libblkid.Get();
  if (api == nullptr) return false;
  blkid_probe probe = api->blkid_new_probe_from_filename(path.c_str());
  if (probe == nullptr) return false;
  api->blkid_probe_enable_superblocks(probe, 1);
  api->blkid_probe_set_superblocks_flags(probe, BLKID_SUBLKS_UUID | BLKID_SUBLKS_LABEL);
  const bool found = api->blkid_do_safeprobe(probe) == 0;
  if (found) {
    const char* value = nullptr;
    if (api->blkid_probe_lookup_value(probe, "UUID", &value, nullptr) == 0 && value != nullptr) identity->uuid = value;
    if (api->blkid_probe_lookup_value(probe, "LABEL", &value, nullptr) == 0 && value != nullptr) identity->label = value;
  }
  api->blkid_free_probe(probe);
  return found;
}

// udev writes characters outside [0-9A-Za-z#+-.:=@_] of a link's name as \xNN.
std::string DecodeUdevName(const std::string& name) {
  std::string out;
  for (size_t i = 0; i < name.size(); ++i) {
    if (name[i] == '\\' && i + 3 < name.size() && name[i + 1] == 'x') {
      out += static_cast<char>(std::strtol(name.substr(i + 2, 2).c_str(), nullptr, 16));
      i += 3;
    } else {
      out += name[i];
    }
  }
  return out;
}

// The name of the link in `folder` that leads to the device; empty when none.
std::string LinkTo(const std::string& folder, const std::string& device) {
  DIR* dir = ::opendir(SysPath(folder).c_str());
  if (dir == nullptr) return {};
  std::string found;
  char resolved[PATH_MAX];
  while (const dirent* entry = ::readdir(dir)) {
    if (entry->d_name[0] == '.') continue;
    if (::realpath(SysPath(folder + "/" + entry->d_name).c_str(), resolved) == nullptr) continue;
    const std::string target = resolved;
    if (target.size() > device.size() && target.compare(target.size() - device.size(), device.size(), device) == 0 &&
        target[target.size() - device.size() - 1] == '/') {
      found = DecodeUdevName(entry->d_name);
      break;
    }
  }
  ::closedir(dir);
  return found;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

VolumeIdentity ReadVolumeIdentity(const std::string& device) {
  VolumeIdentity identity;
  if (device.empty() || device.find('/') != std::string::npos) return identity;
  if (Probe(SysPath("/dev/" + device), &identity)) return identity;
  identity.uuid = LinkTo("/dev/disk/by-uuid", device);
  identity.label = LinkTo("/dev/disk/by-label", device);
  return identity;
}

DWORD VolumeSerial(std::string_view uuid) {
  DWORD serial = 0;
  int digits = 0;
  for (size_t i = uuid.size(); i-- > 0 && digits < 8;) {
    const int digit = HexDigit(uuid[i]);
    if (digit < 0) continue;
    serial |= static_cast<DWORD>(digit) << (4 * digits++);
  }
  return serial;
}

}  // namespace w32
