#pragma once
// Tells whether another instance of the application runs, through a named
// mutex whose whole name the application gives.
#include <windows.h>

namespace device {

class RunningInstance {
 public:
  explicit RunningInstance(const WCHAR* name);
  virtual ~RunningInstance();
  RunningInstance(const RunningInstance&) = delete;
  RunningInstance& operator=(const RunningInstance&) = delete;

  // A mutex of that name existed and the creation opened it.
  bool IsAnotherInstanceRunning() const { return creation_status_ == ERROR_ALREADY_EXISTS; }
  // A mutex of that name exists but belongs to another user.
  bool IsAnotherInstanceRunningOnOtherSession() const { return creation_status_ == ERROR_ACCESS_DENIED; }
  void Close();

 private:
  DWORD creation_status_;
  HANDLE mutex_;
};

}  // namespace device
