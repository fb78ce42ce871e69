#pragma once
// What the shell's file-backed objects (shell links, internet shortcuts) share
// for IPersistFile: writing the file whole, and naming it.
#include <windows.h>
#include <objidl.h>

#include <string>
#include <string_view>

namespace w32 {

// Creates or replaces the file with `bytes`; a file left half written is
// removed. False with the platform's error in `*error`.
bool WriteWholeFile(const std::string& path, std::string_view bytes, DWORD* error);

// IPersistFile::GetCurFile: the file's name in task memory, or the default
// name pattern with S_FALSE while the object has no file.
HRESULT CurFileName(const std::u16string& file, std::u16string_view untitled, LPOLESTR* name);

}  // namespace w32
