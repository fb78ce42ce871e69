#include "system/file_operations.h"

#include <shellapi.h>
#include <shlobj.h>

#include <string>

#include "python/gil.h"
#include "common/trace.h"

namespace device {
namespace {

constexpr DWORD kHiddenOrFolder = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN;
constexpr FILEOP_FLAGS kDeleteToBinFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_ALLOWUNDO | FOF_NOERRORUI;

// One routine for both listings; `wanted` is the attribute bits of 0x12 an
// entry must show to be listed.
PyObject* ListEntries(const WCHAR* pattern, DWORD wanted) {
  PyObject* names = PyList_New(0);
  if (names == nullptr) return nullptr;
  GilReleaseGuard released;
  WIN32_FIND_DATAW entry;
  HANDLE search = FindFirstFileExW(pattern, FindExInfoStandard, &entry, FindExSearchNameMatch, nullptr, 0);
  if (search == INVALID_HANDLE_VALUE) {
    TraceA("Invalid File Handle. GetLastError reports %d\n", static_cast<int>(GetLastError()));
    return names;
  }
  do {
    if ((entry.dwFileAttributes & kHiddenOrFolder) != wanted) continue;
    GilEnsureGuard locked;
    PyObject* name = pycompat::UnicodeFromUtf16(entry.cFileName);
    if (name == nullptr) {
      PyErr_Clear();  // a name that cannot be decoded is left out
      continue;
    }
    PyList_Append(names, name);
    Py_DECREF(name);
  } while (FindNextFileW(search, &entry));
  const DWORD error = GetLastError();
  FindClose(search);
  if (error != ERROR_NO_MORE_FILES) TraceA("FindNextFile error. Error is %u.\n", static_cast<unsigned>(error));
  return names;
}

// Frees a CommandLineToArgvW array however the list-making ends.
struct LocalBlock {
  HLOCAL block;
  ~LocalBlock() { LocalFree(block); }
};

}  // namespace

PyObject* ListFile(const WCHAR* pattern) { return ListEntries(pattern, 0); }

PyObject* ListFolder(const WCHAR* pattern) { return ListEntries(pattern, FILE_ATTRIBUTE_DIRECTORY); }

bool RemoveFile(const WCHAR* path) {
  std::u16string list(path);
  list += u'\0';  // with the string's own terminator: the two NULs of a one-path list
  SHFILEOPSTRUCTW operation{};
  operation.wFunc = FO_DELETE;
  operation.pFrom = list.c_str();
  operation.fFlags = kDeleteToBinFlags;
  return SHFileOperationW(&operation) == 0;
}

bool OpenExplorer(const WCHAR* path) {
  PIDLIST_ABSOLUTE item = nullptr;
  SFGAOF attributes = 0;
  if (FAILED(SHParseDisplayName(path, nullptr, &item, 0, &attributes))) return false;
  const HRESULT shown = SHOpenFolderAndSelectItems(item, 0, nullptr, 0);
  ILFree(item);
  return SUCCEEDED(shown);
}

PyObject* GetArgvW() {
  int count = 0;
  LPWSTR* words = CommandLineToArgvW(GetCommandLineW(), &count);
  if (words == nullptr) {
    const DWORD error = GetLastError();
    TraceA("failed to CommandLineToArgvW");
    PyObject* arguments = Py_BuildValue("(ks)", static_cast<unsigned long>(error), "The command line cannot be split");
    if (arguments != nullptr) PyErr_SetObject(PyExc_OSError, arguments);
    Py_XDECREF(arguments);
    return nullptr;
  }
  LocalBlock owned{words};
  PyObject* list = PyList_New(0);
  if (list == nullptr) {
    TraceA("failed to create result list");
    return nullptr;
  }
  for (int i = 0; i < count; ++i) {
    PyObject* word = pycompat::UnicodeFromUtf16(words[i]);
    if (word == nullptr || PyList_Append(list, word) != 0) {
      Py_XDECREF(word);
      Py_DECREF(list);
      return nullptr;
    }
    Py_DECREF(word);
  }
  return list;
}

}  // namespace device
