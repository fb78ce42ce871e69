// Tracing: the switch read at load, the two buffers and what reaches the debugger output.
#include <gtest/gtest.h>

#include <string>

#include "common/trace.h"
#include "host/host.h"

namespace {

// Run with W32_REGISTRY naming a registry whose "trace" is 1.
TEST(TraceOn, WritesTheTextThenANewline) {
  ASSERT_TRUE(device::TraceEnabled());
  w32::host::TakeDebugOutput();
  device::TraceA("drive %c: %d", 'E', 4);
  device::TraceW(u"disc DVD\u00e9 7");
  const auto lines = w32::host::TakeDebugOutput();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], u"drive E: 4");
  EXPECT_EQ(lines[1], u"\n");
  EXPECT_EQ(lines[2], u"disc DVD\u00e9 7");
  EXPECT_EQ(lines[3], u"\n");
}

TEST(TraceOn, LongTextIsCutToWhatTheBufferHolds) {
  w32::host::TakeDebugOutput();
  const std::string narrow(5000, 'n');
  const std::u16string wide(5000, u'w');
  device::TraceA("%s", narrow.c_str());
  device::TraceW(wide);
  const auto lines = w32::host::TakeDebugOutput();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0].size(), device::kNarrowTraceBuffer - 1);
  EXPECT_EQ(lines[2].size(), device::kWideTraceBuffer - 1);
}

// Run without a registry: the switch stays off and nothing is written.
TEST(TraceOff, WritesNothing) {
  ASSERT_FALSE(device::TraceEnabled());
  w32::host::TakeDebugOutput();
  device::TraceA("%s", "quiet");
  device::TraceW(u"quiet");
  EXPECT_TRUE(w32::host::TakeDebugOutput().empty());
}

}  // namespace
