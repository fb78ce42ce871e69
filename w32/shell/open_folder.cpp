#include <shlobj.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "shell/file_manager.h"
#include "shell/item_id_list.h"
#include "support/debug_channel.h"

extern char** environ;

namespace w32 {
namespace {

std::string FileUri(const std::string& path) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string uri = "file://";
  for (unsigned char c : path) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       std::string_view("-._~/").find(static_cast<char>(c)) != std::string_view::npos;
    if (plain) {
      uri += static_cast<char>(c);
    } else {
      uri += '%';
      uri += kHex[c >> 4];
      uri += kHex[c & 0xF];
    }
  }
  return uri;
}

// Starts `xdg-open folder` without waiting for it; a thread of its own
// reaps it, so no zombie stays behind.
bool OpenWithDesktop(const std::string& folder) {
  std::string program = "xdg-open";
  std::vector<char*> arguments = {program.data(), const_cast<char*>(folder.c_str()), nullptr};
  pid_t child = 0;
  const int error = ::posix_spawnp(&child, program.c_str(), nullptr, nullptr, arguments.data(), environ);
  if (error != 0) {
    W32_DEBUG(kDebugShell, "SHOpenFolderAndSelectItems: xdg-open %s: %s", folder.c_str(), std::strerror(error));
    return false;
  }
  std::thread([child, folder] {
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (status != 0) W32_DEBUG(kDebugShell, "SHOpenFolderAndSelectItems: xdg-open %s: %s %d", folder.c_str(),
                               WIFEXITED(status) ? "exit status" : "signal",
                               WIFEXITED(status) ? WEXITSTATUS(status) : WTERMSIG(status));
  }).detach();
  return true;
}

}  // namespace
}  // namespace w32

// SHOpenFolderAndSelectItems: with no children, the item of a file system
// list shown selected by the desktop's file manager
// (org.freedesktop.FileManager1.ShowItems on the session bus); without one,
// or when it refuses or does not answer within a second, its folder opened
// through xdg-open. Children of a folder list are not
// provided (E_NOTIMPL); other lists are refused (E_INVALIDARG).
HRESULT WINAPI SHOpenFolderAndSelectItems(PCIDLIST_ABSOLUTE pidlFolder, UINT cidl, PCUITEMID_CHILD_ARRAY, DWORD) {
  if (cidl != 0) return E_NOTIMPL;
  const std::optional<std::string> path = w32::PathOfList(pidlFolder);
  if (!path) return E_INVALIDARG;
  if (w32::ShowItemsInFileManager({w32::FileUri(*path)})) return S_OK;
  const size_t slash = path->find_last_of('/');
  const std::string folder = slash == 0 || slash == std::string::npos ? "/" : path->substr(0, slash);
  return w32::OpenWithDesktop(folder) ? S_OK : E_FAIL;
}
