#pragma once
// Where the user's and the machine's special folders lie, through the shell's
// folder services looked up at run time. Every answer is a path or empty.
#include <windows.h>

#include <string>

namespace device {

// The folder of any CSIDL; the documents folder when that one cannot be found.
std::u16string GetSystemFolder(INT csidl);
std::u16string GetUserFolder();
std::u16string GetDocumentFolder();
std::u16string GetAppFolder();
std::u16string GetLocalAppDataFolder();
std::u16string GetCommonAppFolder();
std::u16string GetProgramsFolder();
std::u16string GetCommonProgramsFolder();
std::u16string GetStartMenuFolder();
std::u16string GetPictureFolder();
std::u16string GetMusicFolder();
std::u16string GetVideoFolder();
std::u16string GetCommonDocumentFolder();
std::u16string GetSharedPictureFolder();
std::u16string GetSharedMusicFolder();
std::u16string GetSharedVideoFolder();
std::u16string GetWindowsFolder();
// FOLDERID_SampleMusic; empty when it cannot be found (no fallback).
std::u16string GetSampleMusicFolder();

}  // namespace device
