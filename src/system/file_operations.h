#pragma once
// Listing a folder's visible files or subfolders, sending an item to the
// recycle bin, showing an item in the file manager, the process's words.
#include "python/python_compat.h"
#include <windows.h>

namespace device {

// Lists of unicode names in the order the search gives them (never null).
// The interpreter lock is released for the search and taken for each append.
PyObject* ListFile(const WCHAR* pattern);
PyObject* ListFolder(const WCHAR* pattern);

// True when the delete-with-undo operation reported success.
bool RemoveFile(const WCHAR* path);

// True when the file manager was asked to show the item selected.
bool OpenExplorer(const WCHAR* path);

// The command line's words as a list of unicode; null with OSError set when
// the line cannot be split.
PyObject* GetArgvW();

}  // namespace device
