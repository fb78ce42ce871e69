#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <deque>
#include <iterator>
#include <mutex>

#include "host/host.h"
#include "support/text.h"

namespace w32 {
namespace {

// The debugger-output sink: kept for TakeDebugOutput, appended to W32_DEBUG_LOG.
struct Sink {
  std::mutex lock;
  std::deque<std::u16string> pending;
};

Sink& TheSink() {
  static Sink* sink = new Sink;
  return *sink;
}

// A bound on what is kept when nobody takes it, so a chatty process cannot grow without end.
constexpr size_t kMaxPending = 100000;

void Write(std::u16string text) {
  const DWORD saved = GetLastError();  // the platform call leaves the last error alone
  if (const char* path = std::getenv("W32_DEBUG_LOG"); path != nullptr && *path != 0) {
    if (FILE* file = std::fopen(path, "a")) {
      const std::string utf8 = ToUtf8(text);
      std::fwrite(utf8.data(), 1, utf8.size(), file);
      std::fclose(file);
    }
  }
  Sink& sink = TheSink();
  {
    std::lock_guard<std::mutex> guard(sink.lock);
    if (sink.pending.size() >= kMaxPending) sink.pending.pop_front();
    sink.pending.push_back(std::move(text));
  }
  SetLastError(saved);
}

}  // namespace

std::vector<std::u16string> host::TakeDebugOutput() {
  Sink& sink = TheSink();
  std::lock_guard<std::mutex> guard(sink.lock);
  std::vector<std::u16string> taken(std::make_move_iterator(sink.pending.begin()),
                                    std::make_move_iterator(sink.pending.end()));
  sink.pending.clear();
  return taken;
}

}  // namespace w32

// OutputDebugStringA: the ANSI text (taken as UTF-8) into the debugger-output sink.
void WINAPI OutputDebugStringA(LPCSTR text) {
  if (text == nullptr) return;
  w32::Write(w32::ToUtf16(text));
}

// OutputDebugStringW: the text into the debugger-output sink.
void WINAPI OutputDebugStringW(LPCWSTR text) {
  if (text == nullptr) return;
  w32::Write(std::u16string(text));
}
