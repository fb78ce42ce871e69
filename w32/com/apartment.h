#pragma once
// The calling thread's COM state, for the other COM functions of w32.

namespace w32::com {

// True when the calling thread may use COM: it initialised COM itself, or some
// thread of the process holds the multithreaded apartment, which threads that
// initialised nothing belong to implicitly.
bool ThreadHasCom();

}  // namespace w32::com
