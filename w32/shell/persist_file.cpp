#include "shell/persist_file.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "kernel/drive_table.h"
#include "kernel/file.h"
#include "support/debug_channel.h"

namespace w32 {
namespace {

// Writes `bytes` to a new file beside `path` and renames it over `path`, so
// that `path` holds either its old bytes or all the new ones, whatever fails
// (a full disk, a read-only folder). A replaced file keeps its mode; a link
// is written through.
bool ReplaceWholeFile(std::string path, std::string_view bytes, DWORD* error) {
  static std::atomic<unsigned> counter{0};
  struct stat old;
  bool existed = ::lstat(path.c_str(), &old) == 0;
  if (existed && S_ISLNK(old.st_mode)) {
    char* real = ::realpath(path.c_str(), nullptr);
    if (real != nullptr) {
      path = real;
      std::free(real);
    }
    existed = ::stat(path.c_str(), &old) == 0;
  }
  if (existed && !S_ISREG(old.st_mode)) {  // a folder, or a FIFO or device left as it is
    W32_DEBUG(kDebugLink, "IPersistFile::Save %s: not a regular file", path.c_str());
    *error = ErrorFromErrno(S_ISDIR(old.st_mode) ? EISDIR : EACCES);
    return false;
  }
  const size_t slash = path.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  std::string temporary;
  int fd = -1;
  do {
    temporary = folder + ".w32-save-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
    fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EEXIST);
  if (fd < 0) {
    W32_DEBUG(kDebugLink, "IPersistFile::Save %s: %s: %s", path.c_str(), temporary.c_str(), std::strerror(errno));
    *error = errno == ENOENT ? ERROR_PATH_NOT_FOUND : ErrorFromErrno(errno);
    return false;
  }
  int failure = 0;
  size_t written = 0;
  while (failure == 0 && written < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
    if (n > 0) {
      written += static_cast<size_t>(n);
    } else if (n == 0 || errno != EINTR) {
      failure = n == 0 ? EIO : errno;
    }
  }
  if (failure == 0 && existed && ::fchmod(fd, old.st_mode & 07777) != 0) failure = errno;
  if (failure == 0 && ::fsync(fd) != 0) failure = errno;
  if (::close(fd) != 0 && failure == 0) failure = errno;
  if (failure == 0 && ::rename(temporary.c_str(), path.c_str()) != 0) failure = errno;
  if (failure != 0) {
    W32_DEBUG(kDebugLink, "IPersistFile::Save %s: %s: %s", path.c_str(), temporary.c_str(), std::strerror(failure));
    ::unlink(temporary.c_str());
    *error = ErrorFromErrno(failure);
    return false;
  }
  return true;
}

}  // namespace

HRESULT PersistedFile::Save(LPCOLESTR file, BOOL remember, std::string_view bytes) {
  const std::u16string target = file != nullptr ? std::u16string(file) : name;
  if (target.empty()) return E_INVALIDARG;
  std::string path;
  if (!ToNativePath(target, &path)) return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
  DWORD error = ERROR_SUCCESS;
  if (!ReplaceWholeFile(path, bytes, &error)) return HRESULT_FROM_WIN32(error);
  if (remember || file == nullptr) {
    name = target;
    dirty = false;
  }
  return S_OK;
}

HRESULT PersistedFile::CurFile(std::u16string_view untitled, LPOLESTR* out) const {
  if (out == nullptr) return E_POINTER;
  const std::u16string_view text = name.empty() ? untitled : std::u16string_view(name);
  *out = static_cast<LPOLESTR>(CoTaskMemAlloc((text.size() + 1) * sizeof(OLECHAR)));
  if (*out == nullptr) return E_OUTOFMEMORY;
  text.copy(*out, text.size());
  (*out)[text.size()] = 0;
  return name.empty() ? S_FALSE : S_OK;
}

}  // namespace w32
