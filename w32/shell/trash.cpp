#include "shell/trash.h"

#include <fcntl.h>
#include <limits.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <optional>
#include <vector>

#include "kernel/file.h"
#include "kernel/mount_table.h"
#include "support/debug_channel.h"
#include "support/unique_fd.h"

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

std::string Join(const std::string& folder, const std::string& name) {
  return folder == "/" ? "/" + name : folder + "/" + name;
}

std::optional<std::string> RealPath(const std::string& path) {
  char* real = ::realpath(path.c_str(), nullptr);
  if (real == nullptr) return std::nullopt;
  std::string out(real);
  std::free(real);
  return out;
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

// The mount point of the mount that holds the real path `folder`: the
// longest mount point above it in the process's mount table, the later of
// two at one point (it lies on top).
std::string TopFolder(const std::string& folder) {
  std::ifstream in("/proc/self/mountinfo", std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::string top = "/";
  for (const Mount& mount : ParseMountInfo(text)) {
    const std::string& point = mount.point;
    const bool above = point == "/" || (folder.compare(0, point.size(), point) == 0 &&
                                        (folder.size() == point.size() || folder[point.size()] == '/'));
    if (above && point.size() >= top.size()) top = point;
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
  return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

// The folder `name` in `parent`, made owner-only when missing; none unless it
// is a folder of the user's own and no link.
UniqueFd OwnFolder(int parent, const char* name) {
  if (::mkdirat(parent, name, 0700) != 0 && errno != EEXIST) return UniqueFd();
  UniqueFd folder(::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  struct stat status;
  if (!folder || ::fstat(folder.get(), &status) != 0 || status.st_uid != ::getuid()) return UniqueFd();
  return folder;
}

// An administrator's shared trash: a real folder with the sticky bit.
bool IsSharedTrash(int top) {
  struct stat status;
  return ::fstatat(top, ".Trash", &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(status.st_mode) &&
         (status.st_mode & S_ISVTX) != 0;
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
int WriteInfo(int info, const std::string& name, const std::string& contents) {
  const int fd = ::openat(info, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return errno;
  size_t written = 0;
  while (written < contents.size()) {
    const ssize_t n = ::write(fd, contents.data() + written, contents.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int error = n < 0 ? errno : EIO;
      ::close(fd);
      ::unlinkat(info, name.c_str(), 0);
      return error;
    }
    written += static_cast<size_t>(n);
  }
  if (::close(fd) != 0) {
    const int error = errno;
    ::unlinkat(info, name.c_str(), 0);
    return error;
  }
  return 0;
}

constexpr std::string_view kInfoSuffix = ".trashinfo";

// The trash's name for the item: its own name, or for the `copy`th item of
// that name "name.copy"; cut (at a character's start, keeping a short
// extension) so that the info file's name fits in `longest` bytes.
std::string TrashName(const std::string& name, unsigned copy, size_t longest) {
  const std::string suffix = copy == 1 ? "" : "." + std::to_string(copy);
  const size_t room = longest - kInfoSuffix.size() - suffix.size();
  if (name.size() <= room) return name + suffix;
  const size_t dot = name.find_last_of('.');
  const std::string extension = dot != std::string::npos && dot > 0 && name.size() - dot <= 16 ? name.substr(dot) : "";
  size_t cut = room - extension.size();
  while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
  return name.substr(0, cut) + extension + suffix;
}

// Moves `path` into the trash whose folder is open as `trash` (at `where`);
// `recorded` is the path the info file names (absolute, or relative to the
// trash's own folder).
DWORD MoveInto(int trash, const std::string& where, const std::string& path, const std::string& recorded) {
  const UniqueFd files = OwnFolder(trash, "files");
  const UniqueFd info = OwnFolder(trash, "info");
  if (!files || !info) {
    W32_DEBUG(kDebugTrash, "SHFileOperationW %s: %s: files or info is no folder of the user's own",
              path.c_str(), where.c_str());
    return ERROR_ACCESS_DENIED;
  }
  const long limit = ::fpathconf(info.get(), _PC_NAME_MAX);
  const size_t longest = limit > static_cast<long>(kInfoSuffix.size()) + 32 ? static_cast<size_t>(limit) : NAME_MAX;
  const std::string name = path.substr(path.find_last_of('/') + 1);
  const std::string contents =
      "[Trash Info]\nPath=" + EscapePath(recorded) + "\nDeletionDate=" + DeletionDate() + "\n";
  for (unsigned copy = 1; copy < 100000; ++copy) {
    const std::string unique = TrashName(name, copy, longest);
    const std::string info_name = unique + std::string(kInfoSuffix);
    const int error = WriteInfo(info.get(), info_name, contents);
    if (error == EEXIST) continue;
    if (error != 0) {
      W32_DEBUG(kDebugTrash, "SHFileOperationW %s: %s: info file: %s",
                path.c_str(), where.c_str(), std::strerror(error));
      return ErrorFromErrno(error);
    }
    struct stat taken;
    if (::fstatat(files.get(), unique.c_str(), &taken, AT_SYMLINK_NOFOLLOW) == 0) {  // a leftover without its info
      ::unlinkat(info.get(), info_name.c_str(), 0);
      continue;
    }
    if (::renameat(AT_FDCWD, path.c_str(), files.get(), unique.c_str()) != 0) {
      const int move_error = errno;
      W32_DEBUG(kDebugTrash, "SHFileOperationW %s: %s: rename: %s",
                path.c_str(), where.c_str(), std::strerror(move_error));
      ::unlinkat(info.get(), info_name.c_str(), 0);
      return ErrorFromErrno(move_error);
    }
    return ERROR_SUCCESS;
  }
  return ERROR_FILE_EXISTS;
}

DWORD MoveIntoHomeTrash(const std::string& path) {
  const std::string folder = DataHome() + "/Trash";
  if (!EnsureFolder(folder)) {
    W32_DEBUG(kDebugTrash, "SHFileOperationW %s: %s: no folder can be made there", path.c_str(), folder.c_str());
    return ERROR_ACCESS_DENIED;
  }
  const UniqueFd trash(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!trash) {
    W32_DEBUG(kDebugTrash, "SHFileOperationW %s: %s: %s", path.c_str(), folder.c_str(), std::strerror(errno));
    return ErrorFromErrno(errno);
  }
  return MoveInto(trash.get(), folder, path, path);
}

}  // namespace

DWORD MoveToTrash(const std::string& given) {
  struct stat item;
  if (given.empty() || given[0] != '/') return ERROR_INVALID_PARAMETER;
  if (::lstat(given.c_str(), &item) != 0) {
    W32_DEBUG(kDebugTrash, "SHFileOperationW %s: %s", given.c_str(), std::strerror(errno));
    return errno == ENOENT ? ERROR_FILE_NOT_FOUND : ErrorFromErrno(errno);
  }
  // The item as the mount table sees it: through its folder's real path.
  const std::optional<std::string> folder = RealPath(Parent(given));
  if (!folder) {
    W32_DEBUG(kDebugTrash, "SHFileOperationW %s: realpath of its folder: %s", given.c_str(), std::strerror(errno));
    return ErrorFromErrno(errno);
  }
  const std::string path = Join(*folder, given.substr(given.find_last_of('/') + 1));

  DWORD error = ERROR_PATH_NOT_FOUND;
  const std::string data_home = DataHome();
  const std::optional<dev_t> home_device = data_home.empty() ? std::nullopt : DeviceOf(data_home);
  if (home_device && *home_device == item.st_dev) {
    error = MoveIntoHomeTrash(path);
    if (error != ERROR_NOT_SAME_DEVICE) return error;  // a bind mount: its own trash may take it
  }
  const std::string top = TopFolder(*folder);
  const std::string relative = top == "/" ? path.substr(1) : path.substr(top.size() + 1);
  const UniqueFd top_fd(::open(top.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!top_fd) {
    W32_DEBUG(kDebugTrash, "SHFileOperationW %s: top folder %s: %s", path.c_str(), top.c_str(), std::strerror(errno));
    return ErrorFromErrno(errno);
  }
  const std::string uid = std::to_string(::getuid());
  if (IsSharedTrash(top_fd.get())) {
    const UniqueFd shared(::openat(top_fd.get(), ".Trash", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    const UniqueFd trash = shared ? OwnFolder(shared.get(), uid.c_str()) : UniqueFd();
    const std::string where = Join(top, ".Trash/" + uid);
    if (!trash) W32_DEBUG(kDebugTrash, "SHFileOperationW %s: %s: no folder of the user's own",
                          path.c_str(), where.c_str());
    if (trash) {
      error = MoveInto(trash.get(), where, path, relative);
      if (error == ERROR_SUCCESS) return error;
    }
  }
  const std::string where = Join(top, ".Trash-" + uid);
  const UniqueFd trash = OwnFolder(top_fd.get(), (".Trash-" + uid).c_str());
  if (!trash) {
    W32_DEBUG(kDebugTrash, "SHFileOperationW %s: %s: no folder of the user's own", path.c_str(), where.c_str());
    return ERROR_ACCESS_DENIED;
  }
  return MoveInto(trash.get(), where, path, relative);
}

}  // namespace w32
