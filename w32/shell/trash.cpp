#include "shell/trash.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <optional>

#include "kernel/file.h"

namespace w32 {
namespace {

std::string HomeFolder() {
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] == '/') return home;
  const struct passwd* entry = ::getpwuid(::getuid());
  return entry != nullptr && entry->pw_dir != nullptr ? entry->pw_dir : "";
}

std::string DataHome() {
  const char* data = std::getenv("XDG_DATA_HOME");
  if (data != nullptr && data[0] == '/') return data;
  const std::string home = HomeFolder();
  return home.empty() ? "" : home + "/.local/share";
}

std::string Parent(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == 0 || slash == std::string::npos ? "/" : path.substr(0, slash);
}

// The device of a path, or of its nearest existing ancestor.
std::optional<dev_t> DeviceOf(std::string path) {
  struct stat status;
  while (true) {
    if (::stat(path.c_str(), &status) == 0) return status.st_dev;
    if (path == "/") return std::nullopt;
    path = Parent(path);
  }
}

// The mount point holding `path`: the last ancestor on the same device.
std::string TopFolder(const std::string& path, dev_t device) {
  std::string top = Parent(path);
  struct stat status;
  while (top != "/") {
    const std::string up = Parent(top);
    if (::stat(up.c_str(), &status) != 0 || status.st_dev != device) break;
    top = up;
  }
  return top;
}

// Makes a folder, owner-only, with its missing ancestors; false when it
// cannot be used.
bool EnsureFolder(const std::string& path) {
  if (::mkdir(path.c_str(), 0700) != 0 && errno == ENOENT && path != "/" && EnsureFolder(Parent(path))) {
    ::mkdir(path.c_str(), 0700);
  }
  struct stat status;
  return ::lstat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

// Percent-escapes what RFC 2396 does not allow unescaped in a path.
std::string EscapePath(const std::string& path) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : path) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       std::string_view("-_.!~*'()/:@&=+$,").find(static_cast<char>(c)) != std::string_view::npos;
    if (plain) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
    }
  }
  return out;
}

// The precise clock: time() may read the kernel's coarse one, a tick behind
// what other programs see across a second boundary.
std::string DeletionDate() {
  struct timespec precise {};
  ::clock_gettime(CLOCK_REALTIME, &precise);
  const time_t now = precise.tv_sec;
  struct tm local;
  char text[32] = {};
  if (::localtime_r(&now, &local) != nullptr) std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
  return text;
}

// Writes the whole info file, created exclusively: the name is ours once
// this succeeds. EEXIST means another item holds the name.
int WriteInfo(const std::string& info_path, const std::string& contents) {
  const int fd = ::open(info_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return errno;
  size_t written = 0;
  while (written < contents.size()) {
    const ssize_t n = ::write(fd, contents.data() + written, contents.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int error = n < 0 ? errno : EIO;
      ::close(fd);
      ::unlink(info_path.c_str());
      return error;
    }
    written += static_cast<size_t>(n);
  }
  if (::close(fd) != 0) {
    const int error = errno;
    ::unlink(info_path.c_str());
    return error;
  }
  return 0;
}

// Moves `path` into the trash folder `trash`; `recorded` is the path the
// info file names (absolute, or relative to the trash's own folder).
DWORD MoveInto(const std::string& trash, const std::string& path, const std::string& recorded) {
  if (!EnsureFolder(trash) || !EnsureFolder(trash + "/files") || !EnsureFolder(trash + "/info")) {
    return ERROR_ACCESS_DENIED;
  }
  const std::string name = path.substr(path.find_last_of('/') + 1);
  const std::string contents =
      "[Trash Info]\nPath=" + EscapePath(recorded) + "\nDeletionDate=" + DeletionDate() + "\n";
  for (unsigned copy = 1; copy < 100000; ++copy) {
    const std::string unique = copy == 1 ? name : name + "." + std::to_string(copy);
    const std::string info = trash + "/info/" + unique + ".trashinfo";
    const int error = WriteInfo(info, contents);
    if (error == EEXIST) continue;
    if (error != 0) return ErrorFromErrno(error);
    const std::string target = trash + "/files/" + unique;
    struct stat taken;
    if (::lstat(target.c_str(), &taken) == 0) {  // a leftover without its info: keep it, try the next name
      ::unlink(info.c_str());
      continue;
    }
    if (::rename(path.c_str(), target.c_str()) != 0) {
      const int move_error = errno;
      ::unlink(info.c_str());
      return ErrorFromErrno(move_error);
    }
    return ERROR_SUCCESS;
  }
  return ERROR_FILE_EXISTS;
}

}  // namespace

DWORD MoveToTrash(const std::string& path) {
  struct stat item;
  if (path.empty() || path[0] != '/') return ERROR_INVALID_PARAMETER;
  if (::lstat(path.c_str(), &item) != 0) return errno == ENOENT ? ERROR_FILE_NOT_FOUND : ErrorFromErrno(errno);
  const std::string data_home = DataHome();
  const std::optional<dev_t> home_device = data_home.empty() ? std::nullopt : DeviceOf(data_home);
  if (home_device && *home_device == item.st_dev) {
    return MoveInto(data_home + "/Trash", path, path);
  }
  const std::string top = TopFolder(path, item.st_dev);
  const std::string trash = (top == "/" ? "" : top) + "/.Trash-" + std::to_string(::getuid());
  const std::string relative = top == "/" ? path.substr(1) : path.substr(top.size() + 1);
  return MoveInto(trash, path, relative);
}

}  // namespace w32
