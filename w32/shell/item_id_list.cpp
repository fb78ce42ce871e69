#include "shell/item_id_list.h"

#include <sys/stat.h>

#include <cstring>

#include "kernel/drive_table.h"
#include "kernel/file.h"
#include "support/debug_channel.h"

namespace w32 {
namespace {

constexpr BYTE kRootItem = 0x1F;
constexpr BYTE kComputerSortIndex = 0x50;
// The type byte of an item holding a native path: a value of this shell's own.
constexpr BYTE kPathItem = 0xF1;
constexpr BYTE kMyComputerClsid[16] = {0xE0, 0x4F, 0xD0, 0x20, 0xEA, 0x3A, 0x69, 0x10,
                                       0xA2, 0xD8, 0x08, 0x00, 0x2B, 0x30, 0x30, 0x9D};

// One item of `body` bytes followed by the terminator.
PIDLIST_ABSOLUTE NewSingleItemList(const BYTE* body, size_t size) {
  const size_t item = 2 + size;
  if (item > 0xFFFF) return nullptr;
  auto* bytes = static_cast<BYTE*>(CoTaskMemAlloc(item + 2));
  if (bytes == nullptr) return nullptr;
  const USHORT cb = static_cast<USHORT>(item);
  std::memcpy(bytes, &cb, 2);
  std::memcpy(bytes + 2, body, size);
  std::memset(bytes + item, 0, 2);
  return reinterpret_cast<PIDLIST_ABSOLUTE>(bytes);
}

USHORT FirstItemSize(PCIDLIST_ABSOLUTE list) {
  USHORT cb = 0;
  std::memcpy(&cb, list, 2);
  return cb;
}

}  // namespace

PIDLIST_ABSOLUTE NewDesktopList() {
  auto* bytes = static_cast<BYTE*>(CoTaskMemAlloc(2));
  if (bytes != nullptr) std::memset(bytes, 0, 2);
  return reinterpret_cast<PIDLIST_ABSOLUTE>(bytes);
}

PIDLIST_ABSOLUTE NewComputerList() {
  BYTE body[18] = {kRootItem, kComputerSortIndex};
  std::memcpy(body + 2, kMyComputerClsid, sizeof kMyComputerClsid);
  return NewSingleItemList(body, sizeof body);
}

PIDLIST_ABSOLUTE NewPathList(const std::string& native_path) {
  std::string body(1, static_cast<char>(kPathItem));
  body += native_path;
  body += '\0';
  return NewSingleItemList(reinterpret_cast<const BYTE*>(body.data()), body.size());
}

bool IsDesktopList(PCIDLIST_ABSOLUTE list) { return list != nullptr && FirstItemSize(list) == 0; }

bool IsComputerList(PCIDLIST_ABSOLUTE list) {
  if (list == nullptr || FirstItemSize(list) != 20) return false;
  const BYTE* body = reinterpret_cast<const BYTE*>(list) + 2;
  return body[0] == kRootItem && std::memcmp(body + 2, kMyComputerClsid, sizeof kMyComputerClsid) == 0;
}

std::optional<std::string> PathOfList(PCIDLIST_ABSOLUTE list) {
  if (list == nullptr) return std::nullopt;
  const USHORT cb = FirstItemSize(list);
  const char* body = reinterpret_cast<const char*>(list) + 2;
  if (cb < 4 || static_cast<BYTE>(body[0]) != kPathItem || body[cb - 3] != 0) return std::nullopt;
  return std::string(body + 1);
}

}  // namespace w32

// ILFree: frees a list of task memory; null is ignored.
void WINAPI ILFree(PIDLIST_RELATIVE pidl) { CoTaskMemFree(pidl); }

// SHParseDisplayName: an existing item's path (drive form through the drive
// table, or an absolute native path) as a file system item's list. Missing
// items fail with the file error, relative paths with E_INVALIDARG. Of the
// attributes asked, SFGAO_FOLDER and SFGAO_FILESYSTEM are answered.
HRESULT WINAPI SHParseDisplayName(PCWSTR pszName, IBindCtx*, PIDLIST_ABSOLUTE* ppidl, SFGAOF sfgaoIn,
                                  SFGAOF* psfgaoOut) {
  constexpr SFGAOF kFolder = 0x20000000;
  constexpr SFGAOF kFileSystem = 0x40000000;
  if (ppidl == nullptr) return E_INVALIDARG;
  *ppidl = nullptr;
  if (psfgaoOut != nullptr) *psfgaoOut = 0;
  if (pszName == nullptr) return E_INVALIDARG;
  std::string path;
  if (!w32::ToNativePath(pszName, &path)) return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
  if (path.empty() || path[0] != '/') return E_INVALIDARG;
  struct stat status;
  if (::lstat(path.c_str(), &status) != 0) {
    W32_DEBUG(w32::kDebugShell, "SHParseDisplayName %s: %s", path.c_str(), std::strerror(errno));
    return HRESULT_FROM_WIN32(errno == ENOENT ? ERROR_FILE_NOT_FOUND : w32::ErrorFromErrno(errno));
  }
  *ppidl = w32::NewPathList(path);
  if (*ppidl == nullptr) return E_OUTOFMEMORY;
  if (psfgaoOut != nullptr) *psfgaoOut = sfgaoIn & (kFileSystem | (S_ISDIR(status.st_mode) ? kFolder : 0));
  return S_OK;
}
