#pragma once
// What a host application gets from the system besides the platform API:
// captured debugger output, the message loop of its threads, broadcasts, and
// what was asked of power management and input.
#include <windows.h>

#include <string>
#include <vector>

namespace w32::host {

// The debugger output written since the last call, one entry per write.
std::vector<std::u16string> TakeDebugOutput();

enum class WaitResult { kReady, kTimeout, kInterrupted };

// Blocks until the calling thread's queue holds a message or a timer is due,
// for at most timeout_ms (INFINITE: no limit). A signal delivered to the
// thread ends the wait early (kInterrupted), so the host can run its handlers.
WaitResult WaitForMessages(DWORD timeout_ms);

struct Dispatched {
  size_t count = 0;  // posted messages and timer ticks dispatched
  bool quit = false;
  int quit_code = 0;
};

// Runs the messages other threads sent, then dispatches the posted messages
// and timer ticks the calling thread's queue holds now (not those that arrive
// meanwhile). WM_QUIT ends the run; with keep_quit it stays queued.
Dispatched DispatchQueued(bool keep_quit);

// A descriptor that is readable while the calling thread's queue holds
// messages or one of its timers is due; owned by the queue. -1 when the
// system could not make one.
int QueueFd();

// Sends the message, with a null lparam, to every top-level window, each
// through its own thread; a window whose thread has not taken it within a few
// seconds is skipped, and gets it when that thread next dispatches.
// The answers, in window creation order.
std::vector<LRESULT> Broadcast(UINT message, WPARAM wparam);

// The same with a record as lparam: each window's thread gets its own copy,
// which lives until that thread has run the message, however late.
std::vector<LRESULT> BroadcastRecord(UINT message, WPARAM wparam, const void* record, size_t size);

// What SetThreadExecutionState holds: the continuous requirements of every
// thread together (ES_SYSTEM_REQUIRED, ES_DISPLAY_REQUIRED, ES_AWAYMODE_REQUIRED).
EXECUTION_STATE HeldExecutionState();

// The records SendInput was given since the last call.
std::vector<INPUT> TakeSentInput();

}  // namespace w32::host
