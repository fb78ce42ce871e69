#pragma once
// The Shell Link (.lnk) binary file format: the header, the link target ID
// list, the link info with the local base path, the string data and the
// environment-variable block. Plain bytes in and out; no file system here.
#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace w32 {

struct ShellLinkData {
  // The target in drive form ("C:\dir\name"), as the link info and the ID
  // list carry it; empty when the link names no local target.
  std::u16string location;
  // The target as given, holding an environment variable (the
  // environment-variable block); empty when the target holds none.
  std::u16string raw_target;
  std::u16string description;
  // The target's volume (the link info's VolumeID): its drive type
  // (DRIVE_FIXED ...), serial number (0: unknown) and label.
  DWORD drive_type = DRIVE_FIXED;
  DWORD serial = 0;
  std::u16string label;
  // The target's facts when the link was saved.
  DWORD attributes = 0;
  FILETIME creation{};
  FILETIME access{};
  FILETIME write{};
  DWORD size = 0;
};

// The whole file, unicode strings, ready to be written.
std::vector<uint8_t> WriteShellLink(const ShellLinkData& link);

// Null for bytes that are not a shell link or end inside one of its parts.
std::optional<ShellLinkData> ReadShellLink(const uint8_t* bytes, size_t size);

}  // namespace w32
