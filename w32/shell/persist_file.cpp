#include "shell/persist_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "kernel/drive_table.h"
#include "kernel/file.h"

namespace w32 {
namespace {

bool WriteWholeFile(const std::string& path, std::string_view bytes, DWORD* error) {
  const int fd = OpenRegularFile(path, O_WRONLY | O_CREAT | O_TRUNC, 0666);
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

}  // namespace

HRESULT PersistedFile::Save(LPCOLESTR file, BOOL remember, std::string_view bytes) {
  const std::u16string target = file != nullptr ? std::u16string(file) : name;
  if (target.empty()) return E_INVALIDARG;
  std::string path;
  if (!ToNativePath(target, &path)) return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
  DWORD error = ERROR_SUCCESS;
  if (!WriteWholeFile(path, bytes, &error)) return HRESULT_FROM_WIN32(error);
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
