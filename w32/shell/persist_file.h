#pragma once
// What the shell's file-backed objects (shell links, internet shortcuts) share
// for IPersistFile.
#include <windows.h>
#include <objidl.h>

#include <string>
#include <string_view>

namespace w32 {

// The file a shell object was loaded from or saved to, and whether the object
// changed since; the object's lock guards it.
struct PersistedFile {
  std::u16string name;
  bool dirty = false;

  // IPersistFile::IsDirty.
  HRESULT IsDirty() const { return dirty ? S_OK : S_FALSE; }
  // IPersistFile::Save: writes `bytes` whole to `file` (null: the current
  // file), which then becomes current and clean when `remember` says so or
  // it was the current file. The new bytes replace the file only once they
  // are all written; on any failure the file is as it was.
  HRESULT Save(LPCOLESTR file, BOOL remember, std::string_view bytes);
  // IPersistFile::GetCurFile: the name in task memory, or the `untitled`
  // pattern with S_FALSE while there is no file.
  HRESULT CurFile(std::u16string_view untitled, LPOLESTR* out) const;
};

}  // namespace w32
