#include "support/sysroot.h"

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace w32 {

std::string SysrootPath(std::string_view absolute) {
  const char* root = std::getenv("W32_SYSROOT");
  std::string path = root != nullptr ? root : "";
  while (!path.empty() && path.back() == '/') path.pop_back();
  while (!absolute.empty() && absolute.front() == '/') absolute.remove_prefix(1);
  path += '/';
  path += absolute;
  return path;
}

bool ReadSysrootFile(std::string_view absolute, size_t limit, std::string* text) {
  std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(SysrootPath(absolute).c_str(), "rb"), std::fclose);
  if (!file) return false;
  text->assign(limit, '\0');
  text->resize(std::fread(text->data(), 1, limit, file.get()));
  return std::ferror(file.get()) == 0;
}

}  // namespace w32
