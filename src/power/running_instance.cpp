#include "power/running_instance.h"

namespace device {

RunningInstance::RunningInstance(const WCHAR* name)
    : creation_status_(ERROR_SUCCESS), mutex_(CreateMutexW(nullptr, FALSE, name)) {
  creation_status_ = GetLastError();  // the creation's own answer, read before any other call
}

RunningInstance::~RunningInstance() { Close(); }

void RunningInstance::Close() {
  if (mutex_ == nullptr) return;
  CloseHandle(mutex_);
  mutex_ = nullptr;
}

}  // namespace device
