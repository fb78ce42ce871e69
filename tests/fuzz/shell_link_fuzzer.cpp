// The bytes lie in a heap block of exactly their size, so a read past the end
// is caught. A link that reads must write and read back to the same strings.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "shell/shell_link_format.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::unique_ptr<uint8_t[]> bytes(new uint8_t[size]);
  if (size != 0) std::memcpy(bytes.get(), data, size);
  const std::optional<w32::ShellLinkData> link = w32::ReadShellLink(bytes.get(), size);
  if (!link) return 0;
  const std::vector<uint8_t> written = w32::WriteShellLink(*link);
  const std::optional<w32::ShellLinkData> again = w32::ReadShellLink(written.data(), written.size());
  if (!again || again->description != link->description || again->raw_target != link->raw_target.substr(0, 259)) {
    std::abort();
  }
  return 0;
}
