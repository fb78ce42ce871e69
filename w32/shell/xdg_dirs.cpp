#include "shell/xdg_dirs.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "kernel/file.h"
#include "support/shell_settings.h"
#include "support/user_entry.h"

namespace w32 {
namespace {

constexpr size_t kUserDirsLimit = 64 * 1024;

bool IsAbsolute(const char* path) { return path != nullptr && path[0] == '/'; }

std::string Join(const std::string& folder, std::string_view name) {
  if (folder.empty()) return std::string();
  if (name.empty()) return folder;
  return folder.back() == '/' ? folder + std::string(name) : folder + '/' + std::string(name);
}

bool ReadFile(const std::string& path, std::string* text) {
  const int fd = OpenRegularFile(path, O_RDONLY);
  FILE* file = fd < 0 ? nullptr : ::fdopen(fd, "rb");
  if (file == nullptr) {
    if (fd >= 0) ::close(fd);
    return false;
  }
  text->assign(kUserDirsLimit, '\0');
  text->resize(std::fread(text->data(), 1, kUserDirsLimit, file));
  const bool read = std::ferror(file) == 0;
  std::fclose(file);
  return read;
}

// The value of `KEY="$HOME/Music"` or `KEY="/abs/path"` in user-dirs.dirs,
// with the shell's backslash escapes undone; empty when absent or malformed.
std::string UserDirsValue(const std::string& text, std::string_view key, const std::string& home) {
  std::string found;
  ForEachAssignment(text, key, [&](std::string_view line) {
    if (line.size() < 2 || line.front() != '"') return;
    std::string value;
    bool closed = false;
    for (size_t i = 1; i < line.size(); ++i) {
      if (line[i] == '\\' && i + 1 < line.size()) {
        value += line[++i];
      } else if (line[i] == '"') {
        closed = true;
        break;
      } else {
        value += line[i];
      }
    }
    if (!closed) return;
    if (value.compare(0, 5, "$HOME") == 0 && (value.size() == 5 || value[5] == '/')) {
      found = Join(home, std::string_view(value).substr(value.size() > 5 ? 6 : 5));
    } else if (!value.empty() && value[0] == '/') {
      found = value;
    }
  });
  return found;
}

}  // namespace

std::string HomeFolder() {
  const char* home = std::getenv("HOME");
  if (IsAbsolute(home)) return home;
  const std::optional<UserEntry> user = EffectiveUserEntry();
  return user && IsAbsolute(user->home.c_str()) ? user->home : std::string();
}

std::string XdgBaseDir(const char* variable, const char* under_home) {
  const char* value = std::getenv(variable);
  if (IsAbsolute(value)) return value;
  return Join(HomeFolder(), under_home);
}

std::string XdgUserDir(const char* key, const char* under_home) {
  const std::string home = HomeFolder();
  if (home.empty()) return std::string();
  std::string text;
  if (ReadFile(Join(XdgBaseDir("XDG_CONFIG_HOME", ".config"), "user-dirs.dirs"), &text)) {
    std::string value = UserDirsValue(text, key, home);
    if (!value.empty()) return value;
  }
  return Join(home, under_home);
}

bool CreateUserFolders(const std::string& path, mode_t mode) {
  size_t slash = 0;
  do {
    slash = path.find('/', slash + 1);
    if (::mkdir(path.substr(0, slash).c_str(), mode) != 0 && errno != EEXIST) return false;
  } while (slash != std::string::npos);
  struct stat status;
  if (::stat(path.c_str(), &status) != 0) return false;
  if (S_ISDIR(status.st_mode)) return true;
  errno = ENOTDIR;  // a file holds the folder's name
  return false;
}

std::string XdgSystemDir(const char* variable, const char* defaults, const char* name) {
  const char* value = std::getenv(variable);
  std::string_view list = value != nullptr && *value != 0 ? value : defaults;
  std::string first;
  while (!list.empty()) {
    const size_t colon = list.find(':');
    const std::string entry(list.substr(0, colon));
    list = colon == std::string_view::npos ? std::string_view() : list.substr(colon + 1);
    if (entry.empty() || entry[0] != '/') continue;  // relative entries are invalid and ignored
    const std::string folder = Join(entry, name);
    struct stat status;
    if (::stat(folder.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) return folder;
    if (first.empty()) first = folder;
  }
  return first;
}

}  // namespace w32
