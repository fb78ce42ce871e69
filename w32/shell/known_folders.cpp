// Special folders over the XDG base directories and user directories. The
// README's table gives the place of every CSIDL and why.
#include "shell/known_folders.h"

#include <shlobj.h>
#include <objbase.h>
#include <sys/stat.h>

#include <cerrno>
#include <string_view>

#include "kernel/file.h"
#include "shell/xdg_dirs.h"
#include "support/file_name.h"

const KNOWNFOLDERID FOLDERID_SampleMusic = {0xB250C668, 0xF57D, 0x4EE1, {0xA6, 0x3C, 0x29, 0x0E, 0xE7, 0xD1, 0xAA, 0x1F}};

namespace w32 {
namespace {

enum class Place {
  kNone,          // the platform's folder has no counterpart here, or is virtual
  kHome,          // the home folder
  kBase,          // an XDG base directory: variable, its default below home, a subfolder
  kUser,          // a user directory: key, its default below home
  kPublic,        // below the user directory shared with others (XDG_PUBLICSHARE_DIR)
  kSystemData,    // a folder below one of XDG_DATA_DIRS: variable, default list, name
  kSystemConfig,  // a folder below one of XDG_CONFIG_DIRS: variable, default list, name
  kFixed,         // a machine-wide path
};

struct Folder {
  int csidl;
  Place place;
  const char* first;
  const char* second;
  const char* third;
};

constexpr Folder kFolders[] = {
    {CSIDL_DESKTOP, Place::kUser, "XDG_DESKTOP_DIR", "Desktop", nullptr},
    {CSIDL_INTERNET, Place::kNone, nullptr, nullptr, nullptr},
    {CSIDL_PROGRAMS, Place::kBase, "XDG_DATA_HOME", ".local/share", "applications"},
    {CSIDL_CONTROLS, Place::kNone, nullptr, nullptr, nullptr},
    {CSIDL_PRINTERS, Place::kNone, nullptr, nullptr, nullptr},
    {CSIDL_PERSONAL, Place::kUser, "XDG_DOCUMENTS_DIR", "Documents", nullptr},
    {CSIDL_FAVORITES, Place::kNone, nullptr, nullptr, nullptr},
    {CSIDL_STARTUP, Place::kBase, "XDG_CONFIG_HOME", ".config", "autostart"},
    {CSIDL_RECENT, Place::kNone, nullptr, nullptr, nullptr},
    {CSIDL_SENDTO, Place::kNone, nullptr, nullptr, nullptr},
    {CSIDL_BITBUCKET, Place::kNone, nullptr, nullptr, nullptr},
    {CSIDL_STARTMENU, Place::kBase, "XDG_DATA_HOME", ".local/share", "applications"},
    {CSIDL_MYMUSIC, Place::kUser, "XDG_MUSIC_DIR", "Music", nullptr},
    {CSIDL_MYVIDEO, Place::kUser, "XDG_VIDEOS_DIR", "Videos", nullptr},
    {CSIDL_DESKTOPDIRECTORY, Place::kUser, "XDG_DESKTOP_DIR", "Desktop", nullptr},
    {CSIDL_DRIVES, Place::kNone, nullptr, nullptr, nullptr},
    {CSIDL_NETWORK, Place::kNone, nullptr, nullptr, nullptr},
    {CSIDL_NETHOOD, Place::kNone, nullptr, nullptr, nullptr},
    {CSIDL_FONTS, Place::kSystemData, "XDG_DATA_DIRS", "/usr/local/share:/usr/share", "fonts"},
    {CSIDL_TEMPLATES, Place::kUser, "XDG_TEMPLATES_DIR", "Templates", nullptr},
    {CSIDL_COMMON_STARTMENU, Place::kSystemData, "XDG_DATA_DIRS", "/usr/local/share:/usr/share", "applications"},
    {CSIDL_COMMON_PROGRAMS, Place::kSystemData, "XDG_DATA_DIRS", "/usr/local/share:/usr/share", "applications"},
    {CSIDL_COMMON_STARTUP, Place::kSystemConfig, "XDG_CONFIG_DIRS", "/etc/xdg", "autostart"},
    {CSIDL_COMMON_DESKTOPDIRECTORY, Place::kNone, nullptr, nullptr, nullptr},
    {CSIDL_APPDATA, Place::kBase, "XDG_CONFIG_HOME", ".config", nullptr},
    {CSIDL_PRINTHOOD, Place::kNone, nullptr, nullptr, nullptr},
    {CSIDL_LOCAL_APPDATA, Place::kBase, "XDG_DATA_HOME", ".local/share", nullptr},
    {CSIDL_ALTSTARTUP, Place::kBase, "XDG_CONFIG_HOME", ".config", "autostart"},
    {CSIDL_COMMON_ALTSTARTUP, Place::kSystemConfig, "XDG_CONFIG_DIRS", "/etc/xdg", "autostart"},
    {CSIDL_COMMON_FAVORITES, Place::kNone, nullptr, nullptr, nullptr},
    {CSIDL_INTERNET_CACHE, Place::kBase, "XDG_CACHE_HOME", ".cache", nullptr},
    {CSIDL_COOKIES, Place::kNone, nullptr, nullptr, nullptr},
    {CSIDL_HISTORY, Place::kBase, "XDG_STATE_HOME", ".local/state", nullptr},
    {CSIDL_COMMON_APPDATA, Place::kSystemData, "XDG_DATA_DIRS", "/usr/local/share:/usr/share", ""},
    {CSIDL_WINDOWS, Place::kFixed, "/usr", nullptr, nullptr},
    {CSIDL_SYSTEM, Place::kFixed, "/usr/lib", nullptr, nullptr},
    {CSIDL_PROGRAM_FILES, Place::kFixed, "/opt", nullptr, nullptr},
    {CSIDL_MYPICTURES, Place::kUser, "XDG_PICTURES_DIR", "Pictures", nullptr},
    {CSIDL_PROFILE, Place::kHome, nullptr, nullptr, nullptr},
    {CSIDL_SYSTEMX86, Place::kFixed, "/usr/lib32", nullptr, nullptr},
    {CSIDL_PROGRAM_FILESX86, Place::kFixed, "/opt", nullptr, nullptr},
    {CSIDL_PROGRAM_FILES_COMMON, Place::kFixed, "/usr/share", nullptr, nullptr},
    {CSIDL_PROGRAM_FILES_COMMONX86, Place::kFixed, "/usr/share", nullptr, nullptr},
    {CSIDL_COMMON_TEMPLATES, Place::kSystemData, "XDG_DATA_DIRS", "/usr/local/share:/usr/share", "templates"},
    {CSIDL_COMMON_DOCUMENTS, Place::kPublic, "", nullptr, nullptr},
    {CSIDL_COMMON_ADMINTOOLS, Place::kNone, nullptr, nullptr, nullptr},
    {CSIDL_ADMINTOOLS, Place::kNone, nullptr, nullptr, nullptr},
    {CSIDL_CONNECTIONS, Place::kNone, nullptr, nullptr, nullptr},
    {CSIDL_COMMON_MUSIC, Place::kPublic, "Music", nullptr, nullptr},
    {CSIDL_COMMON_PICTURES, Place::kPublic, "Pictures", nullptr, nullptr},
    {CSIDL_COMMON_VIDEO, Place::kPublic, "Videos", nullptr, nullptr},
    {CSIDL_RESOURCES, Place::kSystemData, "XDG_DATA_DIRS", "/usr/local/share:/usr/share", "themes"},
    {CSIDL_RESOURCES_LOCALIZED, Place::kNone, nullptr, nullptr, nullptr},
    {CSIDL_COMMON_OEM_LINKS, Place::kNone, nullptr, nullptr, nullptr},
    {CSIDL_CDBURN_AREA, Place::kNone, nullptr, nullptr, nullptr},
    {CSIDL_COMPUTERSNEARME, Place::kNone, nullptr, nullptr, nullptr},
};

std::string Below(const std::string& folder, const char* name) {
  if (folder.empty() || name == nullptr || *name == 0) return folder;
  return folder + '/' + name;
}

std::string PublicFolder() { return XdgUserDir("XDG_PUBLICSHARE_DIR", "Public"); }

std::string Resolve(const Folder& folder) {
  switch (folder.place) {
    case Place::kHome: return HomeFolder();
    case Place::kBase: return Below(XdgBaseDir(folder.first, folder.second), folder.third);
    case Place::kUser: return XdgUserDir(folder.first, folder.second);
    case Place::kPublic: return Below(PublicFolder(), folder.first);
    case Place::kSystemData:
    case Place::kSystemConfig: return XdgSystemDir(folder.first, folder.second, folder.third);
    case Place::kFixed: return folder.first;
    case Place::kNone: break;
  }
  return std::string();
}

// The mode a missing folder is made with (less the umask): the base
// directories private, as the XDG Base Directory rules ask; the others as
// xdg-user-dirs makes the user's folders.
mode_t CreationMode(int csidl) {
  for (const Folder& folder : kFolders) {
    if (folder.csidl == csidl && folder.place == Place::kBase) return 0700;
  }
  return 0755;
}

// Creates the missing folders of an absolute path.
bool CreateFolders(const std::string& path, mode_t mode) {
  size_t slash = 0;
  do {
    slash = path.find('/', slash + 1);
    if (::mkdir(path.substr(0, slash).c_str(), mode) != 0 && errno != EEXIST) return false;
  } while (slash != std::string::npos);
  struct stat status;
  if (::stat(path.c_str(), &status) != 0) return false;
  if (S_ISDIR(status.st_mode)) return true;
  errno = ENOTDIR;  // a file holds the folder's name
  return false;
}

// The folder checked and, when asked, created: S_OK, or the failure the
// platform gives (E_FAIL for a missing folder, the creation's own error).
HRESULT Verify(const std::string& path, int csidl, bool create, bool dont_verify) {
  if (dont_verify) return S_OK;
  struct stat status;
  if (::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) return S_OK;
  if (!create) return E_FAIL;
  return CreateFolders(path, CreationMode(csidl)) ? S_OK : HRESULT_FROM_WIN32(ErrorFromErrno(errno));
}

}  // namespace

FolderLookup FolderOfCsidl(int csidl, std::string* path, bool* users_own) {
  for (const Folder& folder : kFolders) {
    if (folder.csidl != csidl) continue;
    *path = Resolve(folder);
    *users_own = folder.place != Place::kSystemData && folder.place != Place::kSystemConfig &&
                 folder.place != Place::kFixed;
    return path->empty() ? FolderLookup::kNoPlace : FolderLookup::kFound;
  }
  return FolderLookup::kUnknown;
}

}  // namespace w32

// SHGetFolderPathW: the folder of a CSIDL from the table above, checked and,
// on CSIDL_FLAG_CREATE, created when it is the user's (the machine's folders
// belong to the system's packages); only the calling user's (no token).
// Virtual folders and those without a place here are E_FAIL, as a folder
// that does not exist is.
HRESULT WINAPI SHGetFolderPathW(HWND, int csidl, HANDLE token, DWORD flags, LPWSTR path) {
  if (path == nullptr || token != nullptr || (flags != SHGFP_TYPE_CURRENT && flags != SHGFP_TYPE_DEFAULT)) {
    return E_INVALIDARG;
  }
  path[0] = 0;
  if ((csidl & ~0xFFFF) != 0) return E_INVALIDARG;
  std::string folder;
  bool users_own = false;
  switch (w32::FolderOfCsidl(csidl & ~CSIDL_FLAG_MASK, &folder, &users_own)) {
    case w32::FolderLookup::kUnknown: return E_INVALIDARG;
    case w32::FolderLookup::kNoPlace: return E_FAIL;
    case w32::FolderLookup::kFound: break;
  }
  const std::u16string wide = w32::FileNameFromBytes(folder);
  if (wide.size() >= MAX_PATH) return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
  const HRESULT verified =
      w32::Verify(folder, csidl & ~CSIDL_FLAG_MASK, users_own && (csidl & CSIDL_FLAG_CREATE) != 0,
                  (csidl & CSIDL_FLAG_DONT_VERIFY) != 0);
  if (verified != S_OK) return verified;
  wide.copy(path, wide.size());
  path[wide.size()] = 0;
  return S_OK;
}

// SHGetKnownFolderPath: FOLDERID_SampleMusic, the one known folder asked for
// by identifier, lies where the platform keeps it: "Sample Music" in the
// shared music folder. Other identifiers name no folder present here.
HRESULT WINAPI SHGetKnownFolderPath(REFKNOWNFOLDERID id, DWORD flags, HANDLE token, PWSTR* path) {
  if (path == nullptr) return E_INVALIDARG;
  *path = nullptr;
  if (token != nullptr) return E_INVALIDARG;
  if (id != FOLDERID_SampleMusic) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  std::string folder;
  bool users_own = false;
  if (w32::FolderOfCsidl(CSIDL_COMMON_MUSIC, &folder, &users_own) != w32::FolderLookup::kFound) return E_FAIL;
  folder += "/Sample Music";
  const HRESULT verified =
      w32::Verify(folder, CSIDL_COMMON_MUSIC, (flags & KF_FLAG_CREATE) != 0, (flags & KF_FLAG_DONT_VERIFY) != 0);
  if (verified != S_OK) return verified;
  const std::u16string wide = w32::FileNameFromBytes(folder);
  auto* copy = static_cast<PWSTR>(CoTaskMemAlloc((wide.size() + 1) * sizeof(WCHAR)));
  if (copy == nullptr) return E_OUTOFMEMORY;
  wide.copy(copy, wide.size());
  copy[wide.size()] = 0;
  *path = copy;
  return S_OK;
}
