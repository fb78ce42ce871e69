#include <corecrt_wstdlib.h>
#include <windows.h>

#include <cerrno>
#include <string_view>

#include "support/text.h"

namespace {

bool IsSeparator(WCHAR c) { return c == u'\\' || c == u'/'; }

bool Fits(WCHAR* out, std::u16string_view part, size_t capacity) {
  return out == nullptr || part.size() < capacity;
}

void Put(WCHAR* out, std::u16string_view part) {
  if (out == nullptr) return;
  part.copy(out, part.size());
  out[part.size()] = 0;
}

}  // namespace

// _wsplitpath: drive ("X:"), folder up to its last separator, name, and
// extension from the name's last dot. Each part has the room of its _MAX_
// constant; when one would not fit, every part is empty and errno is ERANGE,
// as the checked form of the function leaves them.
void _wsplitpath(const WCHAR* path, WCHAR* drive, WCHAR* dir, WCHAR* name, WCHAR* ext) {
  if (path == nullptr) {
    errno = EINVAL;
    return;
  }
  std::u16string_view rest(path, w32::WideLength(path));
  std::u16string_view drive_part;
  if (rest.size() >= 2 && rest[1] == u':') {
    drive_part = rest.substr(0, 2);
    rest.remove_prefix(2);
  }
  size_t name_start = 0;
  for (size_t i = 0; i < rest.size(); ++i) {
    if (IsSeparator(rest[i])) name_start = i + 1;
  }
  const std::u16string_view dir_part = rest.substr(0, name_start);
  std::u16string_view name_part = rest.substr(name_start);
  std::u16string_view ext_part;
  if (const size_t dot = name_part.find_last_of(u'.'); dot != std::u16string_view::npos) {
    ext_part = name_part.substr(dot);
    name_part = name_part.substr(0, dot);
  }
  if (!Fits(drive, drive_part, _MAX_DRIVE) || !Fits(dir, dir_part, _MAX_DIR) || !Fits(name, name_part, _MAX_FNAME) ||
      !Fits(ext, ext_part, _MAX_EXT)) {
    for (WCHAR* out : {drive, dir, name, ext}) Put(out, {});
    errno = ERANGE;
    return;
  }
  Put(drive, drive_part);
  Put(dir, dir_part);
  Put(name, name_part);
  Put(ext, ext_part);
}
