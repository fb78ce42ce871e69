#pragma once
// The interpreter lock around native work: taken for every touch of a Python
// object, released around long native work.
#include "python/python_compat.h"

namespace device {

// The calling thread holds the interpreter lock: its own thread state is the
// interpreter's current one.
bool HasGil();

// Takes the lock for its life (PyGILState_Ensure), making a thread state for
// a thread that has none; gives it back as it was (PyGILState_Release).
class GilEnsureGuard {
 public:
  GilEnsureGuard() : state_(PyGILState_Ensure()) {}
  ~GilEnsureGuard() { PyGILState_Release(state_); }
  GilEnsureGuard(const GilEnsureGuard&) = delete;
  GilEnsureGuard& operator=(const GilEnsureGuard&) = delete;

 private:
  PyGILState_STATE state_;
};

// Releases the lock for its life when the calling thread holds it
// (PyEval_SaveThread / PyEval_RestoreThread); otherwise does nothing.
class GilReleaseGuard {
 public:
  GilReleaseGuard() : saved_(HasGil() ? PyEval_SaveThread() : nullptr) {}
  ~GilReleaseGuard() {
    if (saved_ != nullptr) PyEval_RestoreThread(saved_);
  }
  GilReleaseGuard(const GilReleaseGuard&) = delete;
  GilReleaseGuard& operator=(const GilReleaseGuard&) = delete;

 private:
  PyThreadState* saved_;
};

}  // namespace device
