#include "support/debug_channel.h"

#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

namespace w32 {
namespace {

struct ChannelName {
  DebugChannel channel;
  const char* name;
};

constexpr ChannelName kChannels[] = {
    {kDebugTrash, "trash"}, {kDebugLink, "link"},   {kDebugDrive, "drive"}, {kDebugCom, "com"},
    {kDebugModule, "module"}, {kDebugWatch, "watch"}, {kDebugBus, "bus"},     {kDebugShell, "shell"},
};

// The channels W32_DEBUG names, comma-separated; unknown names are ignored.
uint32_t ParseChannels(const char* text) {
  uint32_t mask = 0;
  std::string_view rest = text != nullptr ? text : "";
  while (!rest.empty()) {
    const size_t comma = rest.find(',');
    const std::string_view word = rest.substr(0, comma);
    rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
    for (const ChannelName& entry : kChannels) {
      if (word == "all" || word == entry.name) mask |= entry.channel;
    }
  }
  return mask;
}

// W32_DEBUG read once, by the first thread that asks.
uint32_t Channels() {
  static const uint32_t mask = [] {
    const uint32_t parsed = ParseChannels(std::getenv("W32_DEBUG"));
    debug_channels.store(parsed, std::memory_order_relaxed);
    return parsed;
  }();
  return mask;
}

}  // namespace

std::atomic<uint32_t> debug_channels{~0u};

void DebugLine(DebugChannel channel, const char* format, ...) {
  if ((Channels() & channel) == 0) return;
  const int saved_errno = errno;
  std::string line = "w32:";
  for (const ChannelName& entry : kChannels) {
    if (entry.channel == channel) line += entry.name;
  }
  line += ": ";
  va_list arguments;
  va_start(arguments, format);
  va_list again;
  va_copy(again, arguments);
  const int length = std::vsnprintf(nullptr, 0, format, arguments);
  va_end(arguments);
  if (length > 0) {
    const size_t start = line.size();
    line.resize(start + static_cast<size_t>(length) + 1);
    std::vsnprintf(&line[start], static_cast<size_t>(length) + 1, format, again);
    line.pop_back();
  }
  va_end(again);
  line += '\n';
  // One write per line, so lines of several threads do not mix.
  for (size_t done = 0; done < line.size();) {
    const ssize_t n = ::write(STDERR_FILENO, line.data() + done, line.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  errno = saved_errno;
}

}  // namespace w32
