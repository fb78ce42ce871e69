#include "system/shell_links.h"

#include <corecrt_wstdlib.h>
#include <intshcut.h>
#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cstring>
#include <vector>

namespace device {
namespace {

constexpr DWORD kResolveFlags = 0x000A0003;  // SLR_NO_UI | SLR_ANY_MATCH, 10 ms in the high word
constexpr int kLinkPathChars = 520;
constexpr size_t kNameChars = 1024;
constexpr DWORD kUnwantedTarget =
    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_ENCRYPTED;

// Releases an interface when the operation ends.
template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  ~ComPtr() {
    if (p_ != nullptr) p_->Release();
  }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  T* operator->() const { return p_; }
  T* get() const { return p_; }
  void** out() { return reinterpret_cast<void**>(&p_); }

 private:
  T* p_ = nullptr;
};

// Frees task memory (an item list) when the operation ends.
struct TaskMemory {
  void* block = nullptr;
  ~TaskMemory() { CoTaskMemFree(block); }
};

// Asks the shell link or internet shortcut for IPersistFile and saves to `file`.
void SaveAs(IUnknown* object, const WCHAR* file) {
  ComPtr<IPersistFile> persist;
  if (SUCCEEDED(object->QueryInterface(IID_IPersistFile, persist.out()))) persist->Save(file, TRUE);
}

}  // namespace

std::optional<std::u16string> GetLinkFile(const WCHAR* link_file) {
  ComPtr<IShellLinkW> link;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.out()))) {
    return std::nullopt;
  }
  ComPtr<IPersistFile> persist;
  if (FAILED(link->QueryInterface(IID_IPersistFile, persist.out()))) return std::nullopt;
  if (FAILED(persist->Load(link_file, STGM_READ))) return std::nullopt;
  if (FAILED(link->Resolve(nullptr, kResolveFlags))) return std::nullopt;
  WCHAR path[kLinkPathChars] = {};
  WIN32_FIND_DATAW target{};
  if (FAILED(link->GetPath(path, kLinkPathChars, &target, SLGP_RAWPATH))) return std::nullopt;
  if (target.dwFileAttributes == INVALID_FILE_ATTRIBUTES || (target.dwFileAttributes & kUnwantedTarget) != 0) {
    return std::nullopt;
  }
  return std::u16string(path);
}

void CreateLink(const WCHAR* target, const WCHAR* link_file, const WCHAR* description) {
  ComPtr<IShellLinkW> link;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.out()))) return;
  link->SetPath(target);
  link->SetDescription(description);
  SaveAs(link.get(), link_file);
}

void CreateInternetShortcut(const WCHAR* url, const WCHAR* file) {
  ComPtr<IUniformResourceLocatorW> shortcut;
  if (FAILED(CoCreateInstance(CLSID_InternetShortcut, nullptr, CLSCTX_INPROC_SERVER, IID_IUniformResourceLocatorW,
                              shortcut.out()))) {
    return;
  }
  shortcut->SetURL(url, IURL_SETURL_FL_GUESS_PROTOCOL);
  SaveAs(shortcut.get(), file);
}

std::u16string GetMyComputerName() {
  SHFILEINFOW info{};
  ComPtr<IShellFolder> desktop;
  if (FAILED(SHGetDesktopFolder(reinterpret_cast<IShellFolder**>(desktop.out())))) return u"";
  TaskMemory computer;
  SHGetSpecialFolderLocation(nullptr, CSIDL_DRIVES, reinterpret_cast<PIDLIST_ABSOLUTE*>(&computer.block));
  STRRET name{};
  if (desktop->GetDisplayNameOf(static_cast<PCUITEMID_CHILD>(computer.block), SHGDN_FORPARSING, &name) != S_OK) {
    return u"";
  }
  std::u16string parsing_name;
  bool has_text = true;
  switch (name.uType) {
    case STRRET_WSTR:
      parsing_name = name.pOleStr;
      CoTaskMemFree(name.pOleStr);
      break;
    case STRRET_CSTR: {
      std::vector<WCHAR> wide(sizeof name.cStr + 1, 0);
      MultiByteToWideChar(CP_THREAD_ACP, 0, name.cStr, -1, wide.data(), static_cast<int>(wide.size()));
      parsing_name = wide.data();
      break;
    }
    default:
      has_text = false;
      break;
  }
  if (has_text) SHGetFileInfoW(parsing_name.c_str(), 0, &info, sizeof info, SHGFI_DISPLAYNAME);
  return info.szDisplayName;
}

std::u16string GetPathDisplayName(const WCHAR* path) {
  if (*path == 0) return GetMyComputerName();
  // The shell's buffer holds 1023 characters and the terminator: a longer
  // path does not fit, and is never cut to one that names something else.
  const size_t length = std::char_traits<char16_t>::length(path);
  if (length < kNameChars) {
    std::u16string buffer(path, length);
    if (buffer.size() == 2) buffer += u'\\';
    SHFILEINFOW info{};
    SHGetFileInfoW(buffer.c_str(), FILE_ATTRIBUTE_NORMAL, &info, sizeof info, SHGFI_DISPLAYNAME);
    if (info.szDisplayName[0] != 0) return info.szDisplayName;
  }
  WCHAR name[_MAX_FNAME] = {};
  WCHAR extension[_MAX_EXT] = {};
  _wsplitpath(path, nullptr, nullptr, name, extension);
  return name;
}

std::optional<std::u16string> GetLongPathName(const WCHAR* path) {
  WCHAR buffer[MAX_PATH] = {};
  if (GetLongPathNameW(path, buffer, MAX_PATH) == 0) return std::nullopt;
  return std::u16string(buffer);
}

}  // namespace device
