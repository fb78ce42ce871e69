#pragma once
// Reasons for failures on standard error, by channel: W32_DEBUG names the
// channels ("trash,link" or "all"), and each failing platform call on one of
// them writes one line, "w32:CHANNEL: what failed: the Linux cause". The
// debugger output is never touched. Off, a check is one load and one test of
// a cached mask: the mask starts with every bit set, so the first check on any
// channel takes the slow path once, which reads W32_DEBUG and stores the real
// mask.
#include <atomic>
#include <cstdint>

namespace w32 {

enum DebugChannel : uint32_t {
  kDebugTrash = 1u << 0,
  kDebugLink = 1u << 1,
  kDebugDrive = 1u << 2,
  kDebugCom = 1u << 3,
  kDebugModule = 1u << 4,
  kDebugWatch = 1u << 5,
  kDebugBus = 1u << 6,
  kDebugShell = 1u << 7,
};

extern std::atomic<uint32_t> debug_channels;

// Writes "w32:CHANNEL: " and the formatted text as one line to standard
// error when W32_DEBUG names the channel; errno is kept.
void DebugLine(DebugChannel channel, const char* format, ...) __attribute__((format(printf, 2, 3)));

}  // namespace w32

// The arguments are evaluated only while the channel may be on.
#define W32_DEBUG(channel, ...)                                                                      \
  do {                                                                                               \
    if (__builtin_expect((w32::debug_channels.load(std::memory_order_relaxed) & (channel)) != 0, 0)) \
      w32::DebugLine((channel), __VA_ARGS__);                                                        \
  } while (0)
