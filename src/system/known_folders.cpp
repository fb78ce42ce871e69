#include "system/known_folders.h"

#include <objbase.h>
#include <shlobj.h>

namespace device {
namespace {

using SHGetFolderPathFunction = HRESULT(WINAPI*)(HWND, int, HANDLE, DWORD, LPWSTR);
using SHGetKnownFolderPathFunction = HRESULT(WINAPI*)(REFKNOWNFOLDERID, DWORD, HANDLE, PWSTR*);

// A library loaded for the length of one lookup.
class LoadedLibrary {
 public:
  explicit LoadedLibrary(const WCHAR* name) : module_(LoadLibraryW(name)) {}
  ~LoadedLibrary() {
    if (module_ != nullptr) FreeLibrary(module_);
  }
  LoadedLibrary(const LoadedLibrary&) = delete;
  LoadedLibrary& operator=(const LoadedLibrary&) = delete;

  template <class Function>
  Function Find(const char* name) const {
    if (module_ == nullptr) return nullptr;
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module_, name)));
  }

 private:
  HMODULE module_;
};

// The folder of a CSIDL, created when missing; a folder that still does not
// exist afterwards is replaced by the documents folder.
std::u16string FolderLookup(int csidl) {
  const LoadedLibrary library(u"shfolder.dll");
  const auto get_folder_path = library.Find<SHGetFolderPathFunction>("SHGetFolderPathW");
  WCHAR path[MAX_PATH] = {};
  if (get_folder_path == nullptr) return std::u16string();
  get_folder_path(nullptr, csidl | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, path);
  if (GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES) {
    get_folder_path(nullptr, CSIDL_PERSONAL | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, path);
  }
  path[MAX_PATH - 1] = 0;
  return std::u16string(path);
}

std::u16string KnownFolderLookup(REFKNOWNFOLDERID id) {
  const LoadedLibrary library(u"shell32.dll");
  const auto get_known_folder_path = library.Find<SHGetKnownFolderPathFunction>("SHGetKnownFolderPath");
  if (get_known_folder_path == nullptr) return std::u16string();
  PWSTR path = nullptr;
  get_known_folder_path(id, KF_FLAG_CREATE, nullptr, &path);
  if (path == nullptr) return std::u16string();
  std::u16string result(path);
  CoTaskMemFree(path);
  return result;
}

}  // namespace

std::u16string GetSystemFolder(INT csidl) { return FolderLookup(csidl); }
std::u16string GetUserFolder() { return FolderLookup(CSIDL_PERSONAL); }
std::u16string GetDocumentFolder() { return FolderLookup(CSIDL_PERSONAL); }
std::u16string GetAppFolder() { return FolderLookup(CSIDL_LOCAL_APPDATA); }
std::u16string GetLocalAppDataFolder() { return FolderLookup(CSIDL_LOCAL_APPDATA); }
std::u16string GetCommonAppFolder() { return FolderLookup(CSIDL_COMMON_APPDATA); }
std::u16string GetProgramsFolder() { return FolderLookup(CSIDL_PROGRAMS); }
std::u16string GetCommonProgramsFolder() { return FolderLookup(CSIDL_COMMON_PROGRAMS); }
std::u16string GetStartMenuFolder() { return FolderLookup(CSIDL_STARTMENU); }
std::u16string GetPictureFolder() { return FolderLookup(CSIDL_MYPICTURES); }
std::u16string GetMusicFolder() { return FolderLookup(CSIDL_MYMUSIC); }
std::u16string GetVideoFolder() { return FolderLookup(CSIDL_MYVIDEO); }
std::u16string GetCommonDocumentFolder() { return FolderLookup(CSIDL_COMMON_DOCUMENTS); }
std::u16string GetSharedPictureFolder() { return FolderLookup(CSIDL_COMMON_PICTURES); }
std::u16string GetSharedMusicFolder() { return FolderLookup(CSIDL_COMMON_MUSIC); }
std::u16string GetSharedVideoFolder() { return FolderLookup(CSIDL_COMMON_VIDEO); }
std::u16string GetWindowsFolder() { return FolderLookup(CSIDL_WINDOWS); }
std::u16string GetSampleMusicFolder() { return KnownFolderLookup(FOLDERID_SampleMusic); }

}  // namespace device
