#include "shell/persist_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "kernel/file.h"

namespace w32 {

bool WriteWholeFile(const std::string& path, std::string_view bytes, DWORD* error) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) {
    *error = errno == ENOENT ? ERROR_PATH_NOT_FOUND : ErrorFromErrno(errno);
    return false;
  }
  size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      *error = n < 0 ? ErrorFromErrno(errno) : ERROR_GEN_FAILURE;
      ::close(fd);
      ::unlink(path.c_str());
      return false;
    }
    written += static_cast<size_t>(n);
  }
  if (::close(fd) != 0) {
    *error = ErrorFromErrno(errno);
    ::unlink(path.c_str());
    return false;
  }
  return true;
}

HRESULT CurFileName(const std::u16string& file, std::u16string_view untitled, LPOLESTR* name) {
  if (name == nullptr) return E_POINTER;
  const std::u16string_view text = file.empty() ? untitled : std::u16string_view(file);
  *name = static_cast<LPOLESTR>(CoTaskMemAlloc((text.size() + 1) * sizeof(OLECHAR)));
  if (*name == nullptr) return E_OUTOFMEMORY;
  text.copy(*name, text.size());
  (*name)[text.size()] = 0;
  return file.empty() ? S_FALSE : S_OK;
}

}  // namespace w32
