#include "python/gil.h"

namespace device {

bool HasGil() {
  PyThreadState* mine = PyGILState_GetThisThreadState();
  return mine != nullptr && mine == pycompat::CurrentThreadState();
}

}  // namespace device
