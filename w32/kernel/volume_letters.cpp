#include "kernel/volume_letters.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "support/unique_fd.h"

namespace w32 {
namespace {

constexpr int kFirstLetter = 'D' - 'A';

// Keys are bytes (mount points may hold anything): a backslash and a line
// break are written escaped.
std::string Escape(std::string_view key) {
  std::string out;
  for (const char c : key) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '\n') {
      out += "\\n";
    } else {
      out += c;
    }
  }
  return out;
}

std::string Unescape(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size()) {
      out += text[++i] == 'n' ? '\n' : text[i];
    } else {
      out += text[i];
    }
  }
  return out;
}

// The user's own, and no one else may write to it.
bool Trusted(int fd, bool folder) {
  struct stat status {};
  return ::fstat(fd, &status) == 0 && status.st_uid == ::geteuid() && (status.st_mode & (S_IWGRP | S_IWOTH)) == 0 &&
         (folder ? S_ISDIR(status.st_mode) : S_ISREG(status.st_mode));
}

// Makes the folder and the missing folders above it (0700); the folder open.
UniqueFd OpenFolder(const std::string& folder) {
  if (folder.empty() || folder[0] != '/') return {};
  for (size_t slash = folder.find('/', 1); ; slash = folder.find('/', slash + 1)) {
    const std::string part = folder.substr(0, slash);
    if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return {};
    if (slash == std::string::npos) break;
  }
  UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!fd || !Trusted(fd.get(), true)) return {};
  return fd;
}

std::string ReadAll(int fd) {
  std::string text;
  char buffer[4096];
  ssize_t n;
  while ((n = ::read(fd, buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR)) {
    if (n > 0) text.append(buffer, static_cast<size_t>(n));
    if (text.size() > (1u << 20)) return {};  // no list of letters is that large
  }
  return n < 0 ? std::string() : text;
}

bool WriteAll(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = ::write(fd, text.data(), text.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    text.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

uint64_t NextSeen(const std::vector<RememberedVolume>& remembered) {
  uint64_t latest = 0;
  for (const RememberedVolume& volume : remembered) latest = std::max(latest, volume.seen);
  return latest + 1;
}

}  // namespace

std::vector<RememberedVolume> ParseRememberedVolumes(std::string_view text) {
  std::vector<RememberedVolume> volumes;
  while (!text.empty()) {
    const size_t end = std::min(text.find('\n'), text.size());
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(std::min(end + 1, text.size()));
    // LETTER \t SEEN \t KEY
    const size_t second = line.find('\t', 2);
    if (line.size() < 5 || line[0] < 'D' || line[0] > 'Z' || line[1] != '\t' || second == std::string_view::npos ||
        second == 2 || second + 1 == line.size()) {
      continue;
    }
    const std::string seen(line.substr(2, second - 2));
    if (seen.find_first_not_of("0123456789") != std::string::npos || seen.size() > 20) continue;
    volumes.push_back({static_cast<char16_t>(line[0]), std::strtoull(seen.c_str(), nullptr, 10),
                       Unescape(line.substr(second + 1))});
  }
  return volumes;
}

std::string FormatRememberedVolumes(const std::vector<RememberedVolume>& volumes) {
  std::string text;
  for (const RememberedVolume& volume : volumes) {
    text += static_cast<char>(volume.letter);
    text += '\t' + std::to_string(volume.seen) + '\t' + Escape(volume.key) + '\n';
  }
  return text;
}

char16_t ChooseLetter(const std::vector<RememberedVolume>& remembered, const std::string& key, const bool (&taken)[26]) {
  const auto free = [&](char16_t letter) { return letter >= u'D' && letter <= u'Z' && !taken[letter - u'A']; };
  for (const RememberedVolume& volume : remembered) {
    if (volume.key == key && free(volume.letter)) return volume.letter;
  }
  const RememberedVolume* oldest = nullptr;
  for (int index = kFirstLetter; index < 26; ++index) {
    if (taken[index]) continue;
    const char16_t letter = static_cast<char16_t>(u'A' + index);
    const auto holder = std::find_if(remembered.begin(), remembered.end(),
                                     [&](const RememberedVolume& volume) { return volume.letter == letter; });
    if (holder == remembered.end()) return letter;
    if (oldest == nullptr || holder->seen < oldest->seen) oldest = &*holder;
  }
  return oldest != nullptr ? oldest->letter : 0;
}

void RememberLetter(std::vector<RememberedVolume>* remembered, const std::string& key, char16_t letter) {
  const uint64_t seen = NextSeen(*remembered);
  remembered->erase(std::remove_if(remembered->begin(), remembered->end(),
                                   [&](const RememberedVolume& volume) {
                                     return volume.key == key || volume.letter == letter;
                                   }),
                    remembered->end());
  remembered->push_back({letter, seen, key});
}

void TouchVolume(std::vector<RememberedVolume>* remembered, const std::string& key) {
  const uint64_t seen = NextSeen(*remembered);
  for (RememberedVolume& volume : *remembered) {
    if (volume.key == key) volume.seen = seen;
  }
}

void UpdateRememberedVolumes(const std::string& folder,
                             const std::function<void(std::vector<RememberedVolume>*)>& change) {
  const UniqueFd dir = OpenFolder(folder);
  std::vector<RememberedVolume> remembered;
  if (!dir || ::flock(dir.get(), LOCK_EX) != 0) {
    change(&remembered);
    return;
  }
  const std::string name(kRememberedVolumesFile);
  const UniqueFd file(::openat(dir.get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (file && !Trusted(file.get(), false)) {
    change(&remembered);  // planted by someone else: neither believed nor replaced
    return;
  }
  const std::string before = file ? ReadAll(file.get()) : std::string();
  remembered = ParseRememberedVolumes(before);
  change(&remembered);
  const std::string after = FormatRememberedVolumes(remembered);
  if (after == before) return;
  std::string temporary = folder + "/" + name + ".XXXXXX";
  const UniqueFd out(::mkostemp(temporary.data(), O_CLOEXEC));
  if (!out) return;
  // A disk that is full keeps the old file whole.
  if (!WriteAll(out.get(), after) || ::fsync(out.get()) != 0 ||
      ::renameat(AT_FDCWD, temporary.c_str(), dir.get(), name.c_str()) != 0) {
    ::unlink(temporary.c_str());
  }
}

}  // namespace w32
