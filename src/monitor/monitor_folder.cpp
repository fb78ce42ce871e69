#include "monitor/monitor_folder.h"

#include "monitor/change_notice.h"
#include "monitor/worker_request.h"

namespace device {

MonitorFolder::MonitorFolder(PyObject* callable) : changes_event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
  SetCallback(callable);
}

MonitorFolder::~MonitorFolder() {
  Close();  // the worker drops every watch as it ends
  CloseHandle(changes_event_);
}

void MonitorFolder::Detach() {
  PyCallbackWnd::Detach();
  Close();
}

void MonitorFolder::Start() { StartThread(); }

void MonitorFolder::Close() {
  WorkerRequest request{WorkerRequest::kExit, u""};
  AskWorker(reinterpret_cast<UINT_PTR>(&request));
  JoinThread();
}

bool MonitorFolder::AddFolder(const WCHAR* path) {
  WorkerRequest request{WorkerRequest::kAdd, path};
  const DWORD reply = AskWorker(reinterpret_cast<UINT_PTR>(&request));
  return reply != 0 && reply != kNoWorker;
}

bool MonitorFolder::RemoveFolder(const WCHAR* path) {
  WorkerRequest request{WorkerRequest::kRemove, path};
  const DWORD reply = AskWorker(reinterpret_cast<UINT_PTR>(&request));
  return reply != 0 && reply != kNoWorker;
}

LRESULT MonitorFolder::WndProc(UINT message, WPARAM wparam, LPARAM lparam) {
  if (message != kNoticeMessage) return PyCallbackWnd::WndProc(message, wparam, lparam);
  std::optional<ChangeNotice> notice = backlog_.Take(window());
  if (notice) {
    // The callable may destroy this object: nothing of it is touched after the call.
    Call("uuuu", notice->folder_path.c_str(), notice->kind, notice->name.c_str(), notice->second_name.c_str());
  }
  return 0;
}

// The worker loop. Every pass services each watch in key order, then sleeps
// in one wait on the request event and the shared completion event. Arming a
// read resets that event, so a read that finished during the pass is looked
// for before sleeping; one that finishes later signals it again.
DWORD MonitorFolder::ThreadBody() {
  for (;;) {
    if (!PeekRequest()) {
      ResetEvent(changes_event_);
      for (auto& entry : watch_set_) entry.second->ServiceWatch();
      if (AnyReadFinished()) continue;
      const HANDLE handles[] = {request_event(), changes_event_};
      WaitForMultipleObjects(2, handles, FALSE, INFINITE);
      continue;
    }
    const auto* request = reinterpret_cast<const WorkerRequest*>(TakeRequest());
    switch (request->code) {
      case WorkerRequest::kExit:
        watch_set_.clear();
        Answer(0);
        return 0;
      case WorkerRequest::kAdd:
        Answer(AddWatch(request->path));
        break;
      case WorkerRequest::kRemove:
        Answer(RemoveWatch(request->path));
        break;
      default:
        break;  // never sent
    }
  }
}

DWORD MonitorFolder::AddWatch(const std::u16string& path) {
  const std::u16string key = WatchKey(path);
  if (watch_set_.count(key) != 0) return 1;  // the first call's path text stays
  auto watch = std::make_unique<FolderWatch>(window(), changes_event_, backlog_);
  if (!watch->OpenWatch(path)) return 0;
  watch_set_.emplace(key, std::move(watch));
  return 1;
}

DWORD MonitorFolder::RemoveWatch(const std::u16string& path) {
  auto found = watch_set_.find(WatchKey(path));
  if (found == watch_set_.end()) return 0;
  watch_set_.erase(found);  // the watch cancels its read as it ends
  return 1;
}

bool MonitorFolder::AnyReadFinished() const {
  for (const auto& entry : watch_set_) {
    if (entry.second->ReadFinished()) return true;
  }
  return false;
}

std::u16string MonitorFolder::WatchKey(const std::u16string& path) {
  std::u16string key = path;
  for (char16_t& c : key) {
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  }
  return key;
}

}  // namespace device
