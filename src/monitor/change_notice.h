#pragma once
// One notice for the Python callable: made on the worker thread, posted to the
// hidden window as message WM_USER, delivered and freed on the window's thread.
#include <windows.h>

#include <string>

namespace device {

constexpr UINT kNoticeMessage = 0x400;  // WM_USER; wParam is the ChangeNotice

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
