#include <windows.h>
#include <shellapi.h>
#include <unistd.h>

#include <string>

#include "kernel/drive_table.h"
#include "shell/trash.h"

// SHFileOperationW: FO_DELETE with FOF_ALLOWUNDO moves each item of the list
// to the freedesktop.org Trash; an item no trash can take stays where it is
// and ends the operation with its error. Paths in drive form go through the
// drive table, relative ones start at the current folder. Other operations,
// and deleting without undo, are not provided (ERROR_CALL_NOT_IMPLEMENTED).
int WINAPI SHFileOperationW(LPSHFILEOPSTRUCTW lpFileOp) {
  if (lpFileOp == nullptr || lpFileOp->pFrom == nullptr) return ERROR_INVALID_PARAMETER;
  lpFileOp->fAnyOperationsAborted = FALSE;
  if (lpFileOp->wFunc != FO_DELETE || (lpFileOp->fFlags & FOF_ALLOWUNDO) == 0) return ERROR_CALL_NOT_IMPLEMENTED;
  if (*lpFileOp->pFrom == 0) return ERROR_INVALID_PARAMETER;
  for (LPCWSTR item = lpFileOp->pFrom; *item != 0; item += std::char_traits<char16_t>::length(item) + 1) {
    std::string path;
    if (!w32::ToNativePath(item, &path)) return ERROR_PATH_NOT_FOUND;
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    if (path.empty() || path[0] != '/') {
      char here[4096];
      if (getcwd(here, sizeof here) == nullptr) return ERROR_PATH_NOT_FOUND;
      path = std::string(here) + (path.empty() ? "" : "/" + path);
    }
    const DWORD error = w32::MoveToTrash(path);
    if (error != ERROR_SUCCESS) return static_cast<int>(error);
  }
  return 0;
}
