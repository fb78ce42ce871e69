#pragma once
// One notice for the Python callable: made on the worker thread, kept in the
// object's backlog and announced to the hidden window by a message WM_USER,
// delivered on the window's thread.
#include <windows.h>

#include <string>

namespace device {

constexpr UINT kNoticeMessage = 0x400;  // WM_USER: deliver the oldest notice of the backlog

inline constexpr WCHAR kNoticeAdd[] = u"Add";
inline constexpr WCHAR kNoticeRemove[] = u"Remove";
inline constexpr WCHAR kNoticeModify[] = u"Modify";
inline constexpr WCHAR kNoticeRename[] = u"Rename";
inline constexpr WCHAR kNoticeMonitorBreak[] = u"MonitorBreak";

struct ChangeNotice {
  const WCHAR* kind;  // one of the kind texts above; never freed
  std::u16string folder_path;
  std::u16string name;
  std::u16string second_name;  // empty unless the kind is "Rename"
};

}  // namespace device
