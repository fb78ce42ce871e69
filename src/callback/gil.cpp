#include "callback/gil.h"

namespace device {

bool HasGil() {
  PyThreadState* mine = PyGILState_GetThisThreadState();
  return mine != nullptr && mine == _PyThreadState_Current;
}

}  // namespace device
