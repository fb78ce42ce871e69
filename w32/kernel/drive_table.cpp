#include "kernel/drive_table.h"

#include <windows.h>
#include <dirent.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <mutex>

#include "support/text.h"

namespace w32 {
namespace {

bool IsAsciiLetter(char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }

int LetterIndex(char16_t letter) { return AsciiLower(letter) - u'a'; }

// The folder of symbolic links named like "d:" that give further letters.
std::string DriveTableFolder() {
  if (const char* folder = std::getenv("W32_DRIVES"); folder != nullptr && *folder != 0) return folder;
  if (const char* config = std::getenv("XDG_CONFIG_HOME"); config != nullptr && *config == '/') {
    return std::string(config) + "/w32/drives";
  }
  if (const char* home = std::getenv("HOME"); home != nullptr && *home == '/') {
    return std::string(home) + "/.config/w32/drives";
  }
  return {};
}

std::string LinkTarget(const std::string& link) {
  std::string target(4096, '\0');
  const ssize_t n = ::readlink(link.c_str(), target.data(), target.size());
  if (n <= 0 || static_cast<size_t>(n) >= target.size()) return {};
  target.resize(n);
  if (target[0] == '/') return target;
  return link.substr(0, link.find_last_of('/') + 1) + target;
}

class DriveTable {
 public:
  DriveTable() {
    roots_[LetterIndex(u'c')] = "/";
    ReadTableFolder();
  }

  std::string Root(char16_t letter) {
    if (!IsAsciiLetter(letter)) return {};
    std::lock_guard<std::mutex> lock(mutex_);
    return roots_[LetterIndex(letter)];
  }

  std::array<std::string, 26> Roots() {
    std::lock_guard<std::mutex> lock(mutex_);
    return roots_;
  }

 private:
  void ReadTableFolder() {
    const std::string folder = DriveTableFolder();
    if (folder.empty()) return;
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return;
    while (const dirent* entry = ::readdir(dir)) {
      const std::string name = entry->d_name;
      if (name.size() != 2 || name[1] != ':' || !IsAsciiLetter(name[0])) continue;
      std::string& root = roots_[LetterIndex(name[0])];
      if (!root.empty()) continue;  // C: stays "/"
      root = LinkTarget(folder + "/" + name);
      while (root.size() > 1 && root.back() == '/') root.pop_back();
    }
    ::closedir(dir);
  }

  std::mutex mutex_;
  std::array<std::string, 26> roots_;
};

DriveTable& Table() {
  static DriveTable table;
  return table;
}

}  // namespace

std::string DriveRoot(char16_t letter) { return Table().Root(letter); }

bool ToNativePath(std::u16string_view path, std::string* native) {
  if (path.size() < 2 || path[1] != u':' || !IsAsciiLetter(path[0])) {
    *native = ToUtf8(path);
    return true;
  }
  std::string root = DriveRoot(path[0]);
  if (root.empty()) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return false;
  }
  std::string rest = ToUtf8(path.substr(2));
  for (char& c : rest) {
    if (c == '\\') c = '/';
  }
  const size_t start = rest.find_first_not_of('/');
  rest.erase(0, start == std::string::npos ? rest.size() : start);
  if (!rest.empty() && root.back() != '/') root += '/';
  *native = root + rest;
  return true;
}

std::u16string ToDrivePath(std::string_view native) {
  if (native.empty() || native[0] != '/') return ToUtf16(native);
  const std::array<std::string, 26> roots = Table().Roots();
  int best = -1;
  for (int i = 0; i < 26; ++i) {
    const std::string& root = roots[i];
    if (root.empty() || native.compare(0, root.size(), root) != 0) continue;
    const bool whole = native.size() == root.size() || root == "/" || native[root.size()] == '/';
    if (whole && (best < 0 || root.size() > roots[best].size())) best = i;
  }
  if (best < 0) return ToUtf16(native);
  std::string rest(native.substr(roots[best] == "/" ? 1 : roots[best].size()));
  if (!rest.empty() && rest[0] == '/') rest.erase(0, 1);
  for (char& c : rest) {
    if (c == '/') c = '\\';
  }
  return std::u16string(1, static_cast<char16_t>(u'A' + best)) + u":\\" + ToUtf16(rest);
}

}  // namespace w32
