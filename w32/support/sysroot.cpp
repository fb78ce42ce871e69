#include "support/sysroot.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>

namespace w32 {

std::string SysPath(std::string_view absolute) {
  const char* root = std::getenv("W32_SYSROOT");
  std::string path = root != nullptr && *root != 0 ? root : "/";
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  while (!absolute.empty() && absolute.front() == '/') absolute.remove_prefix(1);
  if (path.back() != '/') path += '/';
  return path.append(absolute);
}

std::string ReadSysText(std::string_view absolute) {
  std::string text;
  const int fd = ::open(SysPath(absolute).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return text;
  char buffer[4096];
  ssize_t n;
  // Attribute files can be endless (/dev/zero-like); facts are short.
  while (text.size() < (1u << 20) && (n = ::read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, n);
  ::close(fd);
  return text;
}

std::string ReadSysValue(std::string_view absolute) {
  std::string text = ReadSysText(absolute);
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
    text.pop_back();
  }
  return text;
}

}  // namespace w32
