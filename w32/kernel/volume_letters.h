#pragma once
// The letters volumes had, remembered for the user across processes, so a
// stick is E: again tomorrow: a file in the drive table's folder with one
// line per volume (its letter, when it was last seen, its identity).
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace w32 {

struct RememberedVolume {
  char16_t letter = 0;  // 'D' ... 'Z'
  uint64_t seen = 0;    // larger: seen more recently
  std::string key;      // "uuid:...", "mount:SOURCE\tPOINT", "drive:sr0"
};

// The file's lines; a line that is not one is skipped.
std::vector<RememberedVolume> ParseRememberedVolumes(std::string_view text);
std::string FormatRememberedVolumes(const std::vector<RememberedVolume>& volumes);

// The letter a volume that has none gets, given which letters are taken now
// (by present volumes and the table's own links, index 0 = A:): its
// remembered letter when that is free; else the first free letter from D:
// that no remembered volume holds; else the free letter of the volume seen
// longest ago; 0 when every letter from D: is taken.
char16_t ChooseLetter(const std::vector<RememberedVolume>& remembered, const std::string& key,
                      const bool (&taken)[26]);

// Records that `key` holds `letter`, seen now: the letter's and the key's
// earlier entries go.
void RememberLetter(std::vector<RememberedVolume>* remembered, const std::string& key, char16_t letter);
// Marks the volume seen now.
void TouchVolume(std::vector<RememberedVolume>* remembered, const std::string& key);

// Reads the file in `folder`, lets `change` edit the list and writes it back
// whole (a new file renamed over the old one), all under an exclusive lock of
// the folder, so processes that update it at once lose nothing. The folder
// (made when missing) and the file must be the user's own and writable by no
// one else; otherwise `change` sees an empty list and nothing is written.
void UpdateRememberedVolumes(const std::string& folder,
                             const std::function<void(std::vector<RememberedVolume>*)>& change);

// The file's name in the folder.
inline constexpr std::string_view kRememberedVolumesFile = "volume-letters";

}  // namespace w32
