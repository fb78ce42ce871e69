#pragma once
// Watches a set of folders, each with its subtree, on one worker thread, and
// hands every change to a Python callable on the thread that made the object.
#include "python/python_compat.h"
#include <windows.h>

#include <map>
#include <memory>
#include <string>

#include "callback/py_callback_wnd.h"
#include "monitor/cam_thread.h"
#include "monitor/folder_watch.h"
#include "monitor/notice_backlog.h"

namespace device {

class MonitorFolder : public PyCallbackWnd, public CAMThread {
 public:
  // Called with the interpreter lock held; None means no callable.
  explicit MonitorFolder(PyObject* callable);
  ~MonitorFolder() override;

  void Start();
  void Close();
  // False when the folder cannot be watched, or when no worker runs.
  bool AddFolder(const WCHAR* path);
  // False when the folder is not watched, or when no worker runs.
  bool RemoveFolder(const WCHAR* path);

  LRESULT WndProc(UINT message, WPARAM wparam, LPARAM lparam) override;

 protected:
  DWORD ThreadBody() override;
  // Also stops the worker: no thread needs the owner to do that.
  void Detach() override;

 private:
  // Worker side, each giving the answer to its request.
  DWORD AddWatch(const std::u16string& path);
  DWORD RemoveWatch(const std::u16string& path);
  bool AnyReadFinished() const;

  // The set's keys: the path with A to Z lower-cased, nothing else changed.
  static std::u16string WatchKey(const std::u16string& path);

  std::map<std::u16string, std::unique_ptr<FolderWatch>> watch_set_;  // the worker's only
  // Every watch's reads signal this one event, so one wait serves any number of folders.
  HANDLE changes_event_;
  NoticeBacklog backlog_;
};

}  // namespace device
